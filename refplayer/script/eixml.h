// ExternalInterface texts: the XML that carries calls and values between a
// movie and its container, and the script text the plug-in hands to the
// browser for ExternalInterface.call.
//
//   request  <invoke name="NAME" returntype="xml"><arguments>VALUE...</arguments></invoke>
//   values   <string>..</string> <number>..</number> <true/> <false/> <null/> <undefined/>
//            <array><property id="0">VALUE</property>...</array>
//            <object><property id="key">VALUE</property>...</object>
//   script   try { __flash__toXML(NAME("text",42,true)) ; } catch (e) { "<undefined/>"; }
//
// Decoding never throws and never trusts the input: anything malformed is
// refused with a message saying where.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace refplayer::ei {

struct Member;

struct Value {
    enum class Kind { Undefined, Null, Boolean, Number, String, Array, Object };
    Kind kind = Kind::Undefined;
    bool boolean = false;
    double number = 0;
    std::string text;                                      // String
    std::vector<Value> items;                              // Array
    std::vector<Member> members;                           // Object, in order

    static Value undefined();
    static Value null();
    static Value of(bool b);
    static Value of(double n);
    static Value of(std::string s);
    static Value of(const char* s);
    static Value array(std::vector<Value> items);
    static Value object(std::vector<Member> members);
    bool operator==(const Value& other) const;
};

struct Member {
    std::string name;
    Value value;
    bool operator==(const Member& other) const { return name == other.name && value == other.value; }
};

inline Value Value::undefined() { return {}; }
inline Value Value::null() { Value v; v.kind = Kind::Null; return v; }
inline Value Value::of(bool b) { Value v; v.kind = Kind::Boolean; v.boolean = b; return v; }
inline Value Value::of(double n) { Value v; v.kind = Kind::Number; v.number = n; return v; }
inline Value Value::of(std::string s) { Value v; v.kind = Kind::String; v.text = std::move(s); return v; }
inline Value Value::of(const char* s) { return of(std::string(s)); }
inline Value Value::array(std::vector<Value> items) { Value v; v.kind = Kind::Array; v.items = std::move(items); return v; }
inline Value Value::object(std::vector<Member> members) {
    Value v;
    v.kind = Kind::Object;
    v.members = std::move(members);
    return v;
}

struct Invoke {
    std::string name;
    std::string returnType;    // as given ("xml", "XML", "javascript"); empty when absent
    std::vector<Value> arguments;
};

// Either a decoded result or why the text was refused.
template <typename T>
struct Decoded {
    std::optional<T> value;
    std::string error;
    explicit operator bool() const { return value.has_value(); }
};

// Deepest nesting of arrays and objects accepted and written.
inline constexpr int kMaxDepth = 64;

// &, <, >, " and ' as entities.
std::string escapeXml(std::string_view text);
// The five named entities and &#N; / &#xH; (written as UTF-8). nullopt for a
// bare '&', an unknown entity or a code point that is not a character.
std::optional<std::string> unescapeXml(std::string_view text);

// Numbers as the player writes them ("42", "0.5", "1e+21", "NaN", "-Infinity").
std::string formatNumber(double n);

std::string encodeValue(const Value& value);
std::string encodeInvoke(std::string_view name, const std::vector<Value>& arguments,
                         std::string_view returnType = "xml");
Decoded<Value> decodeValue(std::string_view xml);
// Accepts the request with or without <arguments> (the package sends
// "<invoke name="stopflv" returntype="xml"></invoke>") and with blanks between elements.
Decoded<Invoke> decodeInvoke(std::string_view xml);

// A value as a script literal: "text" with \" \\ \n \r \t escaped, decimal
// numbers, true/false/null/undefined as words, [a,b] and {"k":v}.
std::string scriptLiteral(const Value& value);
// The text the plug-in evaluates in the browser for ExternalInterface.call.
std::string evaluateScript(std::string_view functionName, const std::vector<Value>& arguments);

}  // namespace refplayer::ei
