#include "media_clips.h"

#include <cstddef>

namespace media_clips {
namespace {
struct ClipFile {
    const char* name;
    const unsigned char* data;
    size_t size;
};
#include "media_clips.inc"
}  // namespace

std::span<const uint8_t> clip(std::string_view name) {
    for (const ClipFile& f : kClipFiles)
        if (name == f.name)
            return {f.data, f.size};
    return {};
}

}  // namespace media_clips
