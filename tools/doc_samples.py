#!/usr/bin/env python3
"""Turns the C++ samples of the documentation into sources that must compile.

    doc_samples.py <out_dir> <file.md>...

Every ```cpp block is taken. A block with an #include is a whole program or
unit and becomes a source of its own (<doc>_<n>.cpp). Any other block is a
fragment: it becomes the body of a member function of a form class derived
from TSampleForm (tests/docs/doc_samples_support.h), where `this` is that
form, `form` the same form and `player` / `Player` a TkvFlashPlayer on it. A fragment's block
may start with a line `// sample: <declarations>` naming more it needs; the
declarations are put before the function.

Writes only files whose text changed and prints the sources, one a line.
Exits 1 when a document has a ```cpp block that is not closed.
"""
import os
import re
import sys


def blocks(text, path):
    found, lines, current, start = [], text.split("\n"), None, 0
    for number, line in enumerate(lines, 1):
        stripped = line.strip()
        if current is None and stripped == "```cpp":
            current, start = [], number
        elif current is not None and stripped == "```":
            found.append((start, "\n".join(current)))
            current = None
        elif current is not None:
            current.append(line)
    if current is not None:
        raise SystemExit(f"{path}:{start}: a ```cpp block is not closed")
    return found


def write(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main():
    out, docs = sys.argv[1], sys.argv[2:]
    os.makedirs(out, exist_ok=True)
    sources = []
    for doc in sorted(docs):
        with open(doc, encoding="utf-8") as f:
            text = f.read()
        stem = re.sub(r"[^A-Za-z0-9]", "_", os.path.splitext(os.path.basename(doc))[0])
        fragments = []
        for start, code in blocks(text, doc):
            origin = f'#line {start + 1} "{doc}"\n'
            if re.search(r"^\s*#include", code, re.M):
                name = os.path.join(out, f"{stem}_{start}.cpp")
                write(name, f"// Generated from {doc} (line {start}); edit the document.\n{origin}{code}\n")
                sources.append(name)
            else:
                fragments.append((start, code, origin))
        if fragments:
            parts = [f"// Generated from the fragments of {doc}; edit the document.\n",
                     '#include "doc_samples_support.h"\n\n', "namespace doc_samples {\n\n"]
            for start, code, origin in fragments:
                extra = re.match(r"\s*// sample: (.*)", code)
                if extra:
                    parts.append(extra.group(1) + "\n")
                cls = f"Sample_{stem}_{start}"
                parts.append(f"struct {cls} : TSampleForm {{\n"
                             "    using TSampleForm::TSampleForm;\n"
                             "    void Run();\n"
                             "};\n"
                             f"void {cls}::Run()\n{{\n"
                             "    [[maybe_unused]] TSampleForm* form = this;\n"
                             "    [[maybe_unused]] TkvFlashPlayer* player = Player;\n"
                             f"    {{\n{origin}{code}\n    }}\n}}\n\n")
            parts.append("}  // namespace doc_samples\n")
            name = os.path.join(out, f"{stem}_fragments.cpp")
            write(name, "".join(parts))
            sources.append(name)
    print("\n".join(sources))


if __name__ == "__main__":
    main()
