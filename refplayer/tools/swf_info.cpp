// `refplay info` for SWF files: the header and a walk over every tag,
// sprites' included, reading just enough of each body to summarise it.
#include "json_writer.h"
#include "refplay.h"
#include "tool_internal.h"

#include "swf_movie.h"
#include "swf_reader.h"

#include <zlib.h>

#include <cstdio>
#include <string_view>

namespace refplayer::tool {

namespace {

using engine::ParseError;
using engine::SwfReader;
namespace tag = engine::tag;

std::string_view tagName(uint16_t code)
{
    switch (code) {
    case 0: return "End";
    case 1: return "ShowFrame";
    case 2: return "DefineShape";
    case 4: return "PlaceObject";
    case 5: return "RemoveObject";
    case 6: return "DefineBits";
    case 7: return "DefineButton";
    case 8: return "JPEGTables";
    case 9: return "SetBackgroundColor";
    case 10: return "DefineFont";
    case 11: return "DefineText";
    case 12: return "DoAction";
    case 13: return "DefineFontInfo";
    case 14: return "DefineSound";
    case 15: return "StartSound";
    case 17: return "DefineButtonSound";
    case 18: return "SoundStreamHead";
    case 19: return "SoundStreamBlock";
    case 20: return "DefineBitsLossless";
    case 21: return "DefineBitsJPEG2";
    case 22: return "DefineShape2";
    case 23: return "DefineButtonCxform";
    case 24: return "Protect";
    case 26: return "PlaceObject2";
    case 28: return "RemoveObject2";
    case 32: return "DefineShape3";
    case 33: return "DefineText2";
    case 34: return "DefineButton2";
    case 35: return "DefineBitsJPEG3";
    case 36: return "DefineBitsLossless2";
    case 37: return "DefineEditText";
    case 39: return "DefineSprite";
    case 43: return "FrameLabel";
    case 45: return "SoundStreamHead2";
    case 46: return "DefineMorphShape";
    case 48: return "DefineFont2";
    case 56: return "ExportAssets";
    case 57: return "ImportAssets";
    case 58: return "EnableDebugger";
    case 59: return "DoInitAction";
    case 60: return "DefineVideoStream";
    case 61: return "VideoFrame";
    case 62: return "DefineFontInfo2";
    case 64: return "EnableDebugger2";
    case 65: return "ScriptLimits";
    case 66: return "SetTabIndex";
    case 69: return "FileAttributes";
    case 70: return "PlaceObject3";
    case 71: return "ImportAssets2";
    case 73: return "DefineFontAlignZones";
    case 74: return "CSMTextSettings";
    case 75: return "DefineFont3";
    case 76: return "SymbolClass";
    case 77: return "Metadata";
    case 78: return "DefineScalingGrid";
    case 82: return "DoABC";
    case 83: return "DefineShape4";
    case 84: return "DefineMorphShape2";
    case 86: return "DefineSceneAndFrameLabelData";
    case 87: return "DefineBinaryData";
    case 88: return "DefineFontName";
    case 89: return "StartSound2";
    case 90: return "DefineBitsJPEG4";
    case 91: return "DefineFont4";
    default: return "Unknown";
    }
}

void writeBox(JsonWriter& j, std::string_view name, const engine::Box& b)
{
    j.key(name).beginObject(true);
    j.field("xMin", b.xMin).field("xMax", b.xMax).field("yMin", b.yMin).field("yMax", b.yMax);
    j.endObject();
}

// Sprites inside sprites are not valid SWF; a hostile file may nest them
// deeply, so the walk stops descending here.
constexpr int kMaxSpriteNesting = 8;

class TagWalker {
public:
    explicit TagWalker(JsonWriter& j) : j_(j) {}

    // Every tag of one timeline, up to its End tag or the end of `r`.
    void timeline(SwfReader& r, int nesting)
    {
        int frame = 0;
        j_.key("tags").beginArray();
        while (!r.atEnd()) {
            if (++tags_ > kMaxTags)
                r.fail("more than " + std::to_string(kMaxTags) + " tags");
            const size_t at = r.absolute();
            const uint16_t header = r.u16();
            const uint16_t code = header >> 6;
            size_t length = header & 0x3F;
            if (length == 0x3F)
                length = r.u32();
            if (length > r.remaining())
                throw ParseError("tag " + std::to_string(code) + " at offset " + std::to_string(at) + " claims " +
                                 std::to_string(length) + " bytes but only " + std::to_string(r.remaining()) +
                                 " remain");
            SwfReader body = r.sub(length);
            const bool sprite = code == tag::DefineSprite;
            j_.beginObject(!sprite);
            j_.field("code", code).field("name", tagName(code)).field("offset", uint64_t(at)).field("length", uint64_t(length));
            if (code == tag::ShowFrame)
                j_.field("frame", frame++);
            const JsonWriter::Mark beforeSummary = j_.mark();
            try {
                summarise(code, body, nesting);
            } catch (const ParseError& e) {
                // The framing around this tag still holds, so the walk goes on
                // past a damaged body (a sprite's inner tags included).
                j_.rollback(beforeSummary);
                j_.field("malformed", e.what());
            }
            j_.endObject();
            if (code == tag::End)
                break;
        }
        j_.endArray();
    }

private:
    static constexpr size_t kMaxTags = engine::Limits{}.tags;

