#include "display.h"
#include "font.h"

#include "media/flv.h"
#include "media/sorenson_video.h"
#include "media/video_decoder.h"
#include "player_core.h"
#include "render.h"
#include "../script/avm1_vm.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <optional>

namespace refplayer::engine {

// --- DisplayObject ---------------------------------------------------------------------

DisplayObject::DisplayObject(Type t, PlayerCore& c, std::shared_ptr<const MovieDef> m, const Character* d)
    : type(t), core(c), movie(std::move(m)), def(d)
{
    serial = core.instanceCreated();
}

DisplayObject::~DisplayObject()
{
    core.instanceDestroyed();
}

MovieClip* DisplayObject::parentClip() const
{
    for (DisplayObject* c = container; c; c = c->container)
        if (c->type == Type::Clip)
            return static_cast<MovieClip*>(c);
    return nullptr;
}

Matrix DisplayObject::stageMatrix() const
{
    Matrix m = matrix;
    for (const DisplayObject* c = container; c; c = c->container)
        m = c->matrix * m;
    return m;
}

ColorTransform DisplayObject::stageColorTransform() const
{
    ColorTransform t = colorTransform;
    for (const DisplayObject* c = container; c; c = c->container)
        t = c->colorTransform * t;
    return t;
}

bool DisplayObject::visibleOnStage() const
{
    for (const DisplayObject* o = this; o; o = o->container)
        if (!o->visible || o->removed)
            return false;
    return true;
}

// --- text fields ---------------------------------------------------------------------------

namespace {

uint32_t rgbOf(Rgba c) { return static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | c.b; }
Rgba rgbaOf(uint32_t rgb)
{
    return Rgba{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb), 255};
}

// Plain text as an HTML field holds it.
std::string escapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '\r':
        case '\n': out += "<br>"; break;
        default: out += c;
        }
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b, bool caseSensitive)
{
    if (a.size() != b.size())
        return false;
    if (caseSensitive)
        return a == b;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

double xScale(const Matrix& m) { return std::sqrt(m.a * m.a + m.b * m.b); }
double yScale(const Matrix& m) { return std::sqrt(m.c * m.c + m.d * m.d); }
double rotationDegrees(const Matrix& m) { return std::atan2(m.b, m.a) * 180 / std::numbers::pi; }

// The placement properties clips and text fields share: position, scale,
// rotation, alpha, visibility, size and the mouse in local coordinates.
avm1::PropertyValue placementProperty(const DisplayObject& o, avm1::ClipProperty property)
{
    using P = avm1::ClipProperty;
    const Matrix& matrix = o.matrix;
    switch (property) {
    case P::X: return matrix.tx / 20.0;
    case P::Y: return matrix.ty / 20.0;
    case P::XScale: return xScale(matrix) * 100;
    case P::YScale: return yScale(matrix) * 100;
    case P::Rotation: return rotationDegrees(matrix);
    case P::Alpha: return o.colorTransform.ma * 100;
    case P::Visible: return o.visible;
    case P::Width:
    case P::Height: {
        Box b = localBounds(o).transformed(matrix);
        if (b.empty())
            return 0.0;
        return property == P::Width ? (b.xMax - b.xMin) / 20.0 : (b.yMax - b.yMin) / 20.0;
    }
    case P::XMouse:
    case P::YMouse: {
        Point p = o.stageMatrix().inverted().apply(o.core.mouseStage());
        return (property == P::XMouse ? p.x : p.y) / 20.0;
    }
    default: return std::monostate{};
    }
}

// Sets one of them; answers whether it was one (finite numbers only).
bool setPlacementProperty(DisplayObject& o, avm1::ClipProperty property, const avm1::PropertyValue& value)
{
    using P = avm1::ClipProperty;
    if (property == P::Visible) {
        if (const auto* b = std::get_if<bool>(&value))
            o.visible = *b;
        return true;
    }
    const double* n = std::get_if<double>(&value);
    if (!n || !std::isfinite(*n))
        return false;
    const double v = *n;
    Matrix& matrix = o.matrix;
    switch (property) {
    case P::X: matrix.tx = v * 20; break;
    case P::Y: matrix.ty = v * 20; break;
    case P::XScale:
    case P::YScale:
    case P::Rotation: {
        double sx = xScale(matrix), sy = yScale(matrix);
        double rot = std::atan2(matrix.b, matrix.a);
        double skew = std::atan2(-matrix.c, matrix.d) - rot;  // keeps a skew as it is
        if (property == P::XScale)
            sx = v / 100;
        else if (property == P::YScale)
            sy = v / 100;
        else
            rot = v * std::numbers::pi / 180;
        matrix.a = sx * std::cos(rot);
        matrix.b = sx * std::sin(rot);
        matrix.c = -sy * std::sin(rot + skew);
        matrix.d = sy * std::cos(rot + skew);
        break;
    }
    case P::Alpha: o.colorTransform.ma = v / 100; break;
    case P::Width:
    case P::Height: {
        Box b = localBounds(o).transformed(matrix);
        double size = property == P::Width ? b.xMax - b.xMin : b.yMax - b.yMin;
        if (b.empty() || size <= 0)
            return false;
        double f = v * 20 / size;
        if (property == P::Width) {
            matrix.a *= f;
            matrix.b *= f;
        } else {
            matrix.c *= f;
            matrix.d *= f;
        }
        break;
    }
    default: return false;
    }
    o.scriptMoved = true;
    return true;
}

// What createTextField starts from: an empty single-line dynamic field of
// 12-pixel black text, selectable, without border or background.
const EditTextDef& scriptFieldDef()
{
    static const EditTextDef def = [] {
        EditTextDef d(0);
        d.readOnly = true;
        d.fontHeight = 240;
        return d;
    }();
    return def;
}

}  // namespace

