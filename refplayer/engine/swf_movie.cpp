// The SWF container: header, decompression, the tag loop and the records of
// every tag the engine plays.
#include "bitmap.h"
#include "font.h"
#include "swf_movie.h"
#include "morph_shape.h"
#include "swf_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace refplayer::engine {

std::optional<int> Timeline::frameOfLabel(std::string_view label) const
{
    for (const auto& [name, frame] : labels)
        if (name == label)
            return frame;
    auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    for (const auto& [name, frame] : labels)
        if (name.size() == label.size() &&
            std::equal(name.begin(), name.end(), label.begin(), [&](char a, char b) { return lower(a) == lower(b); }))
            return frame;
    return std::nullopt;
}

namespace {
std::string lowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}
}  // namespace

void MovieDef::addExport(std::string name, uint16_t id)
{
    exportIdsLower_.emplace(lowerAscii(name), id);
    exportNames_.emplace(id, name);
    exportIds_.emplace(std::move(name), id);
}

std::optional<uint16_t> MovieDef::exportedSymbol(std::string_view name) const
{
    if (auto it = exportIds_.find(std::string(name)); it != exportIds_.end())
        return it->second;
    if (version >= 7)
        return std::nullopt;
    if (auto it = exportIdsLower_.find(lowerAscii(name)); it != exportIdsLower_.end())
        return it->second;
    return std::nullopt;
}

const std::string* MovieDef::exportName(uint16_t id) const
{
    auto it = exportNames_.find(id);
    return it == exportNames_.end() ? nullptr : &it->second;
}

namespace {

const char* kRefusedPrefix = "not a playable SWF: ";

// Inflates the body of a "CWS" file, never producing more than `expected` bytes.
// Answers an error text, empty on success.
std::string inflateBody(std::span<const uint8_t> in, size_t expected, std::vector<uint8_t>& out)
{
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return "zlib could not start";
    std::string error;
    const size_t start = out.size();
    // Grow as data arrives rather than trusting the declared size up front.
    size_t chunk = std::min<size_t>(expected, 1u << 16);
    zs.next_in = const_cast<Bytef*>(in.data());
    size_t inLeft = in.size();
    for (;;) {
        size_t produced = out.size() - start;
        if (produced >= expected)
            break;
        size_t want = std::min(chunk, expected - produced);
        out.resize(out.size() + want);
        zs.next_out = out.data() + out.size() - want;
        zs.avail_out = static_cast<uInt>(want);
        uInt feed = static_cast<uInt>(std::min<size_t>(inLeft, 1u << 30));
        zs.avail_in = feed;
        int rc = inflate(&zs, Z_NO_FLUSH);
        inLeft -= feed - zs.avail_in;
        out.resize(out.size() - zs.avail_out);
        if (rc == Z_STREAM_END)
            break;
        if (rc == Z_BUF_ERROR && inLeft == 0 && zs.avail_in == 0) {
            break;  // input exhausted: the caller reports the shortfall
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            error = std::string("corrupt compressed data (") + (zs.msg ? zs.msg : "zlib error") + ")";
            break;
        }
        chunk = std::min<size_t>(chunk * 2, 1u << 22);
    }
    inflateEnd(&zs);
    return error;
}

void skipFilterList(SwfReader& r)
{
    unsigned count = r.u8();
    for (unsigned i = 0; i < count; ++i) {
        uint8_t id = r.u8();
        switch (id) {
        case 0: r.skip(23); break;  // drop shadow
        case 1: r.skip(9); break;   // blur
        case 2: r.skip(15); break;  // glow
        case 3: r.skip(27); break;  // bevel
        case 4:                     // gradient glow
        case 7: {                   // gradient bevel
            unsigned colors = r.u8();
            r.skip(colors * 5u + 19u);
            break;
        }
        case 5: {  // convolution
            unsigned x = r.u8(), y = r.u8();
            r.skip(8 + static_cast<size_t>(x) * y * 4 + 5);
            break;
        }
        case 6: r.skip(80); break;  // colour matrix
        default: r.fail("unknown filter type " + std::to_string(id));
        }
    }
}

class Parser {
public:
    Parser(MovieDef& movie, const Limits& limits) : movie_(movie), limits_(limits) {}

