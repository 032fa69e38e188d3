// A small line-based description of a movie, compiled to a SWF file by the
// writer. The syntax is documented in docs/swfwriter.md.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace refplayer::swfwriter {

// Reads a file named in the description (video frames, raw tags); nullopt if
// it cannot be read. Without a reader, descriptions that name files fail.
using FileReader = std::function<std::optional<std::vector<uint8_t>>(const std::string& path)>;

struct TextCompileResult {
    bool ok = false;
    std::vector<uint8_t> swf;
    std::string error;  // "line N: what is wrong"
};

TextCompileResult compileSwfText(std::string_view text, const FileReader& readFile = {}) noexcept;

}  // namespace refplayer::swfwriter
