// Selection: which text field has the keyboard focus (read and moved through
// the host), its selection and caret, and onSetFocus for Selection's
// listeners. Indexes count characters of the field's shown text.
#include <cmath>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

// Characters before byte offset `at` of `text`.
double charIndex(const std::string& text, size_t at) {
    return static_cast<double>(decodeUtf8(std::string_view(text).substr(0, std::min(at, text.size()))).size());
}

// The field's dot target path, as getFocus answers it.
std::string fieldPath(State& s, TextField& f) {
    Clip* parent = f.parent();
    return parent ? s.targetPath(*parent) + "." + f.name() : f.name();
}

Value getFocus(State& s, NativeCall&) {
    TextField* f = s.host.focusedTextField();
    return f ? s.str(fieldPath(s, *f)) : Value::null();
}

// setFocus(field or its path); null takes the focus away. Answers whether the
// focus went there.
Value setFocus(State& s, NativeCall& c) {
    const Value& target = c.arg(0);
    if (target.isNullish()) return Value::boolean(s.host.setFocus(nullptr));
    Value resolved = target;
    if (target.isString()) {
        Frame* f = s.frame();
        resolved = f ? s.resolvePath(*f, target.stringValue().view()) : Value();
        // A dotted path ends in the field's name: resolve its clip, then the field.
        if (!textFieldOf(resolved)) {
            const std::string path = s.toString(target);
            const size_t dot = path.find_last_of("./");
            if (f && dot != std::string::npos) {
                const Value parent = dot == 0 ? s.resolvePath(*f, "/") : s.resolvePath(*f, path.substr(0, dot));
                if (Clip* clip = s.resolveClip(parent))
                    if (TextField* field = clip->textFieldByName(path.substr(dot + 1), s.caseSensitive()))
                        resolved = Value::object(field->scriptObject());
            }
        }
    }
    TextField* field = textFieldOf(resolved);
    if (!field) return Value::boolean(false);
    return Value::boolean(s.host.setFocus(field));
}

Value getBeginIndex(State& s, NativeCall&) {
    TextField* f = s.host.focusedTextField();
    return Value::number(f ? charIndex(f->contents(false), f->selectionBegin()) : -1);
}
Value getEndIndex(State& s, NativeCall&) {
    TextField* f = s.host.focusedTextField();
    return Value::number(f ? charIndex(f->contents(false), f->selectionEnd()) : -1);
}
Value getCaretIndex(State& s, NativeCall&) {
    TextField* f = s.host.focusedTextField();
    return Value::number(f ? charIndex(f->contents(false), f->selectionEnd()) : -1);
}

Value setSelection(State& s, NativeCall& c) {
    const double begin = s.toNumber(c.arg(0)), end = s.toNumber(c.arg(1));
    if (!std::isfinite(begin) || !std::isfinite(end)) return {};
    if (TextField* f = s.host.focusedTextField()) {
        const std::string shown = f->contents(false);
        f->setSelection(utf8ByteOffset(shown, begin), utf8ByteOffset(shown, end));
    }
    return {};
}

}  // namespace

void installSelection(State& s) {
    Object* selection = globalObject(s, "Selection");
    keep(s, "Selection", selection);
    makeBroadcaster(s, selection);
    method(s, selection, "getFocus", getFocus);
    method(s, selection, "setFocus", setFocus);
    method(s, selection, "getBeginIndex", getBeginIndex);
    method(s, selection, "getEndIndex", getEndIndex);
    method(s, selection, "getCaretIndex", getCaretIndex);
    method(s, selection, "setSelection", setSelection);
}

void selectionFocusChanged(State& s, const Value& oldFocus, const Value& newFocus) {
    if (Object* selection = kept(s, "Selection")) {
        const Value args[] = {oldFocus, newFocus};
        broadcast(s, selection, "onSetFocus", args);
    }
}

}  // namespace refplayer::avm1
