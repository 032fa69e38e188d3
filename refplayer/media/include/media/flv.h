// FLV files: reading the header and tag stream (every size checked against
// the data and against the PreviousTagSize fields), the audio and video tag
// headers, the onMetaData script tag; and writing FLV files.
#pragma once

#include "media/amf0.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace refplayer::media {

struct FlvHeader {
    uint8_t version = 1;
    bool hasAudio = false;
    bool hasVideo = false;
    uint32_t dataOffset = 9;  // where the first PreviousTagSize field sits
};

enum class FlvTagType : uint8_t { Audio = 8, Video = 9, Script = 18 };

struct FlvTag {
    FlvTagType type = FlvTagType::Script;
    uint32_t timestamp = 0;  // milliseconds, extended byte included
    size_t offset = 0;       // of the tag header in the file
    std::span<const uint8_t> body{};  // points into the file
};

// Video codec ids and frame types of the video tag header.
namespace video_codec {
constexpr uint8_t SorensonH263 = 2, ScreenVideo = 3, Vp6 = 4, Vp6Alpha = 5, ScreenVideo2 = 6, Avc = 7;
}
namespace video_frame {
constexpr uint8_t Key = 1, Inter = 2, DisposableInter = 3, GeneratedKey = 4, InfoOrCommand = 5;
}

struct VideoTagHeader {
    uint8_t frameType = 0;
    uint8_t codecId = 0;
    std::span<const uint8_t> payload{};  // the codec's packet
};
bool parseVideoTagHeader(std::span<const uint8_t> body, VideoTagHeader& out, std::string& error);

struct AudioTagHeader {
    uint8_t soundFormat = 0;  // 0 PCM, 1 ADPCM, 2 MP3, ... 10 AAC
    uint8_t soundRate = 0;    // 0 5.5 kHz, 1 11 kHz, 2 22 kHz, 3 44 kHz
    bool sixteenBit = false;
    bool stereo = false;
    std::span<const uint8_t> payload{};
};
bool parseAudioTagHeader(std::span<const uint8_t> body, AudioTagHeader& out, std::string& error);

// A script data tag: a name ("onMetaData") and one value.
bool parseScriptTag(std::span<const uint8_t> body, std::string& name, AmfValue& value, std::string& error,
                    const AmfLimits& limits = {});

// The onMetaData fields a player uses; `all` keeps the whole value.
struct FlvMetadata {
    std::optional<double> duration{};  // seconds
    std::optional<double> width{}, height{};
    std::optional<double> framerate{};
    std::optional<double> videocodecid{}, audiocodecid{};
    std::optional<double> videodatarate{}, audiodatarate{};
    std::optional<double> filesize{};
    std::optional<bool> canSeekToEnd{};
    AmfValue all{};
};
// Reads the fields from an onMetaData value (an ECMA array or object);
// fields of the wrong type are left unset.
FlvMetadata metadataFrom(const AmfValue& value);

// Walks an FLV file tag by tag without copying.
class FlvReader {
public:
    explicit FlvReader(std::span<const uint8_t> file) : file_(file) {}

    bool readHeader();
    const FlvHeader& header() const { return header_; }

    enum class Result { Tag, End, Error };
    // The next tag; End once the data ends exactly after the last tag's
    // PreviousTagSize. After an Error, every later call answers Error.
    Result next(FlvTag& tag);

    const std::string& error() const { return error_; }

private:
    bool fail(size_t at, const std::string& what);

    std::span<const uint8_t> file_;
    FlvHeader header_;
    size_t pos_ = 0;
    uint32_t expectedPrevious_ = 0;
    bool started_ = false;
    bool failed_ = false;
    std::string error_;
};

// A whole file at once.
struct FlvFile {
    FlvHeader header{};
    std::vector<FlvTag> tags{};
    std::optional<FlvMetadata> metadata{};  // from the first onMetaData tag
};
bool parseFlv(std::span<const uint8_t> file, FlvFile& out, std::string& error);

// Builds an FLV file. Tags are appended in the order given; timestamps must
// not go backwards.
class FlvWriter {
public:
    FlvWriter(bool hasAudio, bool hasVideo);

    void tag(FlvTagType type, uint32_t timestamp, std::span<const uint8_t> body);
    void scriptTag(std::string_view name, const AmfValue& value, uint32_t timestamp = 0);
    void videoTag(uint32_t timestamp, uint8_t frameType, uint8_t codecId, std::span<const uint8_t> packet);

    const std::vector<uint8_t>& bytes() const { return out_; }
    std::vector<uint8_t> take() { return std::move(out_); }

private:
    std::vector<uint8_t> out_;
    uint32_t lastTimestamp_ = 0;
};

}  // namespace refplayer::media
