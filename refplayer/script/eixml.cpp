#include "eixml.h"

#include <cmath>
#include <limits>

#include "avm1_internal.h"

namespace refplayer::ei {

bool Value::operator==(const Value& other) const {
    if (kind != other.kind) return false;
    switch (kind) {
    case Kind::Undefined:
    case Kind::Null: return true;
    case Kind::Boolean: return boolean == other.boolean;
    case Kind::Number: return number == other.number || (std::isnan(number) && std::isnan(other.number));
    case Kind::String: return text == other.text;
    case Kind::Array: return items == other.items;
    case Kind::Object: return members == other.members;
    }
    return false;
}

std::string formatNumber(double n) { return avm1::formatNumber(n); }

std::string escapeXml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

std::optional<std::string> unescapeXml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c != '&') {
            out += c;
            ++i;
            continue;
        }
        const size_t semi = text.find(';', i);
        if (semi == std::string_view::npos || semi - i > 12) return std::nullopt;
        const std::string_view entity = text.substr(i + 1, semi - i - 1);
        i = semi + 1;
        if (entity == "amp") out += '&';
        else if (entity == "lt") out += '<';
        else if (entity == "gt") out += '>';
        else if (entity == "quot") out += '"';
        else if (entity == "apos") out += '\'';
        else if (entity.size() >= 2 && entity[0] == '#') {
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            if (digits.empty() || digits.size() > 8) return std::nullopt;
            uint32_t code = 0;
            for (char d : digits) {
                int v;
                if (d >= '0' && d <= '9') v = d - '0';
                else if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
                else if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
                else return std::nullopt;
                code = code * (hex ? 16u : 10u) + static_cast<uint32_t>(v);
            }
            if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
            avm1::appendUtf8(out, code);
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// --- writing ---------------------------------------------------------------------------

namespace {
void encode(std::string& out, const Value& v, int depth) {
    switch (v.kind) {
    case Value::Kind::Undefined: out += "<undefined/>"; return;
    case Value::Kind::Null: out += "<null/>"; return;
    case Value::Kind::Boolean: out += v.boolean ? "<true/>" : "<false/>"; return;
    case Value::Kind::Number: out += "<number>" + formatNumber(v.number) + "</number>"; return;
    case Value::Kind::String: out += "<string>" + escapeXml(v.text) + "</string>"; return;
    case Value::Kind::Array:
    case Value::Kind::Object: break;
    }
    if (depth >= kMaxDepth) {
        out += "<null/>";
        return;
    }
    const bool array = v.kind == Value::Kind::Array;
    out += array ? "<array>" : "<object>";
    if (array) {
        for (size_t i = 0; i < v.items.size(); ++i) {
            out += "<property id=\"" + std::to_string(i) + "\">";
            encode(out, v.items[i], depth + 1);
            out += "</property>";
        }
    } else {
        for (const auto& [key, member] : v.members) {
            out += "<property id=\"" + escapeXml(key) + "\">";
            encode(out, member, depth + 1);
            out += "</property>";
        }
    }
    out += array ? "</array>" : "</object>";
}

void literal(std::string& out, const Value& v, int depth);

void quoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    out += '"';
}

void literal(std::string& out, const Value& v, int depth) {
    switch (v.kind) {
    case Value::Kind::Undefined: out += "undefined"; return;
    case Value::Kind::Null: out += "null"; return;
    case Value::Kind::Boolean: out += v.boolean ? "true" : "false"; return;
    case Value::Kind::Number: out += formatNumber(v.number); return;
    case Value::Kind::String: quoted(out, v.text); return;
    case Value::Kind::Array:
    case Value::Kind::Object: break;
    }
    if (depth >= kMaxDepth) {
        out += "null";
        return;
    }
    if (v.kind == Value::Kind::Array) {
        out += '[';
        for (size_t i = 0; i < v.items.size(); ++i) {
            if (i) out += ',';
            literal(out, v.items[i], depth + 1);
        }
        out += ']';
        return;
    }
    out += '{';
    for (size_t i = 0; i < v.members.size(); ++i) {
        if (i) out += ',';
        quoted(out, v.members[i].name);
        out += ':';
        literal(out, v.members[i].value, depth + 1);
    }
    out += '}';
}
}  // namespace