    void summarise(uint16_t code, SwfReader& b, int nesting)
    {
        switch (code) {
        case tag::SetBackgroundColor: {
            const uint8_t r = b.u8(), g = b.u8(), bl = b.u8();
            char text[8];
            std::snprintf(text, sizeof text, "#%02x%02x%02x", r, g, bl);
            j_.field("color", text);
            break;
        }
        case tag::DefineShape:
        case tag::DefineShape2:
        case tag::DefineShape3:
        case tag::DefineShape4:
            j_.field("id", b.u16());
            writeBox(j_, "bounds", engine::readRect(b));
            break;
        case tag::DefineSprite: {
            j_.field("id", b.u16()).field("frameCount", b.u16());
            if (nesting < kMaxSpriteNesting)
                timeline(b, nesting + 1);
            break;
        }
        case tag::PlaceObject:
            j_.field("id", b.u16()).field("depth", b.u16());
            break;
        case tag::PlaceObject2:
        case tag::PlaceObject3:
            placeObject(b, code == tag::PlaceObject3);
            break;
        case tag::RemoveObject:
            j_.field("id", b.u16()).field("depth", b.u16());
            break;
        case tag::RemoveObject2:
            j_.field("depth", b.u16());
            break;
        case tag::FrameLabel:
            j_.field("label", b.string());
            if (!b.atEnd())
                j_.field("anchor", b.u8() != 0);
            break;
        case tag::DoInitAction:
            j_.field("id", b.u16());
            break;
        case tag::DefineButton:
        case tag::DefineButton2:
        case 10:  // DefineFont
        case 48:  // DefineFont2
        case 75:  // DefineFont3
            j_.field("id", b.u16());
            break;
        case tag::DefineEditText:
            editText(b);
            break;
        case tag::DefineVideoStream: {
            j_.field("id", b.u16()).field("frames", b.u16()).field("width", b.u16()).field("height", b.u16());
            const uint8_t flags = b.u8(), codec = b.u8();
            j_.field("codec", codec).field("codecName", videoCodecName(codec));
            j_.field("deblocking", (flags >> 1) & 7).field("smoothing", (flags & 1) != 0);
            break;
        }
        case tag::VideoFrame:
            j_.field("stream", b.u16()).field("frame", b.u16());
            break;
        case tag::FileAttributes: {
            const uint32_t flags = b.remaining() >= 4 ? b.u32() : b.u8();
            j_.field("flags", flags)
                .field("useNetwork", (flags & engine::fileAttr::UseNetwork) != 0)
                .field("actionScript3", (flags & engine::fileAttr::ActionScript3) != 0)
                .field("hasMetadata", (flags & engine::fileAttr::HasMetadata) != 0);
            break;
        }
        case 56: {  // ExportAssets
            const unsigned count = b.u16();
            j_.key("assets").beginArray();
            for (unsigned i = 0; i < count; ++i) {
                const uint16_t id = b.u16();
                j_.beginObject().field("id", id).field("name", b.string()).endObject();
            }
            j_.endArray();
            break;
        }
        default:
            break;
        }
    }

    void placeObject(SwfReader& b, bool version3)
    {
        const uint8_t flags = b.u8();
        const uint8_t flags3 = version3 ? b.u8() : 0;
        j_.field("depth", b.u16()).field("move", (flags & 0x01) != 0);
        if (flags3 & 0x08 || (flags3 & 0x10 && flags & 0x02))
            j_.field("className", b.string());
        if (flags & 0x02)
            j_.field("id", b.u16());
        if (flags & 0x04)
            engine::readMatrix(b);
        if (flags & 0x08)
            engine::readColorTransform(b, true);
        if (flags & 0x10)
            j_.field("ratio", b.u16());
        if (flags & 0x20)
            j_.field("instanceName", b.string());
        if (flags & 0x40)
            j_.field("clipDepth", b.u16());
    }