    void timeline(SwfReader& r, Timeline& tl, bool root)
    {
        Frame current;
        bool currentUsed = false;
        while (!r.atEnd()) {
            if (++tags_ > limits_.tags)
                r.fail("more than " + std::to_string(limits_.tags) + " tags");
            size_t tagStart = r.absolute();
            uint16_t header = r.u16();
            uint16_t code = header >> 6;
            size_t length = header & 0x3F;
            if (length == 0x3F)
                length = r.u32();
            if (length > r.remaining())
                throw ParseError("tag " + std::to_string(code) + " at offset " + std::to_string(tagStart) +
                                 " claims " + std::to_string(length) + " bytes but only " +
                                 std::to_string(r.remaining()) + " remain");
            SwfReader body = r.sub(length);
            if (code == tag::End)
                break;
            if (code == tag::ShowFrame) {
                if (tl.frames.size() >= limits_.frames)
                    body.fail("more than " + std::to_string(limits_.frames) + " frames");
                tl.frames.push_back(std::move(current));
                current = Frame{};
                currentUsed = false;
                continue;
            }
            currentUsed |= control(code, body, tl, current, root);
            if (root)
                definition(code, body);
        }
        // Tags after the last ShowFrame still make a frame of their own.
        if (currentUsed || tl.frames.empty()) {
            if (tl.frames.size() >= limits_.frames)
                r.fail("more than " + std::to_string(limits_.frames) + " frames");
            tl.frames.push_back(std::move(current));
        }
    }

private:
    std::span<const uint8_t> actionBlock(SwfReader& body)
    {
        if (++actionBlocks_ > limits_.actionBlocks)
            body.fail("more than " + std::to_string(limits_.actionBlocks) + " action blocks");
        return body.rest();
    }

    // Tags that belong to a timeline (the root's or a sprite's). Answers
    // whether the tag put anything into the frame.
    bool control(uint16_t code, SwfReader& body, Timeline& tl, Frame& frame, bool root)
    {
        switch (code) {
        case tag::PlaceObject: {
            PlaceCommand p;
            p.character = body.u16();
            p.depth = body.u16();
            p.matrix = readMatrix(body);
            if (!body.atEnd())
                p.colorTransform = readColorTransform(body, false);
            frame.commands.emplace_back(std::move(p));
            return true;
        }
        case tag::PlaceObject2:
        case tag::PlaceObject3:
            frame.commands.emplace_back(placeObject(body, code == tag::PlaceObject3));
            return true;
        case tag::RemoveObject: {
            body.u16();  // character
            frame.commands.emplace_back(RemoveCommand{body.u16()});
            return true;
        }
        case tag::RemoveObject2:
            frame.commands.emplace_back(RemoveCommand{body.u16()});
            return true;
        case tag::DoAction:
            frame.actions.push_back(actionBlock(body));
            return true;
        case tag::DoInitAction: {
            if (!root)
                return false;
            InitAction init;
            init.sprite = body.u16();
            init.actions = actionBlock(body);
            frame.initActions.push_back(init);
            return true;
        }
        case tag::FrameLabel: {
            std::string name = body.string();
            tl.labels.emplace_back(std::move(name), static_cast<int>(tl.frames.size()));
            return true;
        }
        case tag::VideoFrame:
            videoFrame(body);
            return false;
        default:
            return false;
        }
    }

    PlaceCommand placeObject(SwfReader& r, bool version3)
    {
        PlaceCommand p;
        uint8_t flags = r.u8();
        uint8_t flags3 = version3 ? r.u8() : 0;
        bool hasClipActions = flags & 0x80, hasClipDepth = flags & 0x40, hasName = flags & 0x20,
             hasRatio = flags & 0x10, hasCxform = flags & 0x08, hasMatrix = flags & 0x04,
             hasCharacter = flags & 0x02;
        p.move = flags & 0x01;
        bool opaqueBackground = flags3 & 0x40, hasVisible = flags3 & 0x20, hasImage = flags3 & 0x10,
             hasClassName = flags3 & 0x08, hasCacheAsBitmap = flags3 & 0x04, hasBlendMode = flags3 & 0x02,
             hasFilters = flags3 & 0x01;
        p.depth = r.u16();
        if (hasClassName || (hasImage && hasCharacter))
            r.string();
        if (hasCharacter)
            p.character = r.u16();
        if (hasMatrix)
            p.matrix = readMatrix(r);
        if (hasCxform)
            p.colorTransform = readColorTransform(r, true);
        if (hasRatio)
            p.ratio = r.u16();
        if (hasName)
            p.name = r.string();
        if (hasClipDepth)
            p.clipDepth = r.u16();
        if (hasFilters)
            skipFilterList(r);
        if (hasBlendMode)
            r.u8();
        if (hasCacheAsBitmap)
            r.u8();
        if (hasVisible)
            p.visible = r.u8() != 0;
        if (opaqueBackground)
            r.skip(4);
        if (hasClipActions)
            clipActions(r, p);
        return p;
    }

