#include "media/flv.h"

#include "byte_reader.h"

#include <cstring>
#include <stdexcept>

namespace refplayer::media {

bool parseVideoTagHeader(std::span<const uint8_t> body, VideoTagHeader& out, std::string& error) {
    if (body.empty()) {
        error = "video tag without a header byte";
        return false;
    }
    const uint8_t frameType = body[0] >> 4, codec = body[0] & 0x0F;
    if (frameType < video_frame::Key || frameType > video_frame::InfoOrCommand) {
        error = "video tag with unknown frame type " + std::to_string(frameType);
        return false;
    }
    if (codec < 1 || codec > video_codec::Avc) {
        error = "video tag with unknown codec " + std::to_string(codec);
        return false;
    }
    out.frameType = frameType;
    out.codecId = codec;
    out.payload = body.subspan(1);
    return true;
}

bool parseAudioTagHeader(std::span<const uint8_t> body, AudioTagHeader& out, std::string& error) {
    if (body.empty()) {
        error = "audio tag without a header byte";
        return false;
    }
    out.soundFormat = body[0] >> 4;
    out.soundRate = (body[0] >> 2) & 3;
    out.sixteenBit = (body[0] >> 1) & 1;
    out.stereo = body[0] & 1;
    out.payload = body.subspan(1);
    return true;
}

bool parseScriptTag(std::span<const uint8_t> body, std::string& name, AmfValue& value, std::string& error,
                    const AmfLimits& limits) {
    size_t offset = 0;
    AmfValue n, v;
    if (!decodeAmf0(body, offset, n, error, limits))
        return false;
    if (n.type != AmfValue::Type::String) {
        error = "script tag does not start with a name";
        return false;
    }
    if (!decodeAmf0(body, offset, v, error, limits))
        return false;
    // Some writers close the value with a second object end marker; anything
    // else left over means the sizes disagree.
    const size_t rest = body.size() - offset;
    static constexpr uint8_t kExtraEnd[] = {0, 0, 9};
    if (rest != 0 && !(rest == 3 && std::memcmp(body.data() + offset, kExtraEnd, 3) == 0)) {
        error = "script tag has " + std::to_string(rest) + " bytes after its value";
        return false;
    }
    name = std::move(n.string);
    value = std::move(v);
    return true;
}

FlvMetadata metadataFrom(const AmfValue& value) {
    FlvMetadata m;
    m.all = value;
    auto num = [&](const char* key, std::optional<double>& field) {
        if (const AmfValue* v = value.find(key); v && v->type == AmfValue::Type::Number)
            field = v->number;
    };
    num("duration", m.duration);
    num("width", m.width);
    num("height", m.height);
    num("framerate", m.framerate);
    num("videocodecid", m.videocodecid);
    num("audiocodecid", m.audiocodecid);
    num("videodatarate", m.videodatarate);
    num("audiodatarate", m.audiodatarate);
    num("filesize", m.filesize);
    if (const AmfValue* v = value.find("canSeekToEnd"); v && v->type == AmfValue::Type::Boolean)
        m.canSeekToEnd = v->boolean;
    return m;
}

bool FlvReader::fail(size_t at, const std::string& what) {
    failed_ = true;
    error_ = "FLV at byte " + std::to_string(at) + ": " + what;
    return false;
}

bool FlvReader::readHeader() {
    if (failed_)
        return false;
    ByteReader in(file_);
    const auto sig = in.bytes(3);
    if (!in.ok() || std::memcmp(sig.data(), "FLV", 3) != 0)
        return fail(0, "not an FLV file");
    const uint8_t version = in.u8();
    const uint8_t flags = in.u8();
    const uint32_t dataOffset = in.u32();
    if (!in.ok())
        return fail(0, "header truncated");
    if (version != 1)
        return fail(3, "unknown FLV version " + std::to_string(version));
    if (flags & ~0x05)
        return fail(4, "reserved header flags set");
    if (dataOffset < 9 || dataOffset > file_.size())
        return fail(5, "header size " + std::to_string(dataOffset) + " outside the file");
    header_ = {version, (flags & 0x04) != 0, (flags & 0x01) != 0, dataOffset};
    pos_ = dataOffset;
    expectedPrevious_ = 0;
    started_ = true;
    return true;
}

FlvReader::Result FlvReader::next(FlvTag& tag) {
    if (failed_ || (!started_ && !readHeader()))
        return Result::Error;
    ByteReader in(file_, pos_);
    const uint32_t previous = in.u32();
    if (!in.ok())
        return fail(pos_, "PreviousTagSize missing"), Result::Error;
    if (previous != expectedPrevious_)
        return fail(pos_, "PreviousTagSize " + std::to_string(previous) + " where " +
                              std::to_string(expectedPrevious_) + " was due"),
               Result::Error;
    const size_t at = in.offset();
    if (in.remaining() == 0) {
        pos_ = at;
        return Result::End;
    }
    const uint8_t typeByte = in.u8();
    const uint32_t size = in.u24();
    const uint32_t timeLow = in.u24();
    const uint8_t timeHigh = in.u8();
    const uint32_t stream = in.u24();
    if (!in.ok())
        return fail(at, "tag header truncated"), Result::Error;
    if (typeByte & 0x20)
        return fail(at, "encrypted (filtered) tags are not supported"), Result::Error;
    if (typeByte & 0xC0)
        return fail(at, "reserved tag bits set"), Result::Error;
    const uint8_t type = typeByte & 0x1F;
    if (type != 8 && type != 9 && type != 18)
        return fail(at, "unknown tag type " + std::to_string(type)), Result::Error;
    if (stream != 0)
        return fail(at, "stream id not 0"), Result::Error;
    const auto body = in.bytes(size);
    if (!in.ok())
        return fail(at, "tag of " + std::to_string(size) + " bytes runs past the end"), Result::Error;
    tag.type = static_cast<FlvTagType>(type);
    tag.timestamp = uint32_t(timeHigh) << 24 | timeLow;
    tag.offset = at;
    tag.body = body;
    expectedPrevious_ = 11 + size;
    pos_ = in.offset();
    return Result::Tag;
}

bool parseFlv(std::span<const uint8_t> file, FlvFile& out, std::string& error) {
    try {
        FlvReader reader(file);
        FlvFile result;
        if (!reader.readHeader()) {
            error = reader.error();
            return false;
        }
        result.header = reader.header();
        FlvTag tag;
        while (true) {
            const auto r = reader.next(tag);
            if (r == FlvReader::Result::End)
                break;
            if (r == FlvReader::Result::Error) {
                error = reader.error();
                return false;
            }
            if (tag.type == FlvTagType::Script && !result.metadata) {
                std::string name;
                AmfValue value;
                if (!parseScriptTag(tag.body, name, value, error)) {
                    error = "FLV script tag at byte " + std::to_string(tag.offset) + ": " + error;
                    return false;
                }
                if (name == "onMetaData")
                    result.metadata = metadataFrom(value);
            }
            result.tags.push_back(tag);
        }
        out = std::move(result);
        return true;
    } catch (const std::bad_alloc&) {
        error = "FLV: out of memory";
        return false;
    }
}

FlvWriter::FlvWriter(bool hasAudio, bool hasVideo) {
    out_ = {'F', 'L', 'V', 1, static_cast<uint8_t>((hasAudio ? 0x04 : 0) | (hasVideo ? 0x01 : 0))};
    putU32(out_, 9);
    putU32(out_, 0);  // PreviousTagSize0
}

void FlvWriter::tag(FlvTagType type, uint32_t timestamp, std::span<const uint8_t> body) {
    if (body.size() > 0xFFFFFF)
        throw std::length_error("FLV tag body larger than 16 MB");
    if (timestamp < lastTimestamp_)
        throw std::invalid_argument("FLV timestamps must not go backwards");
    lastTimestamp_ = timestamp;
    putU8(out_, static_cast<uint8_t>(type));
    putU24(out_, static_cast<uint32_t>(body.size()));
    putU24(out_, timestamp & 0xFFFFFF);
    putU8(out_, static_cast<uint8_t>(timestamp >> 24));
    putU24(out_, 0);
    out_.insert(out_.end(), body.begin(), body.end());
    putU32(out_, static_cast<uint32_t>(11 + body.size()));
}

void FlvWriter::scriptTag(std::string_view name, const AmfValue& value, uint32_t timestamp) {
    std::vector<uint8_t> body;
    encodeAmf0(AmfValue::makeString(std::string(name)), body);
    encodeAmf0(value, body);
    tag(FlvTagType::Script, timestamp, body);
}

void FlvWriter::videoTag(uint32_t timestamp, uint8_t frameType, uint8_t codecId, std::span<const uint8_t> packet) {
    if (frameType > 15 || codecId > 15)
        throw std::invalid_argument("video frame type and codec id are 4-bit fields");
    std::vector<uint8_t> body;
    body.reserve(1 + packet.size());
    body.push_back(static_cast<uint8_t>(frameType << 4 | codecId));
    body.insert(body.end(), packet.begin(), packet.end());
    tag(FlvTagType::Video, timestamp, body);
}

}  // namespace refplayer::media
