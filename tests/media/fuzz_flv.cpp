// Feeds arbitrary bytes through everything that reads FLV data: the tag
// stream, script data, tag headers and the video decoders. Input that
// does not start with "FLV" goes straight to the decoder and AMF0 reader, so
// they are reached without a valid file around them.
#include "media/flv.h"
#include "media/screen_video.h"
#include "media/video_decoder.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace refplayer::media;
    const std::span<const uint8_t> in(data, size);
    std::string error;
    if (size < 3 || std::memcmp(data, "FLV", 3) != 0) {
        ScreenVideoDecoder d;
        // Twice: the second pass sees a previous frame, so empty blocks are legal.
        if (d.decode(in, false, error))
            d.decode(in, false, error);
        size_t offset = 0;
        AmfValue v;
        decodeAmf0(in, offset, v, error);
        return 0;
    }
    FlvReader reader(in);
    std::unique_ptr<VideoDecoder> decoder;
    uint8_t decoderCodec = 0;
    FlvTag tag;
    while (reader.next(tag) == FlvReader::Result::Tag) {
        switch (tag.type) {
        case FlvTagType::Video: {
            VideoTagHeader v;
            if (parseVideoTagHeader(tag.body, v, error) && decodableVideoCodec(v.codecId)) {
                if (!decoder || v.codecId != decoderCodec) {
                    decoder = makeVideoDecoder(v.codecId, 512 * 512);
                    decoderCodec = v.codecId;
                }
                if (decoder->decode(v.payload, v.frameType == video_frame::Key, error) &&
                    decoder->image().pixels.size() != size_t(decoder->image().width) * decoder->image().height)
                    __builtin_trap();
            }
            break;
        }
        case FlvTagType::Audio: {
            AudioTagHeader a;
            parseAudioTagHeader(tag.body, a, error);
            break;
        }
        case FlvTagType::Script: {
            std::string name;
            AmfValue value;
            if (parseScriptTag(tag.body, name, value, error))
                (void)metadataFrom(value);
            break;
        }
        }
    }
    return 0;
}