    uint32_t eventFlags(SwfReader& r)
    {
        uint32_t v = static_cast<uint32_t>(r.u8()) << 24;
        v |= static_cast<uint32_t>(r.u8()) << 16;
        if (movie_.version >= 6) {
            v |= static_cast<uint32_t>(r.u8()) << 8;
            v |= r.u8();
        }
        return v;
    }

    void clipActions(SwfReader& r, PlaceCommand& p)
    {
        r.u16();  // reserved
        eventFlags(r);
        for (;;) {
            uint32_t events = eventFlags(r);
            if (events == 0)
                break;
            uint32_t size = r.u32();
            if (size > r.remaining())
                r.fail("clip action of " + std::to_string(size) + " bytes runs past its tag");
            SwfReader rec = r.sub(size);
            ClipAction a;
            a.events = events;
            if (events & clipEvent::KeyPress)
                a.keyCode = rec.u8();
            a.actions = actionBlock(rec);
            p.clipActions.push_back(a);
        }
    }

    void videoFrame(SwfReader& r)
    {
        uint16_t stream = r.u16();
        uint16_t number = r.u16();
        auto it = movie_.characters.find(stream);
        if (it == movie_.characters.end() || it->second->kind != Character::Kind::Video)
            return;  // a frame for a stream never defined shows nowhere
        auto& video = static_cast<VideoDef&>(*it->second);
        if (video.frames.size() <= number)
            video.frames.resize(static_cast<size_t>(number) + 1);
        video.frames[number] = r.rest();
    }

    template <typename T>
    T* define(uint16_t id)
    {
        // A second definition of an id is ignored, as the player keeps the first.
        if (movie_.characters.count(id))
            return nullptr;
        auto c = std::make_unique<T>(id);
        T* raw = c.get();
        movie_.characters.emplace(id, std::move(c));
        return raw;
    }