bool restrictAllows(std::string_view restrict, char32_t c)
{
    // Last match wins: included characters let in, those after a '^' keep out.
    // A pattern that starts with '^' lets in whatever it does not name.
    bool allowed = !restrict.empty() && restrict.front() == '^';
    bool including = true;
    for (size_t i = 0; i < restrict.size(); ++i) {
        char32_t from = static_cast<unsigned char>(restrict[i]);
        if (from == '^') {
            including = !including;
            continue;
        }
        if (from == '\\' && i + 1 < restrict.size())
            from = static_cast<unsigned char>(restrict[++i]);
        char32_t to = from;
        if (i + 2 < restrict.size() && restrict[i + 1] == '-') {
            i += 2;
            to = static_cast<unsigned char>(restrict[i]);
            if (to == '\\' && i + 1 < restrict.size())
                to = static_cast<unsigned char>(restrict[++i]);
        }
        if (c >= from && c <= to)
            allowed = including;
    }
    return allowed;
}

namespace {

// A format with every member the engine knows given, from a field's
// definition: the font it names gives the face's name and style.
avm1::TextFormatValues formatOf(const EditTextDef& d, const MovieDef* movie)
{
    static constexpr const char* kAlign[] = {"left", "right", "center", "justify"};
    avm1::TextFormatValues f;
    f.font = "Times New Roman";
    f.bold = f.italic = f.underline = f.bullet = f.kerning = false;
    if (const Character* c = movie && d.fontId ? movie->character(d.fontId) : nullptr;
        c && c->kind == Character::Kind::Font) {
        const auto& font = static_cast<const FontDef&>(*c);
        if (!font.name.empty())
            f.font = font.name;
        f.bold = font.bold;
        f.italic = font.italic;
    }
    f.size = d.fontHeight / 20.0;
    f.color = rgbOf(d.color);
    f.url = f.target = "";
    f.align = kAlign[d.align & 3];
    f.leftMargin = d.leftMargin / 20.0;
    f.rightMargin = d.rightMargin / 20.0;
    f.indent = d.indent / 20.0;
    f.blockIndent = 0.0;
    f.leading = d.leading / 20.0;
    f.letterSpacing = 0.0;
    return f;
}

// `onto` with the members `given` sets replaced.
void mergeFormat(avm1::TextFormatValues& onto, const avm1::TextFormatValues& given)
{
    auto take = [](auto& to, const auto& from) {
        if (from)
            to = from;
    };
    take(onto.font, given.font);
    take(onto.url, given.url);
    take(onto.target, given.target);
    take(onto.align, given.align);
    take(onto.size, given.size);
    take(onto.leftMargin, given.leftMargin);
    take(onto.rightMargin, given.rightMargin);
    take(onto.indent, given.indent);
    take(onto.blockIndent, given.blockIndent);
    take(onto.leading, given.leading);
    take(onto.letterSpacing, given.letterSpacing);
    take(onto.color, given.color);
    take(onto.bold, given.bold);
    take(onto.italic, given.italic);
    take(onto.underline, given.underline);
    take(onto.bullet, given.bullet);
    take(onto.kerning, given.kerning);
}

// `common` keeps only the members `other` shares with it.
void intersectFormat(avm1::TextFormatValues& common, const avm1::TextFormatValues& other)
{
    auto keep = [](auto& a, const auto& b) {
        if (a != b)
            a.reset();
    };
    keep(common.font, other.font);
    keep(common.url, other.url);
    keep(common.target, other.target);
    keep(common.align, other.align);
    keep(common.size, other.size);
    keep(common.leftMargin, other.leftMargin);
    keep(common.rightMargin, other.rightMargin);
    keep(common.indent, other.indent);
    keep(common.blockIndent, other.blockIndent);
    keep(common.leading, other.leading);
    keep(common.letterSpacing, other.letterSpacing);
    keep(common.color, other.color);
    keep(common.bold, other.bold);
    keep(common.italic, other.italic);
    keep(common.underline, other.underline);
    keep(common.bullet, other.bullet);
    keep(common.kerning, other.kerning);
}

// The field's text laid out as its formats set it.
TextMetrics measured(const TextObject& t)
{
    return measureText(t.field(), t.text, t.movie.get(), [&t](size_t i) { return t.styleAt(i); });
}

// Pixels as the definition's 16-bit twips hold them.
uint16_t twipsU16(double px) { return static_cast<uint16_t>(std::clamp(px * 20, 0.0, 65535.0)); }
int16_t twipsI16(double px) { return static_cast<int16_t>(std::clamp(px * 20, -32768.0, 32767.0)); }

}  // namespace

TextObject::TextObject(PlayerCore& c, std::shared_ptr<const MovieDef> m, const EditTextDef* d)
    : DisplayObject(Type::Text, c, std::move(m), d), settings_(*d), newFormat_(formatOf(*d, movie.get()))
{
    if (d->initialText)
        text = *d->initialText;
    if (d->autoSize)
        autoSize_ = "left";
    applyFormats();
}

