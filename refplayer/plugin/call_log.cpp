#include "call_log.h"

#include <mutex>

namespace refplugin {
namespace {
std::mutex logMutex;
// A runaway movie must not eat the test's memory: past this the log keeps a
// marker and drops further lines.
constexpr size_t kMaxLogBytes = size_t(8) << 20;
}  // namespace

CallLog& CallLog::instance()
{
    static CallLog log;
    return log;
}

void CallLog::enable(bool on)
{
    std::lock_guard lock(logMutex);
    enabled_ = on;
}

void CallLog::clear()
{
    std::lock_guard lock(logMutex);
    text_.clear();
}

std::string CallLog::text() const
{
    std::lock_guard lock(logMutex);
    return text_;
}

void CallLog::add(std::string_view prefix, std::string_view line)
{
    std::lock_guard lock(logMutex);
    if (!enabled_)
        return;
    static constexpr std::string_view kFull = "# log full\n";
    if (text_.size() >= kMaxLogBytes)
        return;
    if (text_.size() + prefix.size() + line.size() + 1 > kMaxLogBytes) {
        text_ += kFull;
        return;
    }
    text_ += prefix;
    text_ += line;
    text_ += '\n';
}

std::string quoted(std::string_view text, size_t limit)
{
    std::string out = "\"";
    static const char* hex = "0123456789ABCDEF";
    size_t n = text.size() < limit ? text.size() : limit;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    if (n < text.size())
        out += "...";
    return out;
}

}  // namespace refplugin