    void editText(SwfReader& b)
    {
        j_.field("id", b.u16());
        writeBox(j_, "bounds", engine::readRect(b));
        const uint8_t f1 = b.u8(), f2 = b.u8();
        if (f1 & 0x01)
            j_.field("fontId", b.u16());
        if (f2 & 0x80)
            j_.field("fontClass", b.string());
        if (f1 & 0x01)
            j_.field("fontHeight", b.u16());
        if (f1 & 0x04)
            b.skip(4);  // colour
        if (f1 & 0x02)
            j_.field("maxLength", b.u16());
        if (f2 & 0x20)
            b.skip(9);  // layout
        j_.field("variable", b.string());
        if (f1 & 0x80)
            j_.field("text", b.string());
        j_.field("readOnly", (f1 & 0x08) != 0).field("password", (f1 & 0x10) != 0);
    }

    JsonWriter& j_;
    size_t tags_ = 0;
};

// The uncompressed file: the first 8 bytes as stored, the rest inflated
// (CWS) or copied (FWS), never more than the header declares.
std::vector<uint8_t> uncompressed(std::span<const uint8_t> file, uint32_t declared)
{
    std::vector<uint8_t> data(file.begin(), file.begin() + 8);
    if (file[0] == 'F') {
        if (file.size() < declared)
            throw ToolError("truncated: the header declares " + std::to_string(declared) + " bytes but the file has " +
                            std::to_string(file.size()));
        data.insert(data.end(), file.begin() + 8, file.begin() + declared);
        return data;
    }
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        throw ToolError("zlib could not start");
    std::span<const uint8_t> in = file.subspan(8);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());  // files are far below 4 GiB (kMaxInputBytes)
    int rc = Z_OK;
    // Grows with what arrives, not with what the header claims.
    while (rc == Z_OK && data.size() < declared) {
        const size_t have = data.size();
        const size_t want = std::min<size_t>(declared - have, std::max<size_t>(have, 1u << 16));
        data.resize(have + want);
        zs.next_out = data.data() + have;
        zs.avail_out = static_cast<uInt>(want);
        rc = inflate(&zs, Z_NO_FLUSH);
        data.resize(data.size() - zs.avail_out);
    }
    std::string message = zs.msg ? zs.msg : "";
    inflateEnd(&zs);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
        throw ToolError("corrupt compressed data (" + (message.empty() ? "zlib error" : message) + ")");
    if (data.size() < declared)
        throw ToolError("truncated: the header declares " + std::to_string(declared) +
                        " bytes but the compressed data holds " + std::to_string(data.size()));
    return data;
}

}  // namespace

std::string swfInfoJson(std::span<const uint8_t> file)
{
    if (file.size() < 8)
        throw ToolError("truncated: " + std::to_string(file.size()) + " bytes, fewer than a SWF header");
    const std::string signature(file.begin(), file.begin() + 3);
    if (signature != "FWS" && signature != "CWS")
        throw ToolError("not a SWF file: the signature is neither \"FWS\" nor \"CWS\"");
    const uint32_t declared = uint32_t(file[4]) | uint32_t(file[5]) << 8 | uint32_t(file[6]) << 16 | uint32_t(file[7]) << 24;
    const size_t limit = engine::Limits{}.movieBytes;
    if (declared < 8 + 5)
        throw ToolError("the header declares a file of " + std::to_string(declared) + " bytes, too short for a SWF");
    if (declared > limit)
        throw ToolError("the header declares " + std::to_string(declared) + " bytes, more than the limit of " +
                        std::to_string(limit));
    const std::vector<uint8_t> data = uncompressed(file, declared);
    const engine::LoadResult verdict = engine::parseMovie(file);

    JsonWriter j;
    j.beginObject();
    j.field("format", "swf").field("signature", signature).field("compressed", signature == "CWS");
    j.field("version", file[3]).field("fileLength", declared).field("storedLength", uint64_t(file.size()));
    try {
        SwfReader r(std::span<const uint8_t>(data).subspan(8), 8);
        const engine::Box stage = engine::readRect(r);
        j.key("stage").beginObject(true);
        j.field("xMin", stage.xMin).field("xMax", stage.xMax).field("yMin", stage.yMin).field("yMax", stage.yMax);
        j.field("width", (double(stage.xMax) - stage.xMin) / 20).field("height", (double(stage.yMax) - stage.yMin) / 20);
        j.endObject();
        j.field("frameRate", r.u16() / 256.0).field("frameCount", r.u16());
        j.key("engine").beginObject(true).field("accepted", verdict.movie != nullptr);
        if (!verdict.movie)
            j.field("error", verdict.error);
        j.endObject();
        TagWalker(j).timeline(r, 0);
    } catch (const ParseError& e) {
        throw ToolError(std::string("not a usable SWF: ") + e.what());
    }
    j.endObject();
    return j.take();
}

}  // namespace refplayer::tool