    void definition(uint16_t code, SwfReader& body)
    {
        switch (code) {
        case tag::SetBackgroundColor:
            movie_.background = Rgba{body.u8(), body.u8(), body.u8(), 255};
            break;
        case tag::FileAttributes:
            movie_.fileAttributes = body.remaining() >= 4 ? body.u32() : body.u8();
            break;
        case tag::DefineShape:
        case tag::DefineShape2:
        case tag::DefineShape3:
        case tag::DefineShape4: {
            int version = code == tag::DefineShape ? 1 : code == tag::DefineShape2 ? 2 : code == tag::DefineShape3 ? 3 : 4;
            uint16_t id = body.u16();
            ShapeDef shape(id);
            shape.bounds = readRect(body);
            if (version == 4) {
                readRect(body);  // edge bounds
                shape.nonZero = (body.u8() & 0x04) != 0;
            }
            parseShapeWithStyle(body, version, shape, limits_, movie_.edgeCount);
            if (ShapeDef* s = define<ShapeDef>(id))
                *s = std::move(shape);
            break;
        }
        case tag::DefineMorphShape:
        case tag::DefineMorphShape2: {
            uint16_t id = body.u16();
            auto morph = std::make_unique<MorphShapeDef>(id);
            parseMorphShape(body, code == tag::DefineMorphShape ? 1 : 2, *morph, limits_, movie_.edgeCount);
            if (!movie_.characters.count(id))
                movie_.characters.emplace(id, std::move(morph));
            break;
        }
        case tag::DefineSprite: {
            uint16_t id = body.u16();
            auto sprite = std::make_unique<SpriteDef>(id);
            sprite->declaredFrames = body.u16();
            timeline(body, sprite->timeline, false);
            if (!movie_.characters.count(id))
                movie_.characters.emplace(id, std::move(sprite));
            break;
        }
        case tag::DefineButton:
        case tag::DefineButton2:
            button(body, code == tag::DefineButton2);
            break;
        case tag::ExportAssets: {
            const uint16_t count = body.u16();
            for (uint16_t i = 0; i < count && !body.atEnd(); ++i) {
                const uint16_t id = body.u16();
                std::string name = body.string();
                if (!name.empty())
                    movie_.addExport(std::move(name), id);
            }
            break;
        }
        case tag::DefineEditText:
            editText(body);
            break;
        case tag::JPEGTables:
        case tag::DefineBits:
        case tag::DefineBitsJPEG2:
        case tag::DefineBitsJPEG3:
        case tag::DefineBitsJPEG4:
        case tag::DefineBitsLossless:
        case tag::DefineBitsLossless2:
            readBitmapTag(code, body, movie_, limits_);
            break;
        case tag::DefineFont:
        case tag::DefineFont2:
        case tag::DefineFont3:
        case tag::DefineFontInfo:
        case tag::DefineFontInfo2:
        case tag::DefineText:
        case tag::DefineText2:
            readFontTag(code, body, movie_, limits_);
            break;
        case tag::DefineVideoStream: {
            uint16_t id = body.u16();
            if (VideoDef* v = define<VideoDef>(id)) {
                v->numFrames = body.u16();
                v->width = body.u16();
                v->height = body.u16();
                uint8_t flags = body.u8();
                v->deblocking = (flags >> 1) & 7;
                v->smoothing = flags & 1;
                v->codec = body.u8();
            }
            break;
        }
        default:
            break;
        }
    }

    void button(SwfReader& r, bool version2)
    {
        uint16_t id = r.u16();
        ButtonDef def(id);
        size_t actionsAt = 0;
        if (version2) {
            def.trackAsMenu = r.u8() & 1;
            size_t fieldAt = r.position();
            uint16_t offset = r.u16();
            actionsAt = offset ? fieldAt + offset : 0;
        }
        for (;;) {
            uint8_t flags = r.u8();
            if (flags == 0)
                break;
            ButtonRecord rec;
            rec.states = flags & 0x0F;
            rec.character = r.u16();
            rec.depth = r.u16();
            rec.matrix = readMatrix(r);
            if (version2) {
                rec.colorTransform = readColorTransform(r, true);
                if (flags & 0x10)
                    skipFilterList(r);
                if (flags & 0x20)
                    r.u8();  // blend mode
            }
            def.records.push_back(rec);
        }
        if (!version2) {
            ButtonAction a;
            a.conditions = buttonCond::OverDownToOverUp;
            a.actions = actionBlock(r);
            def.actions.push_back(a);
        } else if (actionsAt) {
            if (actionsAt < r.position())
                r.fail("button " + std::to_string(id) + " actions overlap its records");
            r.skip(actionsAt - r.position());
            for (;;) {
                uint16_t size = r.u16();
                ButtonAction a;
                a.conditions = static_cast<uint16_t>(r.u8() << 8);
                a.conditions |= r.u8();
                if (size == 0) {
                    a.actions = actionBlock(r);
                    def.actions.push_back(a);
                    break;
                }
                if (size < 4)
                    r.fail("button condition action of " + std::to_string(size) + " bytes");
                SwfReader actions = r.sub(size - 4);
                a.actions = actionBlock(actions);
                def.actions.push_back(a);
            }
        }
        if (ButtonDef* b = define<ButtonDef>(id))
            *b = std::move(def);
    }