std::string encodeValue(const Value& value) {
    std::string out;
    encode(out, value, 0);
    return out;
}

std::string encodeInvoke(std::string_view name, const std::vector<Value>& arguments, std::string_view returnType) {
    std::string out = "<invoke name=\"" + escapeXml(name) + "\" returntype=\"" + escapeXml(returnType) + "\"><arguments>";
    for (const Value& a : arguments) encode(out, a, 0);
    out += "</arguments></invoke>";
    return out;
}

std::string scriptLiteral(const Value& value) {
    std::string out;
    literal(out, value, 0);
    return out;
}

std::string evaluateScript(std::string_view functionName, const std::vector<Value>& arguments) {
    std::string out = "try { __flash__toXML(";
    out += functionName;
    out += '(';
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i) out += ',';
        literal(out, arguments[i], 0);
    }
    out += ")) ; } catch (e) { \"<undefined/>\"; }";
    return out;
}

// --- reading ---------------------------------------------------------------------------

namespace {

class Parser {
public:
    explicit Parser(std::string_view in) : in_(in) {}

    struct Tag {
        std::string name;
        std::vector<std::pair<std::string, std::string>> attributes;
        bool selfClosing = false;
        const std::string* attribute(std::string_view key) const {
            for (const auto& [k, v] : attributes)
                if (k == key) return &v;
            return nullptr;
        }
    };

    const std::string& error() const { return error_; }

    bool fail(std::string_view what) {
        if (error_.empty()) error_ = std::string(what) + " at offset " + std::to_string(pos_);
        return false;
    }

    void blanks() {
        while (pos_ < in_.size() && (in_[pos_] == ' ' || in_[pos_] == '\t' || in_[pos_] == '\r' || in_[pos_] == '\n'))
            ++pos_;
    }
    bool atEnd() const { return pos_ >= in_.size(); }
    bool startsWith(std::string_view s) const { return in_.substr(pos_).starts_with(s); }

    bool name(std::string& out) {
        const size_t start = pos_;
        while (pos_ < in_.size()) {
            const char c = in_[pos_];
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                c == ':')
                ++pos_;
            else
                break;
        }
        if (pos_ == start) return fail("expected a name");
        out = std::string(in_.substr(start, pos_ - start));
        return true;
    }

    bool startTag(Tag& tag) {
        blanks();
        if (atEnd() || in_[pos_] != '<') return fail("expected an element");
        ++pos_;
        if (!name(tag.name)) return false;
        for (;;) {
            const size_t before = pos_;
            blanks();
            if (startsWith("/>")) {
                pos_ += 2;
                tag.selfClosing = true;
                return true;
            }
            if (startsWith(">")) {
                ++pos_;
                return true;
            }
            if (pos_ == before) return fail("expected blanks before an attribute");
            std::string key;
            if (!name(key)) return false;
            blanks();
            if (!startsWith("=")) return fail("expected '=' after an attribute name");
            ++pos_;
            blanks();
            if (atEnd() || (in_[pos_] != '"' && in_[pos_] != '\'')) return fail("expected a quoted attribute value");
            const char quote = in_[pos_++];
            const size_t end = in_.find(quote, pos_);
            if (end == std::string_view::npos) return fail("unterminated attribute value");
            const std::string_view raw = in_.substr(pos_, end - pos_);
            if (raw.find('<') != std::string_view::npos) return fail("'<' inside an attribute value");
            auto value = unescapeXml(raw);
            if (!value) return fail("bad entity in an attribute value");
            pos_ = end + 1;
            tag.attributes.emplace_back(std::move(key), std::move(*value));
        }
    }

    bool endTag(std::string_view tagName) {
        blanks();
        if (!startsWith("</")) return fail("expected </" + std::string(tagName) + ">");
        pos_ += 2;
        std::string got;
        if (!name(got)) return false;
        if (got != tagName) return fail("expected </" + std::string(tagName) + "> but found </" + got + ">");
        blanks();
        if (!startsWith(">")) return fail("expected '>'");
        ++pos_;
        return true;
    }

    bool text(std::string& out) {
        const size_t end = in_.find('<', pos_);
        if (end == std::string_view::npos) return fail("unterminated text");
        auto value = unescapeXml(in_.substr(pos_, end - pos_));
        if (!value) return fail("bad entity in text");
        out = std::move(*value);
        pos_ = end;
        return true;
    }