const TextObject::FormatRun* TextObject::runAt(size_t index) const
{
    auto run = std::upper_bound(runs_.begin(), runs_.end(), index,
                                [](size_t i, const FormatRun& r) { return i < r.end; });
    return run == runs_.end() ? nullptr : &*run;
}

TextObject::Look TextObject::lookAt(size_t index) const
{
    Look look{settings_.color};
    const FormatRun* run = runAt(index);
    if (!run)
        return look;
    if (run->format.color)
        look.color = rgbaOf(*run->format.color);
    look.bold = run->format.bold.value_or(false);
    look.underline = run->format.underline.value_or(false);
    return look;
}

CharStyle TextObject::styleAt(size_t index) const
{
    const FormatRun* run = runAt(index);
    const avm1::TextFormatValues& format = run ? run->format : newFormat_;
    return CharStyle{format.bold.value_or(false), format.italic.value_or(false), format.kerning.value_or(false),
                     deviceFaceFor(format.font.value_or(""))};
}

void TextObject::splitRunsAt(size_t at)
{
    size_t begin = 0;
    for (size_t i = 0; i < runs_.size(); begin = runs_[i].end, ++i) {
        if (at > begin && at < runs_[i].end) {
            FormatRun head{at, runs_[i].format};
            runs_.insert(runs_.begin() + static_cast<ptrdiff_t>(i), std::move(head));
            return;
        }
    }
}

void TextObject::applyFormats()
{
    const size_t length = contents(false).size();
    // Text only grows or shrinks at its end outside setContents (typing, the
    // bound variable): what is new takes the new text format.
    while (runs_.size() > 1 && runs_[runs_.size() - 2].end >= length)
        runs_.pop_back();
    if (length == 0)
        runs_.clear();
    else if (!runs_.empty() && runs_.back().end > length)
        runs_.back().end = length;
    const size_t covered = runs_.empty() ? 0 : runs_.back().end;
    if (covered < length) {
        if (!runs_.empty() && runs_.back().format == newFormat_)
            runs_.back().end = length;
        else
            runs_.push_back({length, newFormat_});
    }
    // The engine lays a field out in one size, alignment and set of margins:
    // the first character's.
    const avm1::TextFormatValues& lead = runs_.empty() || runs_.front().end == 0 ? newFormat_ : runs_.front().format;
    if (lead.size)
        settings_.fontHeight = twipsU16(std::clamp(*lead.size, 1.0, 1000.0));
    if (lead.align) {
        const std::string& a = *lead.align;
        settings_.align = a == "right" ? 1 : a == "center" ? 2 : a == "justify" ? 3 : 0;
    }
    if (lead.leftMargin)
        settings_.leftMargin = twipsU16(*lead.leftMargin + lead.blockIndent.value_or(0));
    if (lead.rightMargin)
        settings_.rightMargin = twipsU16(*lead.rightMargin);
    if (lead.indent)
        settings_.indent = twipsU16(*lead.indent);
    if (lead.leading)
        settings_.leading = twipsI16(*lead.leading);
    if (lead.color)
        settings_.color = rgbaOf(*lead.color);
}

avm1::TextFormatValues TextObject::textFormat(size_t begin, size_t end) const
{
    const size_t length = runs_.empty() ? 0 : runs_.back().end;
    end = std::min(end, length);
    if (begin >= end) {
        // No character: the one at `begin`, or the new text format past the end.
        if (begin < length)
            end = begin + 1;
        else
            return newFormat_;
    }
    std::optional<avm1::TextFormatValues> common;
    size_t runBegin = 0;
    for (const FormatRun& run : runs_) {
        if (run.end > begin && runBegin < end) {
            if (!common)
                common = run.format;
            else
                intersectFormat(*common, run.format);
        }
        runBegin = run.end;
    }
    return common.value_or(newFormat_);
}

void TextObject::setTextFormat(size_t begin, size_t end, const avm1::TextFormatValues& format)
{
    const size_t length = runs_.empty() ? 0 : runs_.back().end;
    end = std::min(end, length);
    if (begin >= end)
        return;
    splitRunsAt(begin);
    splitRunsAt(end);
    size_t runBegin = 0;
    for (FormatRun& run : runs_) {
        if (runBegin >= begin && run.end <= end)
            mergeFormat(run.format, format);
        runBegin = run.end;
    }
    // Neighbours that came out alike become one run.
    std::vector<FormatRun> merged;
    for (FormatRun& run : runs_) {
        if (!merged.empty() && merged.back().format == run.format)
            merged.back().end = run.end;
        else
            merged.push_back(std::move(run));
    }
    runs_ = std::move(merged);
    relayout();
}

void TextObject::setSelection(size_t begin, size_t end)
{
    const size_t length = shownLength();
    selBegin_ = std::min(begin, length);
    selEnd_ = std::min(std::max(end, selBegin_), length);
}

void TextObject::setNewTextFormat(const avm1::TextFormatValues& format)
{
    mergeFormat(newFormat_, format);
    ++revision;
}

TextObject::~TextObject()
{
    // Script objects may outlive the field (and the interpreter): they then
    // read as a field no longer there.
    avm1::Vm::unlinkTextField(object_.get());
}

bool TextObject::accepts(uint8_t byte) const
{
    if (restrict_ && !restrictAllows(*restrict_, byte))
        return false;
    return !settings_.maxLength || text.size() < *settings_.maxLength;
}