    void editText(SwfReader& r)
    {
        uint16_t id = r.u16();
        EditTextDef def(id);
        def.bounds = readRect(r);
        uint8_t f1 = r.u8(), f2 = r.u8();
        bool hasText = f1 & 0x80, hasColor = f1 & 0x04, hasMaxLength = f1 & 0x02, hasFont = f1 & 0x01;
        def.wordWrap = f1 & 0x40;
        def.multiline = f1 & 0x20;
        def.password = f1 & 0x10;
        def.readOnly = f1 & 0x08;
        bool hasFontClass = f2 & 0x80, hasLayout = f2 & 0x20;
        def.autoSize = f2 & 0x40;
        def.noSelect = f2 & 0x10;
        def.border = f2 & 0x08;
        def.background = def.border;
        def.html = f2 & 0x02;
        def.useOutlines = f2 & 0x01;
        if (hasFont)
            def.fontId = r.u16();
        if (hasFontClass)
            r.string();
        if (hasFont || hasFontClass)
            def.fontHeight = r.u16();
        if (hasColor) {
            def.color.r = r.u8();
            def.color.g = r.u8();
            def.color.b = r.u8();
            def.color.a = r.u8();
        }
        if (hasMaxLength)
            def.maxLength = r.u16();
        if (hasLayout) {
            def.align = r.u8();
            def.leftMargin = r.u16();
            def.rightMargin = r.u16();
            def.indent = r.u16();
            def.leading = r.s16();
        }
        def.variable = r.string();
        if (hasText)
            def.initialText = r.string();
        if (EditTextDef* e = define<EditTextDef>(id))
            *e = std::move(def);
    }

    MovieDef& movie_;
    const Limits& limits_;
    size_t tags_ = 0;
    size_t actionBlocks_ = 0;
};

}  // namespace

LoadResult parseMovie(std::span<const uint8_t> file, const Limits& limits)
{
    LoadResult result;
    auto refuse = [&](const std::string& why) {
        result.movie.reset();
        result.error = kRefusedPrefix + why;
        return std::move(result);
    };
    try {
        if (file.size() < 8)
            return refuse("only " + std::to_string(file.size()) + " bytes, fewer than a SWF header");
        bool compressed = file[0] == 'C';
        if (!((file[0] == 'F' || file[0] == 'C') && file[1] == 'W' && file[2] == 'S')) {
            if (file[0] == 'Z' && file[1] == 'W' && file[2] == 'S')
                return refuse("LZMA-compressed movies (\"ZWS\") are not supported");
            return refuse("the signature is neither \"FWS\" nor \"CWS\"");
        }
        uint32_t declared = static_cast<uint32_t>(file[4]) | (static_cast<uint32_t>(file[5]) << 8) |
                            (static_cast<uint32_t>(file[6]) << 16) | (static_cast<uint32_t>(file[7]) << 24);
        if (declared < 8 + 5)
            return refuse("the header declares a file of " + std::to_string(declared) + " bytes");
        if (declared > limits.movieBytes)
            return refuse("the header declares " + std::to_string(declared) + " bytes, more than the limit of " +
                          std::to_string(limits.movieBytes));

        auto movie = std::make_shared<MovieDef>();
        movie->version = file[3];
        movie->compressed = compressed;
        movie->data.assign(file.begin(), file.begin() + 8);
        if (compressed) {
            std::string err = inflateBody(file.subspan(8), declared - 8, movie->data);
            if (!err.empty())
                return refuse(err);
        } else {
            movie->data.insert(movie->data.end(), file.begin() + 8,
                               file.begin() + static_cast<ptrdiff_t>(std::min<size_t>(file.size(), declared)));
        }
        if (movie->data.size() < declared)
            return refuse("truncated: the header declares " + std::to_string(declared) + " bytes but " +
                          std::to_string(movie->data.size()) + " arrived");

        SwfReader r(std::span<const uint8_t>(movie->data).subspan(8), 8);
        movie->stage = readRect(r);
        uint16_t rate = r.u16();
        // A rate of 0 would stop time altogether; the slowest rate stands in.
        movie->frameRate = rate ? rate / 256.0 : 1.0 / 256.0;
        movie->declaredFrames = r.u16();
        Parser parser(*movie, limits);
        parser.timeline(r, movie->timeline, true);
        result.movie = std::move(movie);
        return result;
    } catch (const ParseError& e) {
        return refuse(e.what());
    } catch (const std::bad_alloc&) {
        return refuse("out of memory");
    } catch (const std::exception& e) {
        return refuse(e.what());
    }
}

}  // namespace refplayer::engine
