// The player's record of its conversation with the host, for tests: one line
// per call, in order. "< " starts a call the host made into the player,
// "> " a call the player made to the host, "# " a note (trace output,
// refused input). Platform-free.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace refplugin {

class CallLog {
public:
    static CallLog& instance();

    void enable(bool on);
    bool enabled() const { return enabled_; }
    void clear();
    void received(std::string_view line) { add("< ", line); }
    void made(std::string_view line) { add("> ", line); }
    void note(std::string_view line) { add("# ", line); }
    std::string text() const;

private:
    void add(std::string_view prefix, std::string_view line);
    std::atomic<bool> enabled_{false};
    std::string text_;
};

// A text quoted for a log line: "..." with \" \\ \n \r \t and \xNN for other
// control bytes, cut after `limit` bytes with an ellipsis.
std::string quoted(std::string_view text, size_t limit = 400);
inline std::string quoted(const char* text) { return text ? quoted(std::string_view(text)) : std::string("null"); }

}  // namespace refplugin