void TextObject::relayout()
{
    applyFormats();
    const TextMetrics m = measured(*this);
    if (autoSize_ != "none") {
        Box& b = settings_.bounds;
        const double height = m.lines * m.lineHeight + 2.0 * m.gutter;
        b.yMax = b.yMin + height;
        if (!settings_.wordWrap) {
            const double width = m.widest + 2.0 * m.gutter + settings_.leftMargin + settings_.rightMargin;
            if (autoSize_ == "right") {
                b.xMin = b.xMax - width;
            } else if (autoSize_ == "center") {
                const double middle = (b.xMin + b.xMax) / 2;
                b.xMin = middle - width / 2;
                b.xMax = middle + width / 2;
            } else {
                b.xMax = b.xMin + width;
            }
        }
    }
    const TextMetrics after = measured(*this);
    scrollLine = std::clamp(scrollLine, 1, std::max(1, after.lines - after.visibleLines + 1));
    ++revision;
}

avm1::Object* TextObject::scriptObject()
{
    if (!object_)
        object_ = core.scripting().newTextFieldObject(*this);
    return object_.get();
}

avm1::Clip* TextObject::parent()
{
    return parentClip();
}

avm1::TextFieldSettings TextObject::settings() const
{
    avm1::TextFieldSettings s;
    s.html = settings_.html;
    s.wordWrap = settings_.wordWrap;
    s.multiline = settings_.multiline;
    s.password = settings_.password;
    s.selectable = !settings_.noSelect;
    s.input = !settings_.readOnly;
    s.border = settings_.border;
    s.background = settings_.background;
    s.textColor = rgbOf(settings_.color);
    s.borderColor = rgbOf(settings_.borderColor);
    s.backgroundColor = rgbOf(settings_.backgroundColor);
    s.autoSize = autoSize_;
    s.restrict = restrict_;
    s.maxChars = settings_.maxLength ? *settings_.maxLength : 0;
    s.variable = settings_.variable;
    return s;
}

void TextObject::setSettings(const avm1::TextFieldSettings& s)
{
    settings_.html = s.html;
    settings_.wordWrap = s.wordWrap;
    settings_.multiline = s.multiline;
    settings_.password = s.password;
    settings_.noSelect = !s.selectable;
    settings_.readOnly = !s.input;
    settings_.border = s.border;
    settings_.background = s.background;
    if (s.textColor != rgbOf(settings_.color)) {
        // textColor colours all the text, and what is typed next.
        for (FormatRun& run : runs_)
            run.format.color = s.textColor;
        newFormat_.color = s.textColor;
        settings_.color = rgbaOf(s.textColor);
    }
    settings_.borderColor = rgbaOf(s.borderColor);
    settings_.backgroundColor = rgbaOf(s.backgroundColor);
    autoSize_ = s.autoSize;
    restrict_ = s.restrict;
    // The definition's limit is 16 bits; a larger one is as good as none.
    if (s.maxChars > 0 && s.maxChars <= 0xFFFF)
        settings_.maxLength = static_cast<uint16_t>(s.maxChars);
    else
        settings_.maxLength.reset();
    if (s.variable != settings_.variable) {
        settings_.variable = s.variable;
        bound = false;  // linked afresh, as a newly placed field is
    }
    relayout();
}

avm1::TextFieldMetrics TextObject::metrics() const
{
    const TextMetrics m = measured(*this);
    avm1::TextFieldMetrics out;
    out.lines = m.lines;
    out.visibleLines = m.visibleLines;
    out.textWidth = m.widest / 20.0;
    out.textHeight = text.empty() ? 0 : m.lines * m.lineHeight / 20.0;
    return out;
}

std::string TextObject::contents(bool markup) const
{
    return settings_.html && !markup ? stripHtml(text) : text;
}

void TextObject::setContents(std::string_view newText, bool markup)
{
    text = settings_.html && !markup ? escapeHtml(newText) : std::string(newText);
    // New text takes the new text format throughout.
    runs_.clear();
    relayout();
    storeVariable();
}

void TextObject::storeVariable()
{
    if (settings_.variable.empty())
        return;
    if (MovieClip* clip = parentClip())
        core.scripting().setClipVariable(*clip, settings_.variable, text);
}

void TextObject::setScroll(int line)
{
    const TextMetrics m = measured(*this);
    scrollLine = std::clamp(line, 1, std::max(1, m.lines - m.visibleLines + 1));
    ++revision;
}

avm1::PropertyValue TextObject::getProperty(avm1::ClipProperty property) const
{
    return placementProperty(*this, property);
}

void TextObject::setProperty(avm1::ClipProperty property, const avm1::PropertyValue& value)
{
    using P = avm1::ClipProperty;
    const double* n = std::get_if<double>(&value);
    if ((property == P::Width || property == P::Height) && n) {
        // A field's size is its box, not a scale: the text keeps its size.
        if (!std::isfinite(*n) || *n < 0)
            return;
        const double scale = property == P::Width ? xScale(matrix) : yScale(matrix);
        if (scale <= 0)
            return;
        Box& b = settings_.bounds;
        (property == P::Width ? b.xMax : b.yMax) = (property == P::Width ? b.xMin : b.yMin) + *n * 20 / scale;
        scriptMoved = true;
        relayout();
        return;
    }
    setPlacementProperty(*this, property, value);
}

void TextObject::remove()
{
    MovieClip* owner = parentClip();
    if (!dynamic || !owner || removed)
        return;
    owner->removeChildObject(*this);
}

// --- video -------------------------------------------------------------------------------------

