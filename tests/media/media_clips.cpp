#include "media_clips.h"

#include <algorithm>

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

YuvFrames yuvFrames(std::string_view name, int width, int height) {
    return YuvFrames{clip(name), width, height};
}

const uint8_t* YuvFrames::plane(size_t frame, int index) const {
    const size_t luma = size_t(width) * height, chroma = size_t(chromaWidth()) * chromaHeight();
    return data.data() + frame * frameSize() + (index == 0 ? 0 : luma + (index - 1) * chroma);
}

std::array<double, 3> YuvFrames::rgb(size_t frame, int x, int y) const {
    const size_t c = size_t(y / 2) * chromaWidth() + size_t(x / 2);
    const double l = 1.164383 * (plane(frame, 0)[size_t(y) * width + x] - 16), u = plane(frame, 1)[c] - 128.0,
                 v = plane(frame, 2)[c] - 128.0;
    std::array<double, 3> out = {l + 1.596027 * v, l - 0.391762 * u - 0.812968 * v, l + 2.017232 * u};
    for (double& e : out)
        e = std::clamp(e, 0.0, 255.0);
    return out;
}

}  // namespace media_clips
