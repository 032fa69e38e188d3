// Sorenson Spark (FLV/SWF video codec 2): a reduced H.263 baseline. Every
// picture starts with its own short header (no GOB headers), I-frames and
// P-frames with half-pel motion, a deblocking hint, and two escape-code
// formats (picture format version 0 and 1).
#pragma once

#include "media/screen_video.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace refplayer::media {

// Planar 4:2:0 samples, rows without padding; the chroma planes are half the
// luma size, rounded up.
struct YuvPlanes {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y{}, u{}, v{};
    int chromaWidth() const { return (width + 1) / 2; }
    int chromaHeight() const { return (height + 1) / 2; }
    bool empty() const { return y.empty(); }
};

// What a picture header says, for callers that vet a packet before decoding it.
struct SorensonPictureInfo {
    int version = 0;          // 0 or 1: how escaped coefficients are written
    int width = 0, height = 0;
    enum class Type : uint8_t { Intra, Inter, DisposableInter } type = Type::Intra;
    bool deblocking = false;  // the encoder asks for the deblocking filter
    int quantizer = 0;        // 1..31
};

// Reads the picture header at the start of `packet`; false (with a reason) when
// it is damaged or describes something the codec cannot carry.
bool readSorensonPictureHeader(std::span<const uint8_t> packet, SorensonPictureInfo& info, std::string& error);

class SorensonDecoder {
public:
    // Decodes one packet (the codec data behind an FLV video tag's header
    // byte, or a SWF VideoFrame's data). A damaged packet stops there and
    // leaves every picture as it was; an inter frame needs a previous picture
    // of its size. `maxPixels` refuses larger pictures before any allocation.
    bool decode(std::span<const uint8_t> packet, std::string& error, size_t maxPixels = size_t(4095) * 4095);

    // The picture as decoded, which later inter frames predict from.
    const YuvPlanes& reconstructed() const { return reference_; }
    // The picture as shown: the reconstructed one, deblocked when the packet
    // asked for it. The filter smooths the display only, so predictions stay
    // those of the encoder.
    const YuvPlanes& shown() const { return shown_; }
    const VideoImage& image() const { return image_; }
    bool hasImage() const { return !image_.pixels.empty(); }
    const SorensonPictureInfo& lastHeader() const { return header_; }
    void reset();

    // Decoded planes padded to whole macroblocks (luma 16 x 16, chroma 8 x 8).
    struct Padded {
        int width = 0, height = 0;  // the picture's own size
        int mbCols = 0, mbRows = 0;
        std::vector<uint8_t> y{}, u{}, v{};
    };

private:
    Padded previous_;
    YuvPlanes reference_, shown_;
    VideoImage image_;
    SorensonPictureInfo header_;
};

// Filters the block edges of `planes` as the deblocking flag asks: across each
// 8x8 block boundary with a strength from the quantizer of the macroblock
// below or right of it (`quantizers`, one per 16x16 macroblock, row-major).
// Edges between two macroblocks that carried no data (`coded` false) are left.
void deblockPlanes(YuvPlanes& planes, std::span<const uint8_t> quantizers, std::span<const uint8_t> coded);

// Converts 4:2:0 samples (studio range, BT.601) to 0xFFRRGGBB pixels.
VideoImage yuvToImage(const YuvPlanes& planes);

}  // namespace refplayer::media