VideoObject::VideoObject(PlayerCore& c, std::shared_ptr<const MovieDef> m, const VideoDef* d)
    : DisplayObject(Type::Video, c, std::move(m), d)
{
}

VideoObject::~VideoObject() = default;

namespace {

// Some encoders put an FLV video tag's header byte (frame type, codec) before
// each VideoFrame's packet. A Sorenson packet starts with a zero byte, so the
// byte shows; a Screen Video packet starts with its block and picture width,
// so the byte shows when the picture size read past it is the stream's and
// the size read at it is not.
struct EmbeddedPacket {
    std::span<const uint8_t> packet;
    std::optional<bool> key;  // when the packet says
};

EmbeddedPacket embeddedPacket(std::span<const uint8_t> data, const VideoDef& v)
{
    auto screenSize = [](std::span<const uint8_t> p, uint16_t& w, uint16_t& h) {
        w = static_cast<uint16_t>((p[0] & 0x0F) << 8 | p[1]);
        h = static_cast<uint16_t>((p[2] & 0x0F) << 8 | p[3]);
    };
    EmbeddedPacket out{data, std::nullopt};
    if (data.size() < 5)
        return out;
    const int frameType = data[0] >> 4;
    bool tagged = (data[0] & 0x0F) == v.codec && frameType >= media::video_frame::Key &&
                  frameType <= media::video_frame::DisposableInter;
    if (tagged && v.codec == media::video_codec::ScreenVideo) {
        uint16_t w0, h0, w1, h1;
        screenSize(data, w0, h0);
        screenSize(data.subspan(1), w1, h1);
        tagged = (w1 == v.width && h1 == v.height) && !(w0 == v.width && h0 == v.height);
    }
    if (tagged) {
        out.packet = data.subspan(1);
        out.key = frameType == media::video_frame::Key;
    } else if (v.codec == media::video_codec::SorensonH263) {
        media::SorensonPictureInfo info;
        std::string error;
        if (media::readSorensonPictureHeader(data, info, error))
            out.key = info.type == media::SorensonPictureInfo::Type::Intra;
    }
    return out;
}

}  // namespace

void VideoObject::update()
{
    if (stream) {
        // A stream's picture replaces the character's own frames.
        const NetStreamPlayback* s = core.stream(stream);
        if (!s) {
            stream = 0;
            picture.clear();
            pictureWidth = pictureHeight = 0;
            return;
        }
        if (s->pictureKey() == streamKey)
            return;
        streamKey = s->pictureKey();
        picture = s->picture().picture();
        pictureWidth = s->picture().width();
        pictureHeight = s->picture().height();
        streamPlaceholder = s->picture().placeholder();
        return;
    }
    const VideoDef& v = video();
    if (!media::decodableVideoCodec(v.codec) || v.frames.empty())
        return;
    const int target = std::min<int>(ratio, static_cast<int>(v.frames.size()) - 1);
    if (target == decodedFrame)
        return;
    int from = decodedFrame + 1;
    if (!decoder_ || target < decodedFrame) {
        // Inter frames build on their predecessors: going back starts over
        // from the last frame that says it is a key frame (or the first).
        decoder_ = media::makeVideoDecoder(v.codec, core.limits.videoPixels);
        from = 0;
        for (int f = target; f > 0; --f)
            if (embeddedPacket(v.frames[static_cast<size_t>(f)], v).key.value_or(false)) {
                from = f;
                break;
            }
    }
    std::string error;
    for (int f = from; f <= target; ++f) {
        const EmbeddedPacket e = embeddedPacket(v.frames[static_cast<size_t>(f)], v);
        if (e.packet.empty())
            continue;  // no frame of that number arrived
        // Without a word from the packet, only the first picture must be whole.
        decoder_->decode(e.packet, e.key.value_or(!decoder_->hasImage()), error);  // a bad frame keeps the last picture
    }
    decodedFrame = target;
    if (decoder_->hasImage()) {
        const media::VideoImage& image = decoder_->image();
        picture = image.pixels;
        pictureWidth = image.width;
        pictureHeight = image.height;
    }
}

// --- buttons -----------------------------------------------------------------------------

uint8_t ButtonObject::visualState() const
{
    switch (state_) {
    case State::OverUp: return buttonState::Over;
    case State::OverDown: return buttonState::Down;
    default: return buttonState::Up;
    }
}

void ButtonObject::setState(State state)
{
    state_ = state;
    uint8_t look = visualState();
    if (look == built_)
        return;
    built_ = look;
    for (auto& [d, child] : children)
        core.release(std::move(child));
    children.clear();
    std::vector<std::shared_ptr<DisplayObject>> newClips;
    for (const ButtonRecord& rec : button().records) {
        if (!(rec.states & look) || children.count(rec.depth))
            continue;
        auto child = createInstance(core, movie, rec.character, this, nesting + 1);
        if (!child)
            continue;
        child->depth = rec.depth;
        child->matrix = rec.matrix;
        child->colorTransform = rec.colorTransform;
        children.emplace(rec.depth, child);
        if (child->type == Type::Clip)
            newClips.push_back(child);
    }
    for (auto& c : newClips)
        static_cast<MovieClip&>(*c).enterFirstFrame();
}

// --- creation ------------------------------------------------------------------------------

