// TextFormat, and the TextField methods that read and apply formats
// (getTextFormat, setTextFormat, getNewTextFormat, setNewTextFormat).
// A TextFormat is a plain object whose published members start as null;
// formats cross to the engine as TextFormatValues, null members unset.
#include <cmath>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

// The published members, in the order the constructor takes the first ones.
constexpr std::string_view kMembers[] = {"font",       "size",     "color",      "bold",        "italic",
                                         "underline",  "url",      "target",     "align",       "leftMargin",
                                         "rightMargin", "indent",  "leading",    "blockIndent", "bullet",
                                         "kerning",    "letterSpacing", "tabStops", "display"};
constexpr size_t kConstructorArgs = 13;  // font ... leading

Value textFormatCtor(State& s, NativeCall& c) {
    Object* o = c.thisValue.objectValue();
    if (!o) return {};
    for (size_t i = 0; i < std::size(kMembers); ++i) {
        Value v = i < kConstructorArgs ? c.arg(i) : Value();
        o->setOwn(kMembers[i], v.isUndefined() ? Value::null() : v);
    }
    // Fresh formats say "block" for display, as the published player does.
    o->setOwn("display", s.str("block"));
    return c.thisValue;
}

// --- script object <-> TextFormatValues ----------------------------------------------

std::optional<std::string> textMember(State& s, const Value& o, std::string_view name) {
    const Value v = s.getMember(o, name);
    if (v.isNullish()) return std::nullopt;
    return s.toString(v);
}
std::optional<double> numberMember(State& s, const Value& o, std::string_view name) {
    const Value v = s.getMember(o, name);
    if (v.isNullish()) return std::nullopt;
    const double n = s.toNumber(v);
    if (!std::isfinite(n)) return std::nullopt;
    return std::clamp(n, -1e6, 1e6);
}
std::optional<bool> flagMember(State& s, const Value& o, std::string_view name) {
    const Value v = s.getMember(o, name);
    if (v.isNullish()) return std::nullopt;
    return s.toBoolean(v);
}

TextFormatValues formatFrom(State& s, const Value& o) {
    TextFormatValues f;
    f.font = textMember(s, o, "font");
    f.url = textMember(s, o, "url");
    f.target = textMember(s, o, "target");
    if (auto align = textMember(s, o, "align")) {
        const std::string a = lowerAscii(*align);
        if (a == "left" || a == "right" || a == "center" || a == "justify") f.align = a;
    }
    f.size = numberMember(s, o, "size");
    if (f.size && *f.size < 0) f.size.reset();
    f.leftMargin = numberMember(s, o, "leftMargin");
    f.rightMargin = numberMember(s, o, "rightMargin");
    f.indent = numberMember(s, o, "indent");
    f.blockIndent = numberMember(s, o, "blockIndent");
    f.leading = numberMember(s, o, "leading");
    f.letterSpacing = numberMember(s, o, "letterSpacing");
    const Value color = s.getMember(o, "color");
    if (!color.isNullish() && std::isfinite(s.toNumber(color)))
        f.color = static_cast<uint32_t>(s.toInt32(color)) & 0xFFFFFFu;
    f.bold = flagMember(s, o, "bold");
    f.italic = flagMember(s, o, "italic");
    f.underline = flagMember(s, o, "underline");
    f.bullet = flagMember(s, o, "bullet");
    f.kerning = flagMember(s, o, "kerning");
    return f;
}

