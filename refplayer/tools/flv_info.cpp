// `refplay info` for FLV files: the header, onMetaData and every tag.
#include "json_writer.h"
#include "refplay.h"
#include "tool_internal.h"

#include "media/amf0.h"
#include "media/sorenson_video.h"

namespace refplayer::tool {

std::string_view videoCodecName(unsigned codec)
{
    switch (codec) {
    case 2: return "Sorenson H.263";
    case 3: return "Screen Video";
    case 4: return "On2 VP6";
    case 5: return "On2 VP6 with alpha";
    case 6: return "Screen Video 2";
    case 7: return "AVC";
    default: return "unknown";
    }
}

std::optional<PictureSize> videoPictureSize(unsigned codec, std::span<const uint8_t> packet)
{
    if (codec == media::video_codec::SorensonH263) {
        media::SorensonPictureInfo info;
        std::string error;
        if (!media::readSorensonPictureHeader(packet, info, error))
            return std::nullopt;
        return PictureSize{info.width, info.height};
    }
    if ((codec != media::video_codec::ScreenVideo && codec != media::video_codec::ScreenVideo2) || packet.size() < 4)
        return std::nullopt;
    // Block size in the high 4 bits of each 16-bit big-endian field, picture size in the low 12.
    PictureSize size{(packet[0] & 0x0F) << 8 | packet[1], (packet[2] & 0x0F) << 8 | packet[3]};
    if (size.width == 0 || size.height == 0)
        return std::nullopt;
    return size;
}

namespace {

using media::AmfValue;

void writeAmf(JsonWriter& j, const AmfValue& v)
{
    switch (v.type) {
    case AmfValue::Type::Number: j.number(v.number); break;
    case AmfValue::Type::Boolean: j.boolean(v.boolean); break;
    case AmfValue::Type::String: j.string(v.string); break;
    case AmfValue::Type::Null:
    case AmfValue::Type::Undefined: j.null(); break;
    case AmfValue::Type::Date:
        j.beginObject(true).field("date", v.number).field("timezone", int(v.timezone)).endObject();
        break;
    case AmfValue::Type::StrictArray:
        j.beginArray(true);  // typically long lists of numbers (key frame times)
        for (const AmfValue& e : v.elements)
            writeAmf(j, e);
        j.endArray();
        break;
    case AmfValue::Type::Object:
    case AmfValue::Type::EcmaArray:
        j.beginObject();
        for (size_t i = 0; i < v.properties.size(); ++i) {
            const std::string& name = v.properties[i].name;
            // JSON readers disagree on repeated names; the first one is what find() answers.
            if (v.find(name) != &v.properties[i].value)
                continue;
            j.key(name);
            writeAmf(j, v.properties[i].value);
        }
        j.endObject();
        break;
    }
}

std::string_view frameTypeName(uint8_t type)
{
    switch (type) {
    case media::video_frame::Key: return "key";
    case media::video_frame::Inter: return "inter";
    case media::video_frame::DisposableInter: return "disposable inter";
    case media::video_frame::GeneratedKey: return "generated key";
    default: return "info";
    }
}

std::string_view soundFormatName(uint8_t format)
{
    static constexpr std::string_view kNames[] = {"PCM", "ADPCM", "MP3", "PCM little-endian", "Nellymoser 16 kHz",
                                                  "Nellymoser 8 kHz", "Nellymoser", "G.711 A-law", "G.711 mu-law",
                                                  "reserved", "AAC", "Speex", "reserved", "reserved", "MP3 8 kHz",
                                                  "device-specific"};
    return kNames[format & 0x0F];
}

void writeTag(JsonWriter& j, const media::FlvTag& tag)
{
    std::string error;
    j.beginObject(true);
    switch (tag.type) {
    case media::FlvTagType::Video: j.field("type", "video"); break;
    case media::FlvTagType::Audio: j.field("type", "audio"); break;
    case media::FlvTagType::Script: j.field("type", "script"); break;
    }
    j.field("offset", uint64_t(tag.offset)).field("timestamp", tag.timestamp).field("size", uint64_t(tag.body.size()));
    if (tag.type == media::FlvTagType::Video) {
        media::VideoTagHeader h;
        if (!media::parseVideoTagHeader(tag.body, h, error)) {
            j.field("malformed", error);
        } else {
            j.field("codec", h.codecId).field("codecName", videoCodecName(h.codecId));
            j.field("frameType", frameTypeName(h.frameType));
            j.field("keyFrame", h.frameType == media::video_frame::Key || h.frameType == media::video_frame::GeneratedKey);
            if (auto size = videoPictureSize(h.codecId, h.payload))
                j.field("width", size->width).field("height", size->height);
        }
    } else if (tag.type == media::FlvTagType::Audio) {
        media::AudioTagHeader h;
        if (!media::parseAudioTagHeader(tag.body, h, error)) {
            j.field("malformed", error);
        } else {
            static constexpr int kRates[] = {5512, 11025, 22050, 44100};
            j.field("format", h.soundFormat).field("formatName", soundFormatName(h.soundFormat));
            j.field("rate", kRates[h.soundRate & 3]).field("bits", h.sixteenBit ? 16 : 8).field("channels", h.stereo ? 2 : 1);
        }
    } else {
        std::string name;
        AmfValue value;
        if (media::parseScriptTag(tag.body, name, value, error))
            j.field("name", name);
        else
            j.field("malformed", error);
    }
    j.endObject();
}

}  // namespace

std::string flvInfoJson(std::span<const uint8_t> file)
{
    // The first well-formed onMetaData is the one players use; it goes first in
    // the report though it is found on the way through the tags.
    std::optional<AmfValue> metadata;
    forEachFlvTag(file, [&](const media::FlvTag& tag) {
        std::string name, error;
        AmfValue value;
        if (!metadata && tag.type == media::FlvTagType::Script && media::parseScriptTag(tag.body, name, value, error) &&
            name == "onMetaData")
            metadata = std::move(value);
    });

    media::FlvReader header(file);
    header.readHeader();  // succeeded in the walk above
    JsonWriter j;
    j.beginObject();
    j.field("format", "flv").field("version", header.header().version);
    j.field("hasAudio", header.header().hasAudio).field("hasVideo", header.header().hasVideo);
    j.field("dataOffset", header.header().dataOffset);
    j.key("metadata");
    if (metadata)
        writeAmf(j, *metadata);
    else
        j.null();
    j.key("tags").beginArray();
    forEachFlvTag(file, [&](const media::FlvTag& tag) { writeTag(j, tag); });
    j.endArray();
    j.endObject();
    return j.take();
}

}  // namespace refplayer::tool