    // An element that carries no content: <x/> or <x></x>.
    bool empty(const Tag& tag) { return tag.selfClosing || endTag(tag.name); }

    bool number(const std::string& text, double& out) {
        std::string_view t = text;
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t' || t.front() == '\r' || t.front() == '\n')) t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r' || t.back() == '\n')) t.remove_suffix(1);
        if (t == "NaN") out = std::numeric_limits<double>::quiet_NaN();
        else if (t == "Infinity") out = std::numeric_limits<double>::infinity();
        else if (t == "-Infinity") out = -std::numeric_limits<double>::infinity();
        else {
            out = avm1::parseNumber(t, 7);
            if (std::isnan(out)) return fail("not a number");
        }
        return true;
    }

    bool value(Value& v, int depth) {
        if (depth > kMaxDepth) return fail("values nested too deeply");
        Tag tag;
        if (!startTag(tag)) return false;
        const std::string& n = tag.name;
        if (n == "undefined") {
            v = Value::undefined();
            return empty(tag);
        }
        if (n == "null") {
            v = Value::null();
            return empty(tag);
        }
        if (n == "true" || n == "false") {
            v = Value::of(n == "true");
            return empty(tag);
        }
        if (n == "string") {
            v = Value::of(std::string());
            if (tag.selfClosing) return true;
            return text(v.text) && endTag("string");
        }
        if (n == "number") {
            if (tag.selfClosing) return fail("empty number");
            std::string t;
            double d;
            if (!text(t) || !number(t, d) || !endTag("number")) return false;
            v = Value::of(d);
            return true;
        }
        if (n == "array" || n == "object") {
            const bool array = n == "array";
            v = array ? Value::array({}) : Value::object({});
            if (tag.selfClosing) return true;
            for (;;) {
                blanks();
                if (startsWith("</")) return endTag(n);
                Tag property;
                if (!startTag(property)) return false;
                if (property.name != "property") return fail("expected <property>");
                const std::string* id = property.attribute("id");
                if (!id) return fail("<property> without an id");
                if (property.selfClosing) return fail("<property> without a value");
                Value member;
                if (!value(member, depth + 1) || !endTag("property")) return false;
                // Items keep the order they arrive in: the player writes ids
                // 0, 1, 2 ..., and trusting an id as an index would let a
                // hostile one allocate without bound.
                if (array) v.items.push_back(std::move(member));
                else v.members.push_back(Member{*id, std::move(member)});
            }
        }
        return fail("unknown element <" + n + ">");
    }

    bool invoke(Invoke& out) {
        Tag tag;
        if (!startTag(tag)) return false;
        if (tag.name != "invoke") return fail("expected <invoke>");
        const std::string* name = tag.attribute("name");
        if (!name) return fail("<invoke> without a name");
        out.name = *name;
        if (const std::string* type = tag.attribute("returntype")) out.returnType = *type;
        if (tag.selfClosing) return true;
        blanks();
        if (!startsWith("</")) {
            Tag arguments;
            if (!startTag(arguments)) return false;
            if (arguments.name != "arguments") return fail("expected <arguments>");
            if (!arguments.selfClosing) {
                for (;;) {
                    blanks();
                    if (startsWith("</")) {
                        if (!endTag("arguments")) return false;
                        break;
                    }
                    Value v;
                    if (!value(v, 1)) return false;
                    out.arguments.push_back(std::move(v));
                }
            }
        }
        return endTag("invoke");
    }

    bool finish() {
        blanks();
        return atEnd() || fail("unexpected text after the value");
    }

private:
    std::string_view in_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

Decoded<Value> decodeValue(std::string_view xml) {
    Parser p(xml);
    Value v;
    Decoded<Value> result;
    if (p.value(v, 0) && p.finish()) result.value = std::move(v);
    else result.error = p.error();
    return result;
}

Decoded<Invoke> decodeInvoke(std::string_view xml) {
    Parser p(xml);
    Invoke inv;
    Decoded<Invoke> result;
    if (p.invoke(inv) && p.finish()) result.value = std::move(inv);
    else result.error = p.error();
    return result;
}

}  // namespace refplayer::ei