std::shared_ptr<DisplayObject> createInstance(PlayerCore& core, const std::shared_ptr<const MovieDef>& movie,
                                              uint16_t character, DisplayObject* container, int nesting)
{
    const Character* c = movie->character(character);
    if (!c || !core.mayCreateInstance())
        return nullptr;
    // Sprites and buttons that contain themselves would nest without end.
    if ((c->kind == Character::Kind::Sprite || c->kind == Character::Kind::Button) &&
        nesting > core.limits.clipNesting)
        return nullptr;
    std::shared_ptr<DisplayObject> obj;
    switch (c->kind) {
    case Character::Kind::Shape:
        obj = std::make_shared<ShapeObject>(core, movie, static_cast<const ShapeDef*>(c));
        break;
    case Character::Kind::Sprite:
        obj = std::make_shared<MovieClip>(core, movie, c, static_cast<const SpriteDef*>(c)->timeline, nesting);
        break;
    case Character::Kind::Button: {
        auto b = std::make_shared<ButtonObject>(core, movie, static_cast<const ButtonDef*>(c));
        b->container = container;
        b->nesting = nesting;
        b->setState(ButtonObject::State::Idle);
        obj = b;
        break;
    }
    case Character::Kind::EditText:
        obj = std::make_shared<TextObject>(core, movie, static_cast<const EditTextDef*>(c));
        break;
    case Character::Kind::Video:
        obj = std::make_shared<VideoObject>(core, movie, static_cast<const VideoDef*>(c));
        break;
    case Character::Kind::Bitmap:
    case Character::Kind::Font:
        return nullptr;  // bitmaps show only through the fills of shapes, fonts through text
    }
    obj->container = container;
    obj->nesting = nesting;
    return obj;
}

// --- MovieClip -------------------------------------------------------------------------------

MovieClip::MovieClip(PlayerCore& c, std::shared_ptr<const MovieDef> m, const Character* d, const Timeline& timeline,
                     int nest)
    : DisplayObject(Type::Clip, c, m, d), content_(std::move(m)), timeline_(&timeline)
{
    nesting = nest;
    vars_ = core.scripting().newClipObject();
}

MovieClip::~MovieClip() = default;

int MovieClip::swfVersion() const
{
    return content_->version;
}

void MovieClip::enterFirstFrame()
{
    frame_ = -1;
    gotoFrameIndex(0);
}

void MovieClip::advance(bool loop)
{
    if (!playing || removed)
        return;
    int total = timeline_->frameCount();
    if (total <= 1)
        return;  // a single frame never re-enters itself
    int next = frame_ + 1;
    if (next >= total) {
        if (levelNumber == 0 && !loop) {
            playing = false;
            return;
        }
        next = 0;
    }
    gotoFrameIndex(next);
}

MovieClip::State MovieClip::liveState() const
{
    State s;
    for (const auto& [d, obj] : children) {
        if (obj->dynamic)
            continue;
        Placement p;
        p.character = obj->characterId();
        p.placedFrame = obj->placedFrame;
        p.matrix = obj->matrix;
        p.colorTransform = obj->colorTransform;
        p.ratio = obj->ratio;
        p.clipDepth = obj->clipDepth;
        p.name = obj->name;
        s.emplace(d, std::move(p));
    }
    return s;
}

void MovieClip::applyCommands(State& state, int frame) const
{
    for (const DisplayCommand& command : timeline_->frames[static_cast<size_t>(frame)].commands) {
        if (const auto* remove = std::get_if<RemoveCommand>(&command)) {
            state.erase(remove->depth);
            continue;
        }
        const PlaceCommand& place = std::get<PlaceCommand>(command);
        auto it = state.find(place.depth);
        Placement* p = nullptr;
        if (place.character) {
            if (it != state.end() && !place.move)
                continue;  // the depth is taken: a plain place does not replace
            if (it == state.end()) {
                if (state.size() >= core.limits.depthsPerClip)
                    continue;
                it = state.emplace(place.depth, Placement{}).first;
            }
            p = &it->second;
            if (p->character != *place.character || !place.move) {
                p->character = *place.character;
                p->placedFrame = frame;
                p->created = &place;
            }
        } else {
            if (it == state.end() || !place.move)
                continue;
            p = &it->second;
        }
        if (place.matrix)
            p->matrix = *place.matrix;
        if (place.colorTransform)
            p->colorTransform = *place.colorTransform;
        if (place.ratio)
            p->ratio = *place.ratio;
        if (place.name)
            p->name = *place.name;
        if (place.clipDepth)
            p->clipDepth = *place.clipDepth;
        if (place.visible)
            p->visible = place.visible;
    }
}

std::shared_ptr<DisplayObject> MovieClip::instantiate(int depth, const Placement& p)
{
    auto obj = createInstance(core, movie, p.character, this, nesting + 1);
    if (!obj)
        return nullptr;
    obj->depth = depth;
    obj->placedFrame = p.placedFrame;
    obj->matrix = p.matrix;
    obj->colorTransform = p.colorTransform;
    obj->ratio = p.ratio;
    obj->clipDepth = p.clipDepth;
    obj->name = p.name;
    if (p.visible)
        obj->visible = *p.visible;
    if (obj->type == Type::Clip && p.created)
        static_cast<MovieClip&>(*obj).clipActions = p.created->clipActions;
    return obj;
}

void MovieClip::removeChild(DisplayList::iterator it)
{
    std::shared_ptr<DisplayObject> obj = std::move(it->second);
    children.erase(it);
    core.release(std::move(obj));
}

