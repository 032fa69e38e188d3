// A small JSON writer for refplay's reports: indented output, with containers
// that can be kept on one line (one tag per line reads better than one field
// per line). Text from files is arbitrary bytes: valid UTF-8 passes through,
// any other byte is written as the Latin-1 character of that value, so the
// output is always valid JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace refplayer::tool {

class JsonWriter {
public:
    // An inline container puts its members on one line, and so does all it holds.
    JsonWriter& beginObject(bool inlined = false);
    JsonWriter& endObject();
    JsonWriter& beginArray(bool inlined = false);
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);

    JsonWriter& string(std::string_view text);
    // Whole numbers up to 2^53 print without a fraction; others in the shortest
    // form that reads back exactly; NaN and infinities as null.
    JsonWriter& number(double value);
    JsonWriter& integer(int64_t value);
    JsonWriter& boolean(bool value);
    JsonWriter& null();

    // key + value in one call.
    JsonWriter& field(std::string_view name, std::string_view text) { return key(name).string(text); }
    JsonWriter& field(std::string_view name, const char* text) { return key(name).string(text); }
    JsonWriter& field(std::string_view name, double value) { return key(name).number(value); }
    JsonWriter& field(std::string_view name, int value) { return key(name).integer(value); }
    JsonWriter& field(std::string_view name, unsigned value) { return key(name).integer(value); }
    JsonWriter& field(std::string_view name, int64_t value) { return key(name).integer(value); }
    JsonWriter& field(std::string_view name, uint64_t value) { return key(name).integer(static_cast<int64_t>(value)); }
    JsonWriter& field(std::string_view name, bool value) { return key(name).boolean(value); }

    // The document, with a final newline once every container is closed.
    std::string take();

private:
    struct Level {
        bool object;
        bool inlined;
        bool empty = true;
    };

public:
    // A point to return to: rollback() drops everything written since mark(),
    // so a summary that fails half-way leaves no half-written fields behind.
    class Mark {
        friend class JsonWriter;
        size_t size_ = 0;
        std::vector<Level> stack_;
        bool afterKey_ = false;
    };
    Mark mark() const;
    void rollback(const Mark& mark);

private:
    void beforeValue();
    void open(char bracket, bool object, bool inlined);
    void close(char bracket);
    void newline(size_t depth);

    std::string out_;
    std::vector<Level> stack_;
    bool afterKey_ = false;
};

// `text` as a JSON string literal, quotes included.
std::string jsonQuote(std::string_view text);

}  // namespace refplayer::tool
