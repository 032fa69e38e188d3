// swfwrite: compiles a text description of a movie into a SWF file.
//   swfwrite <description.txt> <output.swf>
// Files the description names are found relative to the description.
#include "swfwriter/swf_text.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

std::optional<std::vector<uint8_t>> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: swfwrite <description.txt> <output.swf>\n");
        return 2;
    }
    try {
        const std::filesystem::path input = argv[1];
        const auto text = readAll(input);
        if (!text) {
            std::fprintf(stderr, "swfwrite: cannot read %s\n", argv[1]);
            return 1;
        }
        const std::filesystem::path base = input.parent_path();
        const auto result = refplayer::swfwriter::compileSwfText(
            std::string_view(reinterpret_cast<const char*>(text->data()), text->size()),
            [&](const std::string& name) { return readAll(base / std::filesystem::u8path(name)); });
        if (!result.ok) {
            std::fprintf(stderr, "%s: %s\n", argv[1], result.error.c_str());
            return 1;
        }
        // Write beside the target, then rename, so a failed write leaves no half file.
        const std::filesystem::path output = argv[2];
        std::filesystem::path temp = output;
        temp += ".tmp";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(result.swf.data()), static_cast<std::streamsize>(result.swf.size()));
            if (!out) {
                std::fprintf(stderr, "swfwrite: cannot write %s\n", argv[2]);
                std::error_code ec;
                std::filesystem::remove(temp, ec);
                return 1;
            }
        }
        std::filesystem::rename(temp, output);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "swfwrite: %s\n", e.what());
        return 1;
    }
}
