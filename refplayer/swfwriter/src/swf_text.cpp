#include "swfwriter/swf_text.h"

#include "swfwriter/swf_writer.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

namespace refplayer::swfwriter {

namespace {

struct Token {
    std::string key;    // "x" in x=10; empty for a positional token
    std::string value;
    bool quoted = false;  // the value was a quoted string
};

struct Line {
    int number = 0;
    std::vector<Token> tokens;
};

// Thrown while compiling; carries the line it concerns.
struct SyntaxError {
    int line;
    std::string message;
};

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted string starting at text[i] == '"'; leaves i after the closing quote.
std::string readQuoted(std::string_view text, size_t& i, int lineNo) {
    std::string out;
    ++i;
    while (i < text.size() && text[i] != '"') {
        char c = text[i++];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= text.size())
            break;
        const char e = text[i++];
        switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case 'x': {
            const int hi = i < text.size() ? hexDigit(text[i]) : -1;
            const int lo = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
            if (hi < 0 || lo < 0 || (hi == 0 && lo == 0))
                throw SyntaxError{lineNo, "bad \\x escape (two hex digits, not 00)"};
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: throw SyntaxError{lineNo, std::string("unknown escape \\") + e};
        }
    }
    if (i >= text.size())
        throw SyntaxError{lineNo, "unterminated string"};
    ++i;
    return out;
}

std::vector<Line> tokenize(std::string_view text) {
    std::vector<Line> lines;
    int number = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = text.size();
        std::string_view raw = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++number;
        if (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        size_t i = 0;
        auto skipSpace = [&] {
            while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t' || raw[i] == ','))
                ++i;
        };
        skipSpace();
        if (i >= raw.size() || raw[i] == '#' || raw.substr(i, 2) == "//")
            continue;
        Line line{number, {}};
        while (true) {
            skipSpace();
            if (i >= raw.size())
                break;
            Token t;
            if (raw[i] == '"') {
                t.value = readQuoted(raw, i, number);
                t.quoted = true;
            } else {
                const size_t start = i;
                while (i < raw.size() && raw[i] != ' ' && raw[i] != '\t' && raw[i] != ',' && raw[i] != '=' &&
                       raw[i] != '"')
                    ++i;
                std::string word(raw.substr(start, i - start));
                if (i < raw.size() && raw[i] == '=') {
                    ++i;
                    if (word.empty())
                        throw SyntaxError{number, "'=' without a name"};
                    t.key = lower(word);
                    if (i < raw.size() && raw[i] == '"') {
                        t.value = readQuoted(raw, i, number);
                        t.quoted = true;
                    } else {
                        const size_t vs = i;
                        while (i < raw.size() && raw[i] != ' ' && raw[i] != '\t' && raw[i] != ',' && raw[i] != '"')
                            ++i;
                        t.value = std::string(raw.substr(vs, i - vs));
                    }
                } else if (i < raw.size() && raw[i] == '"') {
                    throw SyntaxError{number, "quote inside a word"};
                } else {
                    t.value = std::move(word);
                }
            }
            line.tokens.push_back(std::move(t));
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// The arguments of one line: positional tokens and name=value options. Every
// option must be used, so a misspelt one is an error, not silently ignored.
class Args {
public:
    Args(const Line& line, size_t first) : line_(line.number) {
        for (size_t i = first; i < line.tokens.size(); ++i) {
            const Token& t = line.tokens[i];
            if (t.key.empty()) {
                positional_.push_back(t);
            } else if (!named_.emplace(t.key, t).second) {
                throw SyntaxError{line_, "option " + t.key + " given twice"};
            }
        }
    }
    int line() const { return line_; }
    size_t count() const { return positional_.size(); }
    const Token& at(size_t i) const {
        if (i >= positional_.size())
            fail("missing argument " + std::to_string(i + 1));
        return positional_[i];
    }
    const Token* option(const std::string& key) {
        auto it = named_.find(key);
        if (it == named_.end())
            return nullptr;
        used_.insert(key);
        return &it->second;
    }
    // Positional words from `from` on are flags; each must be one of `known`.
    std::set<std::string> flags(size_t from, std::initializer_list<const char*> known) const {
        std::set<std::string> out;
        for (size_t i = from; i < positional_.size(); ++i) {
            const std::string w = lower(positional_[i].value);
            bool ok = !positional_[i].quoted;
            if (ok) {
                ok = false;
                for (const char* k : known)
                    ok = ok || w == k;
            }
            if (!ok)
                fail("unexpected \"" + positional_[i].value + "\"");
            out.insert(w);
        }
        return out;
    }
    void finish() const {
        for (const auto& [key, t] : named_)
            if (!used_.count(key))
                fail("unknown option " + key + "=");
    }
    [[noreturn]] void fail(const std::string& message) const { throw SyntaxError{line_, message}; }

private:
    int line_;
    std::vector<Token> positional_;
    std::map<std::string, Token> named_;
    std::set<std::string> used_;
};

class Compiler {
public:
    Compiler(std::vector<Line> lines, const FileReader& reader) : lines_(std::move(lines)), reader_(reader) {}

    std::vector<uint8_t> run();

private:
    // --- values ---
    double number(const Token& t, int line, const char* what) const;
    int64_t integer(const Token& t, int line, const char* what, int64_t lo, int64_t hi) const;
    Rgba color(const Token& t, int line) const;
    int32_t twips(const Token& t, int line) const { return pxToTwips(number(t, line, "coordinate")); }
    std::vector<uint8_t> data(Args& a, bool required);
    uint16_t character(const Token& t, int line) const;

    // --- blocks ---
    const Line& next();
    bool atEnd() const { return pos_ >= lines_.size(); }
    static std::string word(const Line& l) { return lower(l.tokens[0].value); }
    void timelineCommand(Timeline& tl, const Line& l, bool root);
    void define(const Line& l);
    void shape(const Line& header);
    void button(const Line& header);
    void actions(ActionAssembler& as);
    void action(ActionAssembler& as, const Line& l, std::map<std::string, Label>& labels);
    PushValue pushValue(const Token& t, int line) const;
    Operand operand(const Token& t, int line) const;
    Matrix matrixOptions(Args& a) const;
    void name(const std::string& n, uint16_t id, int line);

    std::vector<Line> lines_;
    size_t pos_ = 0;
    const FileReader& reader_;
  public:
    int lastLine_ = 0;  // the line being compiled, for the writer's own errors
  private:
    std::optional<Movie> movie_;
    Compression compression_ = Compression::None;
    std::map<std::string, uint16_t> symbols_;
};

const Line& Compiler::next() {
    lastLine_ = lines_[pos_].number;
    return lines_[pos_++];
}

double Compiler::number(const Token& t, int line, const char* what) const {
    if (t.quoted || t.value.empty())
        throw SyntaxError{line, std::string(what) + " must be a number"};
    char* end = nullptr;
    const double v = std::strtod(t.value.c_str(), &end);
    if (end != t.value.c_str() + t.value.size() || !std::isfinite(v))
        throw SyntaxError{line, std::string(what) + " must be a number, not \"" + t.value + "\""};
    return v;
}

int64_t Compiler::integer(const Token& t, int line, const char* what, int64_t lo, int64_t hi) const {
    const double v = number(t, line, what);
    if (v != std::floor(v) || v < double(lo) || v > double(hi))
        throw SyntaxError{line, std::string(what) + " must be a whole number from " + std::to_string(lo) + " to " +
                                    std::to_string(hi)};
    return static_cast<int64_t>(v);
}

Rgba Compiler::color(const Token& t, int line) const {
    const std::string& s = t.value;
    if (s.size() != 7 && s.size() != 9)
        throw SyntaxError{line, "colour must be #RRGGBB or #RRGGBBAA"};
    if (s[0] != '#')
        throw SyntaxError{line, "colour must start with #"};
    uint32_t v = 0;
    for (size_t i = 1; i < s.size(); ++i) {
        const int d = hexDigit(s[i]);
        if (d < 0)
            throw SyntaxError{line, "bad hex digit in colour"};
        v = v * 16 + static_cast<uint32_t>(d);
    }
    return s.size() == 7 ? Rgba::rgb(v) : Rgba::rgba(v);
}

std::vector<uint8_t> Compiler::data(Args& a, bool required) {
    const Token* hex = a.option("hex");
    const Token* file = a.option("file");
    if (hex && file)
        a.fail("give hex= or file=, not both");
    if (hex) {
        std::vector<uint8_t> out;
        const std::string& s = hex->value;
        if (s.size() % 2)
            a.fail("hex= needs an even number of digits");
        for (size_t i = 0; i < s.size(); i += 2) {
            const int hi = hexDigit(s[i]), lo = hexDigit(s[i + 1]);
            if (hi < 0 || lo < 0)
                a.fail("bad hex digit");
            out.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
        return out;
    }
    if (file) {
        if (!reader_)
            a.fail("files cannot be read here");
        auto bytes = reader_(file->value);
        if (!bytes)
            a.fail("cannot read \"" + file->value + "\"");
        return std::move(*bytes);
    }
    if (required)
        a.fail("needs hex= or file=");
    return {};
}

uint16_t Compiler::character(const Token& t, int line) const {
    auto it = symbols_.find(t.value);
    if (it == symbols_.end())
        throw SyntaxError{line, "unknown character \"" + t.value + "\""};
    return it->second;
}

void Compiler::name(const std::string& n, uint16_t id, int line) {
    if (n.empty() || !symbols_.emplace(n, id).second)
        throw SyntaxError{line, "character name \"" + n + "\" empty or already used"};
}

Matrix Compiler::matrixOptions(Args& a) const {
    double sx = 1, sy = 1, rot = 0;
    int32_t x = 0, y = 0;
    if (const Token* t = a.option("scale")) sx = sy = number(*t, a.line(), "scale");
    if (const Token* t = a.option("sx")) sx = number(*t, a.line(), "sx");
    if (const Token* t = a.option("sy")) sy = number(*t, a.line(), "sy");
    if (const Token* t = a.option("rotate")) rot = number(*t, a.line(), "rotate");
    if (const Token* t = a.option("x")) x = twips(*t, a.line());
    if (const Token* t = a.option("y")) y = twips(*t, a.line());
    return Matrix::make(sx, sy, rot, x, y);
}

std::vector<uint8_t> Compiler::run() {
    if (atEnd())
        throw SyntaxError{1, "empty description: it starts with a movie line"};
    {
        const Line& l = next();
        if (word(l) != "movie")
            throw SyntaxError{l.number, "the first line must be: movie version=N width=W height=H rate=R"};
        Args a(l, 1);
        const Token* v = a.option("version");
        const Token* w = a.option("width");
        const Token* h = a.option("height");
        const Token* r = a.option("rate");
        if (!v || !w || !h || !r)
            a.fail("movie needs version=, width=, height= and rate=");
        const auto flags = a.flags(0, {"compress"});
        compression_ = flags.count("compress") ? Compression::Zlib : Compression::None;
        movie_.emplace(static_cast<uint8_t>(integer(*v, l.number, "version", 1, 255)),
                       static_cast<uint16_t>(integer(*w, l.number, "width", 1, 8191)),
                       static_cast<uint16_t>(integer(*h, l.number, "height", 1, 8191)),
                       number(*r, l.number, "rate"));
        a.finish();
    }
    while (!atEnd()) {
        const Line& l = next();
        const std::string w = word(l);
        if (w == "end")
            throw SyntaxError{l.number, "end without a block"};
        if (w == "attributes") {
            Args a(l, 1);
            const auto f = a.flags(0, {"network", "metadata", "as3", "gpu", "directblit"});
            a.finish();
            movie_->fileAttributes((f.count("network") ? file_attr::UseNetwork : 0) |
                                   (f.count("metadata") ? file_attr::HasMetadata : 0) |
                                   (f.count("as3") ? file_attr::ActionScript3 : 0) |
                                   (f.count("gpu") ? file_attr::UseGpu : 0) |
                                   (f.count("directblit") ? file_attr::UseDirectBlit : 0));
        } else if (w == "background") {
            Args a(l, 1);
            movie_->setBackgroundColor(color(a.at(0), l.number));
            a.flags(1, {});
            a.finish();
        } else if (w == "shape" || w == "sprite" || w == "button" || w == "text" || w == "font" || w == "video" ||
                   w == "export" || w == "initactions" || w == "bitmap" || w == "jpeg") {
            define(l);
        } else {
            timelineCommand(*movie_, l, true);
        }
    }
    return movie_->build(compression_);
}

void Compiler::define(const Line& l) {
    const std::string w = word(l);
    Args a(l, 1);
    if (w == "shape") {
        shape(l);
    } else if (w == "sprite") {
        const std::string n = a.at(0).value;
        a.flags(1, {});
        a.finish();
        Timeline sprite;
        while (true) {
            if (atEnd())
                throw SyntaxError{l.number, "sprite without end"};
            const Line& inner = next();
            if (word(inner) == "end") {
                Args(inner, 1).flags(0, {});
                break;
            }
            timelineCommand(sprite, inner, false);
        }
        name(n, movie_->defineSprite(sprite), l.number);
    } else if (w == "button") {
        button(l);
    } else if (w == "jpeg") {
        const std::string n = a.at(0).value;
        a.flags(1, {});
        const auto bytes = data(a, true);
        a.finish();
        name(n, movie_->defineBitsJpeg2(bytes), l.number);
    } else if (w == "bitmap") {
        // Straight RGBA, four bytes a pixel; any alpha below FF makes it DefineBitsLossless2.
        const std::string n = a.at(0).value;
        LosslessBitmap bm;
        bm.width = static_cast<uint16_t>(integer(a.at(1), l.number, "width", 1, 65535));
        bm.height = static_cast<uint16_t>(integer(a.at(2), l.number, "height", 1, 65535));
        a.flags(3, {});
        const auto bytes = data(a, true);
        a.finish();
        if (bytes.size() != size_t{bm.width} * bm.height * 4)
            a.fail("bitmap needs four bytes (RRGGBBAA) a pixel");
        for (size_t i = 0; i < bytes.size(); i += 4) {
            bm.pixels.push_back(Rgba{bytes[i], bytes[i + 1], bytes[i + 2], bytes[i + 3]});
            bm.alpha = bm.alpha || bytes[i + 3] != 0xFF;
        }
        name(n, movie_->defineBitsLossless(bm), l.number);
    } else if (w == "text") {
        EditText t;
        const std::string n = a.at(0).value;
        const int32_t x = twips(a.at(1), l.number), y = twips(a.at(2), l.number);
        const int32_t tw = twips(a.at(3), l.number), th = twips(a.at(4), l.number);
        t.bounds = {x, x + tw, y, y + th};
        if (const Token* v = a.option("var")) t.variable = v->value;
        if (const Token* v = a.option("text")) t.initialText = v->value;
        if (const Token* v = a.option("size")) t.fontHeight = static_cast<uint16_t>(integer(*v, l.number, "size", 1, 3276) * kTwipsPerPixel);
        if (const Token* v = a.option("color")) t.color = color(*v, l.number);
        if (const Token* v = a.option("font")) {
            t.font = character(*v, l.number);
            if (t.fontHeight == 0)
                t.fontHeight = 12 * kTwipsPerPixel;
        }
        if (const Token* v = a.option("maxlength")) t.maxLength = static_cast<uint16_t>(integer(*v, l.number, "maxlength", 0, 65535));
        if (const Token* v = a.option("align")) {
            static const char* names[] = {"left", "right", "center", "justify"};
            const std::string al = lower(v->value);
            EditText::Layout layout;
            bool found = false;
            for (uint8_t i = 0; i < 4; ++i)
                if (al == names[i]) { layout.align = i; found = true; }
            if (!found)
                a.fail("align must be left, right, center or justify");
            t.layout = layout;
        }
        const auto f = a.flags(5, {"wordwrap", "multiline", "password", "readonly", "autosize", "noselect", "border",
                                   "html", "outlines"});
        t.wordWrap = f.count("wordwrap");
        t.multiline = f.count("multiline");
        t.password = f.count("password");
        t.readOnly = f.count("readonly");
        t.autoSize = f.count("autosize");
        t.noSelect = f.count("noselect");
        t.border = f.count("border");
        t.html = f.count("html");
        t.useOutlines = f.count("outlines");
        a.finish();
        name(n, movie_->defineEditText(t), l.number);
    } else if (w == "font") {
        const std::string n = a.at(0).value;
        const std::string face = a.at(1).value;
        const auto f = a.flags(2, {"bold", "italic"});
        a.finish();
        name(n, movie_->defineDeviceFont(face, f.count("bold"), f.count("italic")), l.number);
    } else if (w == "video") {
        VideoStream v;
        const std::string n = a.at(0).value;
        v.width = static_cast<uint16_t>(integer(a.at(1), l.number, "width", 1, 65535));
        v.height = static_cast<uint16_t>(integer(a.at(2), l.number, "height", 1, 65535));
        if (const Token* t = a.option("frames")) v.numFrames = static_cast<uint16_t>(integer(*t, l.number, "frames", 0, 65535));
        if (const Token* t = a.option("codec")) v.codec = static_cast<uint8_t>(integer(*t, l.number, "codec", 0, 255));
        if (const Token* t = a.option("deblocking")) v.deblocking = static_cast<uint8_t>(integer(*t, l.number, "deblocking", 0, 7));
        v.smoothing = a.flags(3, {"smoothing"}).count("smoothing");
        a.finish();
        name(n, movie_->defineVideoStream(v), l.number);
    } else if (w == "export") {
        const uint16_t id = character(a.at(0), l.number);
        const std::string symbol = a.at(1).value;
        a.flags(2, {});
        a.finish();
        movie_->exportAssets({{id, symbol}});
    } else if (w == "initactions") {
        const uint16_t id = character(a.at(0), l.number);
        a.flags(1, {});
        a.finish();
        ActionAssembler as;
        actions(as);
        movie_->doInitAction(id, as);
    }
}

void Compiler::shape(const Line& header) {
    Args a(header, 1);
    const std::string n = a.at(0).value;
    int version = 3;
    if (const Token* t = a.option("version"))
        version = static_cast<int>(integer(*t, header.number, "version", 1, 4));
    a.flags(1, {});
    a.finish();
    ShapeBuilder shape(version);
    std::map<std::string, uint32_t> fills, lines;
    auto styles = [&](Args& args, uint32_t& fill, uint32_t& line) {
        fill = line = 0;
        if (const Token* t = args.option("fill")) {
            auto it = fills.find(t->value);
            if (it == fills.end())
                args.fail("unknown fill \"" + t->value + "\"");
            fill = it->second;
        }
        if (const Token* t = args.option("line")) {
            auto it = lines.find(t->value);
            if (it == lines.end())
                args.fail("unknown line \"" + t->value + "\"");
            line = it->second;
        }
    };
    while (true) {
        if (atEnd())
            throw SyntaxError{header.number, "shape without end"};
        const Line& l = next();
        const std::string w = word(l);
        Args s(l, 1);
        uint32_t fill = 0, line = 0;
        if (w == "end") {
            s.flags(0, {});
            break;
        } else if (w == "fill") {
            const std::string fn = s.at(0).value;
            const Rgba c = color(s.at(1), l.number);
            s.flags(2, {});
            s.finish();
            fills[fn] = shape.addFill(c);
        } else if (w == "bitmapfill") {
            // One bitmap pixel is one pixel at scale 1: the fill's matrix scales by 20 twips.
            const std::string fn = s.at(0).value;
            BitmapFill bf;
            bf.bitmap = character(s.at(1), l.number);
            const auto f = s.flags(2, {"clip", "nosmooth"});
            bf.repeat = !f.count("clip");
            bf.smooth = !f.count("nosmooth");
            Matrix m = matrixOptions(s);
            s.finish();
            for (int32_t* term : {&m.scaleX, &m.scaleY, &m.rotateSkew0, &m.rotateSkew1}) {
                const int64_t v = int64_t{*term} * kTwipsPerPixel;
                if (v < INT32_MIN || v > INT32_MAX)
                    s.fail("bitmap fill scale out of range");
                *term = static_cast<int32_t>(v);
            }
            bf.matrix = m;
            fills[fn] = shape.addFill(bf);
        } else if (w == "line") {
            const std::string ln = s.at(0).value;
            const int32_t width = twips(s.at(1), l.number);
            if (width < 0 || width > 65535)
                s.fail("line width out of range");
            const Rgba c = color(s.at(2), l.number);
            s.flags(3, {});
            s.finish();
            lines[ln] = shape.addLine(static_cast<uint16_t>(width), c);
        } else if (w == "newstyles") {
            s.flags(0, {});
            shape.newStyles();
            fills.clear();
            lines.clear();
        } else if (w == "rect") {
            styles(s, fill, line);
            const int32_t x = twips(s.at(0), l.number), y = twips(s.at(1), l.number);
            const int32_t rw = twips(s.at(2), l.number), rh = twips(s.at(3), l.number);
            s.flags(4, {});
            s.finish();
            shape.rectangle(x, y, rw, rh, fill, line);
        } else if (w == "ellipse" || w == "circle") {
            styles(s, fill, line);
            const int32_t cx = twips(s.at(0), l.number), cy = twips(s.at(1), l.number);
            const int32_t rx = twips(s.at(2), l.number);
            const int32_t ry = w == "circle" ? rx : twips(s.at(3), l.number);
            s.flags(w == "circle" ? 3 : 4, {});
            s.finish();
            shape.ellipse(cx, cy, rx, ry, fill, line);
        } else if (w == "polygon") {
            styles(s, fill, line);
            s.finish();
            if (s.count() < 4 || s.count() % 2)
                s.fail("polygon needs pairs of coordinates, at least two points");
            std::vector<Point> pts;
            for (size_t i = 0; i < s.count(); i += 2)
                pts.push_back({twips(s.at(i), l.number), twips(s.at(i + 1), l.number)});
            shape.polygon(pts, fill, line);
        } else if (w == "path") {
            styles(s, fill, line);
            s.finish();
            Path p;
            size_t i = 0;
            auto coord = [&] { return twips(s.at(i++), l.number); };
            while (i < s.count()) {
                const std::string cmd = lower(s.at(i++).value);
                if (cmd == "m") { const int32_t x = coord(); p.moveTo(x, coord()); }
                else if (cmd == "l") { const int32_t x = coord(); p.lineTo(x, coord()); }
                else if (cmd == "q") {
                    const int32_t cx = coord(), cy = coord(), x = coord();
                    p.curveTo(cx, cy, x, coord());
                } else if (cmd == "z") p.close();
                else s.fail("path commands are M x y, L x y, Q cx cy x y and Z");
            }
            shape.addPath(p, fill, line);
        } else {
            s.fail("unknown shape command \"" + l.tokens[0].value + "\"");
        }
    }
    name(n, movie_->defineShape(shape), header.number);
}

void Compiler::button(const Line& header) {
    Args a(header, 1);
    const std::string n = a.at(0).value;
    Button b;
    b.trackAsMenu = a.flags(1, {"menu"}).count("menu");
    a.finish();
    while (true) {
        if (atEnd())
            throw SyntaxError{header.number, "button without end"};
        const Line& l = next();
        const std::string w = word(l);
        Args s(l, 1);
        if (w == "end") {
            s.flags(0, {});
            break;
        } else if (w == "state") {
            ButtonRecord r;
            r.states = 0;
            std::string list = lower(s.at(0).value) + "|";
            for (size_t start = 0, bar; (bar = list.find('|', start)) != std::string::npos; start = bar + 1) {
                const std::string st = list.substr(start, bar - start);
                if (st == "up") r.states |= button_state::Up;
                else if (st == "over") r.states |= button_state::Over;
                else if (st == "down") r.states |= button_state::Down;
                else if (st == "hit") r.states |= button_state::HitTest;
                else if (st == "all") r.states |= 0x0F;
                else s.fail("button states are up, over, down, hit, all (joined with |)");
            }
            r.character = character(s.at(1), l.number);
            if (const Token* t = s.option("depth")) r.depth = static_cast<uint16_t>(integer(*t, l.number, "depth", 1, 65535));
            if (const Token* t = s.option("alpha")) r.colorTransform = CxForm::alpha(number(*t, l.number, "alpha"));
            r.matrix = matrixOptions(s);
            s.flags(2, {});
            s.finish();
            b.records.push_back(r);
        } else if (w == "on") {
            ButtonAction act;
            act.conditions = 0;
            std::string list = s.at(0).value + "|";
            for (size_t start = 0, bar; (bar = list.find('|', start)) != std::string::npos; start = bar + 1) {
                const std::string raw = list.substr(start, bar - start);
                const std::string c = lower(raw);
                if (c == "press") act.conditions |= button_cond::Press;
                else if (c == "release") act.conditions |= button_cond::Release;
                else if (c == "rollover") act.conditions |= button_cond::RollOver;
                else if (c == "rollout") act.conditions |= button_cond::RollOut;
                else if (c == "dragover") act.conditions |= button_cond::DragOver;
                else if (c == "dragout") act.conditions |= button_cond::DragOut;
                else if (c == "releaseoutside") act.conditions |= button_cond::ReleaseOutside;
                else if (c.rfind("key:", 0) == 0) {
                    const std::string k = raw.substr(4);
                    int code = -1;
                    if (k.size() == 1 && k[0] >= 32 && k[0] <= 126) code = k[0];
                    else if (!k.empty() && std::isdigit(static_cast<unsigned char>(k[0]))) {
                        Token kt;
                        kt.value = k;
                        code = static_cast<int>(integer(kt, l.number, "key code", 1, 127));
                    }
                    if (code < 0)
                        s.fail("key: takes one printable character or a key code");
                    act.conditions |= button_cond::keyPress(static_cast<uint8_t>(code));
                } else {
                    s.fail("button events are press, release, rollover, rollout, dragover, dragout, "
                           "releaseoutside, key:C (joined with |)");
                }
            }
            s.flags(1, {});
            s.finish();
            actions(act.actions);
            b.actions.push_back(std::move(act));
        } else {
            s.fail("unknown button command \"" + l.tokens[0].value + "\"");
        }
    }
    name(n, movie_->defineButton(b), header.number);
}

void Compiler::timelineCommand(Timeline& tl, const Line& l, bool root) {
    const std::string w = word(l);
    Args a(l, 1);
    if (w == "frame") {
        unsigned n = 1;
        if (a.count() > 0)
            n = static_cast<unsigned>(integer(a.at(0), l.number, "frame count", 1, 65535));
        a.flags(a.count() > 0 ? 1 : 0, {});
        a.finish();
        tl.showFrame(n);
    } else if (w == "label") {
        const std::string n = a.at(0).value;
        const bool anchor = a.flags(1, {"anchor"}).count("anchor");
        a.finish();
        tl.frameLabel(n, anchor);
    } else if (w == "place" || w == "move" || w == "replace") {
        PlaceObject p;
        p.depth = static_cast<uint16_t>(integer(a.at(0), l.number, "depth", 1, 65535));
        p.move = w != "place";
        size_t used = 1;
        if (w != "move") {
            p.character = character(a.at(1), l.number);
            used = 2;
        }
        const bool hasMatrix = a.option("x") || a.option("y") || a.option("scale") || a.option("sx") ||
                               a.option("sy") || a.option("rotate");
        if (hasMatrix || w == "place")
            p.matrix = matrixOptions(a);
        if (const Token* t = a.option("name")) p.name = t->value;
        if (const Token* t = a.option("alpha")) p.colorTransform = CxForm::alpha(number(*t, l.number, "alpha"));
        if (const Token* t = a.option("ratio")) p.ratio = static_cast<uint16_t>(integer(*t, l.number, "ratio", 0, 65535));
        if (const Token* t = a.option("clipdepth")) p.clipDepth = static_cast<uint16_t>(integer(*t, l.number, "clipdepth", 1, 65535));
        if (const Token* t = a.option("blend")) p.blendMode = static_cast<uint8_t>(integer(*t, l.number, "blend", 0, 255));
        if (const Token* t = a.option("class")) p.className = t->value;
        if (const Token* t = a.option("visible")) p.visible = integer(*t, l.number, "visible", 0, 1) != 0;
        const auto f = a.flags(used, {"cache", "po3"});
        if (f.count("cache")) p.cacheAsBitmap = true;
        a.finish();
        if (f.count("po3")) tl.placeObject3(p);
        else tl.place(p);
    } else if (w == "remove") {
        const auto depth = static_cast<uint16_t>(integer(a.at(0), l.number, "depth", 1, 65535));
        a.flags(1, {});
        a.finish();
        tl.removeObject2(depth);
    } else if (w == "actions") {
        a.flags(0, {});
        a.finish();
        ActionAssembler as;
        actions(as);
        tl.doAction(as);
    } else if (w == "videoframe") {
        const uint16_t id = character(a.at(0), l.number);
        const auto frame = static_cast<uint16_t>(integer(a.at(1), l.number, "frame number", 0, 65535));
        a.flags(2, {});
        const auto bytes = data(a, true);
        a.finish();
        tl.videoFrame(id, frame, bytes);
    } else if (w == "tag") {
        const auto code = static_cast<uint16_t>(integer(a.at(0), l.number, "tag code", 1, 1023));
        const bool longHeader = a.flags(1, {"long"}).count("long");
        const auto bytes = data(a, false);
        a.finish();
        tl.rawTag(code, bytes, longHeader);
    } else if (!root && (w == "shape" || w == "sprite" || w == "button" || w == "text" || w == "font" ||
                         w == "video" || w == "export" || w == "initactions" || w == "bitmap" || w == "jpeg")) {
        a.fail("definitions belong on the main timeline, not in a sprite");
    } else {
        a.fail("unknown command \"" + l.tokens[0].value + "\"");
    }
}

void Compiler::actions(ActionAssembler& as) {
    const int start = pos_ > 0 ? lines_[pos_ - 1].number : 1;
    std::map<std::string, Label> labels;
    std::map<std::string, int> firstUse;
    std::set<std::string> defined;
    while (true) {
        if (atEnd())
            throw SyntaxError{start, "action block without end"};
        const Line& l = next();
        if (word(l) == "end") {
            Args(l, 1).flags(0, {});
            break;
        }
        // A label: one unquoted word ending in ':'.
        const Token& first = l.tokens[0];
        if (l.tokens.size() == 1 && !first.quoted && first.key.empty() && first.value.size() > 1 &&
            first.value.back() == ':') {
            const std::string n = first.value.substr(0, first.value.size() - 1);
            if (!defined.insert(n).second)
                throw SyntaxError{l.number, "label " + n + " defined twice"};
            auto it = labels.find(n);
            if (it == labels.end())
                it = labels.emplace(n, as.newLabel()).first;
            as.bind(it->second);
            continue;
        }
        const std::string w = word(l);
        if ((w == "jump" || w == "if") && l.tokens.size() > 1)
            firstUse.emplace(l.tokens[1].value, l.number);
        action(as, l, labels);
    }
    for (const auto& [n, line] : firstUse)
        if (!defined.count(n))
            throw SyntaxError{line, "label " + n + " is never defined"};
}

PushValue Compiler::pushValue(const Token& t, int line) const {
    if (!t.key.empty())
        throw SyntaxError{line, "unexpected option " + t.key + "="};
    if (t.quoted)
        return PushValue(t.value);
    const std::string v = lower(t.value);
    if (v == "true") return PushValue(true);
    if (v == "false") return PushValue(false);
    if (v == "null") return PushValue(Null{});
    if (v == "undefined") return PushValue(Undefined{});
    auto sub = [&](size_t skip) { Token s; s.value = t.value.substr(skip); return s; };
    if (v.rfind("r:", 0) == 0)
        return PushValue(Register{static_cast<uint8_t>(integer(sub(2), line, "register", 0, 255))});
    if (v.rfind("c:", 0) == 0)
        return PushValue(Constant{static_cast<uint16_t>(integer(sub(2), line, "constant index", 0, 65535))});
    if (v.rfind("f:", 0) == 0)
        return PushValue(Float{static_cast<float>(number(sub(2), line, "float"))});
    if (v.rfind("d:", 0) == 0)
        return PushValue(number(sub(2), line, "double"));
    const bool looksNumeric = !v.empty() && (std::isdigit(static_cast<unsigned char>(v[0])) ||
                                             ((v[0] == '-' || v[0] == '+' || v[0] == '.') && v.size() > 1));
    if (!looksNumeric)
        throw SyntaxError{line, "\"" + t.value + "\" is not a value (quote strings)"};
    const bool whole = v.find_first_of(".e") == std::string::npos;
    const double d = number(t, line, "value");
    if (whole && d >= INT32_MIN && d <= INT32_MAX)
        return PushValue(static_cast<int32_t>(d));
    return PushValue(d);
}

Operand Compiler::operand(const Token& t, int line) const {
    // A bare word that is not a literal reads a variable or dotted path.
    if (!t.quoted && t.key.empty() && !t.value.empty()) {
        const std::string v = lower(t.value);
        const bool literal = v == "true" || v == "false" || v == "null" || v == "undefined" ||
                             (v.size() > 1 && v[1] == ':' && std::string("rcfd").find(v[0]) != std::string::npos) ||
                             std::isdigit(static_cast<unsigned char>(v[0])) || v[0] == '-' || v[0] == '+' || v[0] == '.';
        if (!literal) {
            const std::string path = t.value;
            return Emitter([path](ActionAssembler& as) { as.getPath(path); });
        }
    }
    return pushValue(t, line);
}

void Compiler::action(ActionAssembler& as, const Line& l, std::map<std::string, Label>& labels) {
    const std::string w = word(l);
    Args a(l, 1);
    auto label = [&](const Token& t) {
        auto it = labels.find(t.value);
        if (it == labels.end())
            it = labels.emplace(t.value, as.newLabel()).first;
        return it->second;
    };
    auto noFlags = [&](size_t from) { a.flags(from, {}); a.finish(); };
    auto operands = [&](size_t from) {
        std::vector<Operand> out;
        for (size_t i = from; i < a.count(); ++i)
            out.push_back(operand(a.at(i), l.number));
        a.finish();
        return out;
    };

    if (auto code = simpleActionCode(w); code && a.count() == 0) {
        a.finish();
        as.simple(*code);
    } else if (w == "trace") {
        const Operand v = operand(a.at(0), l.number);
        noFlags(1);
        as.traceValue(v);
    } else if (w == "push") {
        std::vector<PushValue> values;
        for (size_t i = 0; i < a.count(); ++i)
            values.push_back(pushValue(a.at(i), l.number));
        a.finish();
        if (values.empty())
            a.fail("push needs a value");
        as.push(values);
    } else if (w == "constants") {
        std::vector<std::string> pool;
        for (size_t i = 0; i < a.count(); ++i) {
            if (!a.at(i).quoted)
                a.fail("constants are quoted strings");
            pool.push_back(a.at(i).value);
        }
        a.finish();
        as.constantPool(pool);
    } else if (w == "jump" || w == "if") {
        const Label target = label(a.at(0));
        noFlags(1);
        if (w == "jump") as.jump(target); else as.branchIfTrue(target);
    } else if (w == "storeregister") {
        const auto r = static_cast<uint8_t>(integer(a.at(0), l.number, "register", 0, 255));
        noFlags(1);
        as.storeRegister(r);
    } else if (w == "gotoframe") {
        const auto f = static_cast<uint16_t>(integer(a.at(0), l.number, "frame index", 0, 65535));
        noFlags(1);
        as.gotoFrame(f);
    } else if (w == "gotoandplay" || w == "gotoandstop") {
        const Token& t = a.at(0);
        const bool play = w == "gotoandplay";
        if (t.quoted) {
            play ? as.gotoAndPlay(std::string_view(t.value)) : as.gotoAndStop(std::string_view(t.value));
        } else {
            const auto f = static_cast<uint16_t>(integer(t, l.number, "frame number", 1, 65535));
            play ? as.gotoAndPlay(f) : as.gotoAndStop(f);
        }
        noFlags(1);
    } else if (w == "gotolabel") {
        const std::string n = a.at(0).value;
        noFlags(1);
        as.goToLabel(n);
    } else if (w == "gotoframe2") {
        uint16_t bias = 0;
        if (const Token* t = a.option("bias")) bias = static_cast<uint16_t>(integer(*t, l.number, "bias", 0, 65535));
        const bool play = a.flags(0, {"play"}).count("play");
        a.finish();
        as.gotoFrame2(play, bias);
    } else if (w == "geturl") {
        const std::string url = a.at(0).value;
        const std::string target = a.count() > 1 ? a.at(1).value : "";
        noFlags(a.count() > 1 ? 2 : 1);
        as.getUrl(url, target);
    } else if (w == "geturl2") {
        const auto f = a.flags(0, {"get", "post", "target", "variables"});
        a.finish();
        if (f.count("get") && f.count("post"))
            a.fail("geturl2 takes get or post, not both");
        as.getUrl2(f.count("get") ? SendVars::Get : f.count("post") ? SendVars::Post : SendVars::None,
                   f.count("target"), f.count("variables"));
    } else if (w == "settarget") {
        const std::string t = a.at(0).value;
        noFlags(1);
        as.setTarget(t);
    } else if (w == "function" || w == "function2") {
        const std::string fname = a.at(0).value;
        ActionAssembler body;
        if (w == "function") {
            std::vector<std::string> params;
            for (size_t i = 1; i < a.count(); ++i)
                params.push_back(a.at(i).value);
            a.finish();
            actions(body);
            as.defineFunction(fname, params, body);
        } else {
            uint8_t regs = 0;
            uint16_t flags = 0;
            if (const Token* t = a.option("regs")) regs = static_cast<uint8_t>(integer(*t, l.number, "regs", 0, 255));
            if (const Token* t = a.option("flags")) {
                static const std::pair<const char*, uint16_t> names[] = {
                    {"preloadthis", fn2::PreloadThis}, {"suppressthis", fn2::SuppressThis},
                    {"preloadarguments", fn2::PreloadArguments}, {"suppressarguments", fn2::SuppressArguments},
                    {"preloadsuper", fn2::PreloadSuper}, {"suppresssuper", fn2::SuppressSuper},
                    {"preloadroot", fn2::PreloadRoot}, {"preloadparent", fn2::PreloadParent},
                    {"preloadglobal", fn2::PreloadGlobal}};
                const std::string list = lower(t->value) + "|";
                for (size_t s = 0, bar; (bar = list.find('|', s)) != std::string::npos; s = bar + 1) {
                    const std::string f = list.substr(s, bar - s);
                    bool found = false;
                    for (const auto& [n, bit] : names)
                        if (f == n) { flags |= bit; found = true; }
                    if (!found)
                        a.fail("unknown function2 flag \"" + f + "\"");
                }
            }
            std::vector<RegisterParam> params;
            for (size_t i = 1; i < a.count(); ++i) {
                const std::string& p = a.at(i).value;
                const size_t colon = p.find(':');
                RegisterParam rp;
                if (colon == std::string::npos) {
                    rp.name = p;
                } else {
                    Token rt;
                    rt.value = p.substr(0, colon);
                    rp.reg = static_cast<uint8_t>(integer(rt, l.number, "parameter register", 1, 255));
                    rp.name = p.substr(colon + 1);
                }
                if (rp.name.empty())
                    a.fail("empty parameter name");
                params.push_back(rp);
            }
            a.finish();
            actions(body);
            as.defineFunction2(fname, regs, flags, params, body);
        }
    } else if (w == "raw") {
        const auto code = static_cast<uint8_t>(integer(a.at(0), l.number, "action code", 1, 255));
        a.flags(1, {});
        const auto payload = data(a, false);
        a.finish();
        as.raw(code, payload);
    } else if (w == "fscommand") {
        const std::string cmd = a.at(0).value;
        const std::string args = a.count() > 1 ? a.at(1).value : "";
        noFlags(a.count() > 1 ? 2 : 1);
        as.fscommand(cmd, args);
    } else if (w == "set") {
        const std::string path = a.at(0).value;
        const Operand v = operand(a.at(1), l.number);
        noFlags(2);
        as.setPath(path, v);
    } else if (w == "get") {
        const std::string path = a.at(0).value;
        noFlags(1);
        as.getPath(path);
    } else if (w == "call") {
        const std::string target = a.at(0).value;
        const auto args = operands(1);
        const size_t dot = target.rfind('.');
        if (dot == std::string::npos)
            as.callFunction(target, args);
        else
            as.callMethod(target.substr(0, dot), target.substr(dot + 1), args);
    } else if (w == "excall") {
        const std::string fname = a.at(0).value;
        const auto args = operands(1);
        as.externalCall(fname, args);
    } else if (w == "addcallback") {
        const std::string cb = a.at(0).value;
        const Operand inst = operand(a.at(1), l.number);
        const Operand method = operand(a.at(2), l.number);
        noFlags(3);
        as.addCallback(cb, inst, method);
    } else {
        a.fail("unknown action \"" + l.tokens[0].value + "\"");
    }
}

}  // namespace

TextCompileResult compileSwfText(std::string_view text, const FileReader& readFile) noexcept {
    TextCompileResult result;
    std::optional<Compiler> c;
    try {
        c.emplace(tokenize(text), readFile);
        result.swf = c->run();
        result.ok = true;
    } catch (const SyntaxError& e) {
        result.error = "line " + std::to_string(e.line) + ": " + e.message;
    } catch (const Error& e) {
        result.error = c ? "line " + std::to_string(c->lastLine_) + ": " + e.what() : e.what();
    } catch (const std::exception& e) {
        result.error = std::string("cannot compile: ") + e.what();
    }
    if (!result.ok)
        result.swf.clear();
    return result;
}

}  // namespace refplayer::swfwriter
