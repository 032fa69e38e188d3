// Feeds arbitrary bytes to the Sorenson Spark decoder as a run of packets,
// each behind a 16-bit big-endian length (the last takes what is left), all
// through one decoder so inter frames meet the pictures before them. A
// decoded picture must be whole; a refused packet must change nothing.
#include "media/sorenson_video.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace refplayer::media;
    SorensonDecoder decoder;
    std::string error;
    size_t at = 0;
    while (at < size) {
        size_t n = size - at;
        if (n >= 2) {
            const size_t declared = size_t(data[at]) << 8 | data[at + 1];
            at += 2;
            n = std::min(declared, size - at);
        }
        const std::span<const uint8_t> packet(data + at, n);
        at += n;
        const VideoImage before = decoder.image();
        // A small cap keeps each run quick; the size check precedes any allocation.
        if (decoder.decode(packet, error, 256 * 256)) {
            const YuvPlanes& p = decoder.reconstructed();
            const VideoImage& image = decoder.image();
            if (image.pixels.size() != size_t(image.width) * image.height || image.width != p.width ||
                p.y.size() != size_t(p.width) * p.height ||
                p.u.size() != size_t(p.chromaWidth()) * p.chromaHeight() || p.v.size() != p.u.size() ||
                decoder.shown().y.size() != p.y.size())
                __builtin_trap();
        } else if (!(decoder.image() == before) || error.empty()) {
            __builtin_trap();
        }
    }
    return 0;
}