Value newTextFormat(State& s, const TextFormatValues& f) {
    const Value ctor = s.getMember(Value::object(s.global), "TextFormat");
    Object* proto = nullptr;
    if (ctor.objectValue()) proto = s.getMember(ctor, "prototype").objectValue();
    Object* o = s.newObject(proto ? proto : s.objectProto);
    auto text = [&](std::string_view name, const std::optional<std::string>& v) {
        o->setOwn(name, v ? s.str(*v) : Value::null());
    };
    auto number = [&](std::string_view name, const std::optional<double>& v) {
        o->setOwn(name, v ? Value::number(*v) : Value::null());
    };
    auto flag = [&](std::string_view name, const std::optional<bool>& v) {
        o->setOwn(name, v ? Value::boolean(*v) : Value::null());
    };
    text("font", f.font);
    number("size", f.size);
    number("color", f.color ? std::optional<double>(*f.color) : std::nullopt);
    flag("bold", f.bold);
    flag("italic", f.italic);
    flag("underline", f.underline);
    text("url", f.url);
    text("target", f.target);
    text("align", f.align);
    number("leftMargin", f.leftMargin);
    number("rightMargin", f.rightMargin);
    number("indent", f.indent);
    number("leading", f.leading);
    number("blockIndent", f.blockIndent);
    flag("bullet", f.bullet);
    flag("kerning", f.kerning);
    number("letterSpacing", f.letterSpacing);
    o->setOwn("tabStops", Value::null());
    o->setOwn("display", s.str("block"));
    return Value::object(o);
}

// The [begin, end) byte range that arguments `first`.. of a format call name:
// none (the whole text), one index, or a begin and an end index.
struct Range {
    size_t begin = 0, end = 0;
};
Range rangeOf(State& s, TextField& f, std::span<const Value> indexes) {
    const std::string shown = f.contents(false);
    if (indexes.empty()) return {0, shown.size()};
    const double first = std::floor(s.toNumber(indexes[0]));
    // A negative or missing end runs to the end of the text.
    double last = indexes.size() > 1 ? std::floor(s.toNumber(indexes[1])) : first + 1;
    if (!std::isfinite(first) || first < 0) return {0, 0};
    const size_t begin = utf8ByteOffset(shown, first);
    const size_t end = std::isfinite(last) && last >= 0 ? utf8ByteOffset(shown, last) : shown.size();
    return {begin, end};
}

Value getTextFormat(State& s, NativeCall& c) {
    TextField* f = textFieldOf(c.thisValue);
    if (!f) return {};
    const size_t n = std::min<size_t>(c.args.size(), 2);
    const Range r = rangeOf(s, *f, c.args.subspan(0, n));
    f = textFieldOf(c.thisValue);  // conversions may have run script
    return f ? newTextFormat(s, f->textFormat(r.begin, r.end)) : Value();
}

Value setTextFormat(State& s, NativeCall& c) {
    if (c.args.empty() || !textFieldOf(c.thisValue)) return {};
    // The format comes last: (format), (index, format), (begin, end, format).
    const size_t n = std::min<size_t>(c.args.size(), 3);
    const Value& formatArg = c.args[n - 1];
    if (!formatArg.objectValue()) return {};
    const TextFormatValues format = formatFrom(s, formatArg);
    TextField* f = textFieldOf(c.thisValue);
    if (!f) return {};
    const Range r = rangeOf(s, *f, c.args.subspan(0, n - 1));
    if (TextField* again = textFieldOf(c.thisValue)) again->setTextFormat(r.begin, r.end, format);
    return {};
}

Value getNewTextFormat(State& s, NativeCall& c) {
    TextField* f = textFieldOf(c.thisValue);
    return f ? newTextFormat(s, f->newTextFormat()) : Value();
}

Value setNewTextFormat(State& s, NativeCall& c) {
    if (!c.arg(0).objectValue()) return {};
    const TextFormatValues format = formatFrom(s, c.arg(0));
    if (TextField* f = textFieldOf(c.thisValue)) f->setNewTextFormat(format);
    return {};
}

}  // namespace

void installTextFormat(State& s) {
    defineClass(s, "TextFormat", [&s](NativeCall& c) { return textFormatCtor(s, c); });
    Object* p = s.textFieldProto;
    method(s, p, "getTextFormat", getTextFormat);
    method(s, p, "setTextFormat", setTextFormat);
    method(s, p, "getNewTextFormat", getNewTextFormat);
    method(s, p, "setNewTextFormat", setNewTextFormat);
}

}  // namespace refplayer::avm1