void MovieClip::reconcile(const State& target, size_t& constructAt)
{
    for (auto it = children.begin(); it != children.end();) {
        auto want = target.find(it->first);
        DisplayObject& obj = *it->second;
        if (obj.dynamic) {
            ++it;  // made by script: the timeline does not own it
            continue;
        }
        if (want == target.end() || want->second.character != obj.characterId() ||
            want->second.placedFrame != obj.placedFrame) {
            removeChild(it++);
            continue;
        }
        const Placement& p = want->second;
        if (!obj.scriptMoved) {
            obj.matrix = p.matrix;
            obj.colorTransform = p.colorTransform;
        }
        obj.ratio = p.ratio;
        obj.clipDepth = p.clipDepth;
        obj.name = p.name;
        if (p.visible)
            obj.visible = *p.visible;
        ++it;
    }
    std::vector<MovieClip*> fresh;
    for (const auto& [d, p] : target) {
        if (children.count(d))
            continue;
        auto obj = instantiate(d, p);
        if (!obj)
            continue;
        children.emplace(d, obj);
        if (obj->type == Type::Clip)
            fresh.push_back(static_cast<MovieClip*>(obj.get()));
    }
    // New clips start once all of this frame's objects are in place, so their
    // first scripts can reach their siblings.
    for (MovieClip* clip : fresh) {
        if (clip->removed)
            continue;
        if (clip->def && clip->movie)
            if (const std::string* linkage = clip->movie->exportName(clip->def->id))
                core.queueConstruct(*clip, *linkage, constructAt++);
        for (const ClipAction& a : clip->clipActions)
            if (a.events & clipEvent::Load)
                core.queueActions(*clip, content_, a.actions);
        clip->enterFirstFrame();
    }
}

void MovieClip::gotoFrameIndex(int target)
{
    if (removed)
        return;
    target = std::clamp(target, 0, timeline_->frameCount() - 1);
    if (target == frame_)
        return;
    State state;
    int from;
    if (target > frame_) {
        state = liveState();
        from = frame_ + 1;
    } else {
        from = 0;  // backwards: rebuild from the first frame
    }
    for (int f = from; f <= target; ++f)
        applyCommands(state, f);
    frame_ = target;
    // The frame's #initclip blocks run first, once each and in file order:
    // they register the classes the frame's new clips are built as. Then the
    // constructors of those clips, then the frame's actions, and only then
    // the actions of the clips it creates.
    size_t mark = core.queueMark();
    const Frame& fr = timeline_->frames[static_cast<size_t>(target)];
    for (const InitAction& init : fr.initActions)
        if (core.firstRunOf(init.actions.data()))
            core.queueActions(*this, content_, init.actions, mark++);
    reconcile(state, mark);
    for (const auto& a : fr.actions)
        core.queueActions(*this, content_, a, mark++);
}

void MovieClip::replaceContent(std::shared_ptr<const MovieDef> m)
{
    for (auto it = children.begin(); it != children.end();)
        removeChild(it++);
    content_ = std::move(m);
    movie = content_;
    timeline_ = &content_->timeline;
    frame_ = -1;
    playing = true;
    vars_ = core.scripting().newClipObject();
    enterFirstFrame();
}

void MovieClip::gotoFrame(int frame, bool play)
{
    gotoFrameIndex(frame);
    playing = play;
}

void MovieClip::nextFrame()
{
    gotoFrameIndex(frame_ + 1);
    playing = false;
}

void MovieClip::prevFrame()
{
    gotoFrameIndex(frame_ - 1);
    playing = false;
}

void MovieClip::duplicate(std::string_view newName, int scriptDepth)
{
    MovieClip* owner = parentClip();
    if (!owner || !def || removed || scriptDepth < -16384 || scriptDepth > 1048575)
        return;
    // Script depths count from where the timeline's end: 0 is timeline depth 16384.
    const int newDepth = scriptDepth + 16384;
    auto it = owner->children.find(newDepth);
    if (it == owner->children.end() && owner->children.size() >= core.limits.depthsPerClip)
        return;
    auto copy = createInstance(core, movie, def->id, owner, nesting);
    if (!copy)
        return;
    copy->depth = newDepth;
    copy->matrix = matrix;
    copy->colorTransform = colorTransform;
    copy->visible = visible;
    copy->name = std::string(newName);
    auto& clip = static_cast<MovieClip&>(*copy);
    clip.dynamic = true;
    clip.clipActions = clipActions;
    if (it != owner->children.end())
        owner->removeChild(it);
    owner->children.emplace(newDepth, copy);
    for (const ClipAction& a : clip.clipActions)
        if (a.events & clipEvent::Load)
            core.queueActions(clip, movie, a.actions);
    clip.enterFirstFrame();
}

bool MovieClip::attachMovie(std::string_view linkage, std::string_view newName, int scriptDepth)
{
    // Only symbols the movie exports: the player has no built-in ones.
    return attachSymbol(linkage, newName, scriptDepth);
}

bool MovieClip::attachSymbol(std::string_view linkage, std::string_view newName, int scriptDepth)
{
    // A symbol the clip's movie exports under that linkage name; the script
    // side makes it an instance of its registered class.
    const std::optional<uint16_t> id = content_->exportedSymbol(linkage);
    const Character* symbol = id ? content_->character(*id) : nullptr;
    if (removed || !symbol || symbol->kind != Character::Kind::Sprite || newName.empty())
        return false;
    if (scriptDepth < -16384 || scriptDepth > 1048575)
        return false;
    const int newDepth = scriptDepth + 16384;
    auto it = children.find(newDepth);
    if (it == children.end() && children.size() >= core.limits.depthsPerClip)
        return false;
    auto made = createInstance(core, content_, *id, this, nesting + 1);
    if (!made)
        return false;
    auto& clip = static_cast<MovieClip&>(*made);
    clip.depth = newDepth;
    clip.DisplayObject::name = std::string(newName);
    clip.dynamic = true;
    if (it != children.end())
        removeChild(it);
    children.emplace(newDepth, made);
    clip.enterFirstFrame();
    return true;
}

bool MovieClip::createEmpty(std::string_view newName, int scriptDepth)
{
    if (removed || newName.empty() || scriptDepth < -16384 || scriptDepth > 1048575)
        return false;
    const int newDepth = scriptDepth + 16384;
    auto it = children.find(newDepth);
    if (it == children.end() && children.size() >= core.limits.depthsPerClip)
        return false;
    if (nesting + 1 > core.limits.clipNesting || !core.mayCreateInstance())
        return false;
    // Its library is its parent's: attachMovie on it finds the same symbols.
    auto clip = std::make_shared<MovieClip>(core, content_, nullptr, core.emptyTimeline(), nesting + 1);
    clip->container = this;
    clip->depth = newDepth;
    clip->DisplayObject::name = std::string(newName);
    clip->dynamic = true;
    clip->url = url;
    if (it != children.end())
        removeChild(it);
    children.emplace(newDepth, clip);
    clip->enterFirstFrame();
    return true;
}

std::optional<int> MovieClip::highestDepth() const
{
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (!it->second->removed)
            return it->first - 16384;
    return std::nullopt;
}

void MovieClip::remove()
{
    // Only what script made can script take away.
    MovieClip* owner = parentClip();
    if (!dynamic || !owner || removed)
        return;
    auto it = owner->children.find(depth);
    if (it != owner->children.end() && it->second.get() == this)
        owner->removeChild(it);
}

avm1::Clip* MovieClip::parent()
{
    return parentClip();
}

avm1::Object* MovieClip::videoByName(std::string_view want, bool caseSensitive)
{
    for (auto& [d, obj] : children)
        if (obj->type == Type::Video && !obj->removed && !obj->name.empty() && sameName(obj->name, want, caseSensitive))
            return core.videoScriptObject(static_cast<VideoObject&>(*obj));
    return nullptr;
}

avm1::Clip* MovieClip::childByName(std::string_view want, bool caseSensitive)
{
    for (auto& [d, obj] : children)
        if (obj->type == Type::Clip && !obj->removed && sameName(obj->name, want, caseSensitive))
            return static_cast<MovieClip*>(obj.get());
    return nullptr;
}

avm1::TextField* MovieClip::textFieldByName(std::string_view want, bool caseSensitive)
{
    for (auto& [d, obj] : children)
        if (obj->type == Type::Text && !obj->removed && sameName(obj->name, want, caseSensitive))
            return static_cast<TextObject*>(obj.get());
    return nullptr;
}

avm1::TextField* MovieClip::createTextField(std::string_view newName, int scriptDepth, double x, double y,
                                            double width, double height)
{
    if (removed || newName.empty() || scriptDepth < -16384 || scriptDepth > 1048575 || !core.mayCreateInstance())
        return nullptr;
    const int newDepth = scriptDepth + 16384;
    auto it = children.find(newDepth);
    if (it == children.end() && children.size() >= core.limits.depthsPerClip)
        return nullptr;
    auto field = std::make_shared<TextObject>(core, content_, &scriptFieldDef());
    field->container = this;
    field->nesting = nesting + 1;
    field->depth = newDepth;
    field->DisplayObject::name = std::string(newName);
    field->dynamic = true;
    field->matrix.tx = x * 20;
    field->matrix.ty = y * 20;
    field->settings_.bounds = Box{0, 0, width * 20, height * 20};
    field->relayout();
    if (it != children.end())
        removeChild(it);
    children.emplace(newDepth, field);
    return field.get();
}

void MovieClip::removeChildObject(DisplayObject& child)
{
    auto it = children.find(child.depth);
    if (it != children.end() && it->second.get() == &child)
        removeChild(it);
}

avm1::PropertyValue MovieClip::getProperty(avm1::ClipProperty property) const
{
    using P = avm1::ClipProperty;
    switch (property) {
    case P::DropTarget: return std::string();
    case P::Url: return url;
    default: return placementProperty(*this, property);
    }
}

void MovieClip::setProperty(avm1::ClipProperty property, const avm1::PropertyValue& value)
{
    if (property == avm1::ClipProperty::Name) {
        if (const auto* s = std::get_if<std::string>(&value))
            DisplayObject::name = *s;
        return;
    }
    setPlacementProperty(*this, property, value);
}

avm1::ClipColor MovieClip::clipColor() const
{
    const ColorTransform& t = colorTransform;
    return {t.mr * 100, t.ar, t.mg * 100, t.ag, t.mb * 100, t.ab, t.ma * 100, t.aa};
}

void MovieClip::setClipColor(const avm1::ClipColor& c)
{
    colorTransform = ColorTransform{c.ra / 100, c.ga / 100, c.ba / 100, c.aa / 100, c.rb, c.gb, c.bb, c.ab};
    // From now on the timeline leaves this clip's placement to script.
    scriptMoved = true;
}

}  // namespace refplayer::engine
