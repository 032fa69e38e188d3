#include "config.h"

#include "call_log.h"

namespace refplugin {
namespace {

Config& current()
{
    static Config c;
    return c;
}

bool habit(const wchar_t* name, bool byDefault)
{
    auto v = refhost::readConfigDword(kConfigKey, name);
    return v ? *v != 0 : byDefault;
}

}  // namespace

Config readConfig()
{
    Config c;
    static_cast<refhost::Config&>(c) = refhost::readConfig(kConfigKey);
    c.throttleHidden = habit(L"ThrottleHidden", c.throttleHidden);
    c.contextMenu = habit(L"ContextMenu", c.contextMenu);
    c.requestTwice = habit(L"RequestTwice", c.requestTwice);
    c.smallWrites = habit(L"SmallWrites", c.smallWrites);
    c.decodeTypedText = habit(L"DecodeTypedText", c.decodeTypedText);
    c.framesAsDoubles = habit(L"FramesAsDoubles", c.framesAsDoubles);
    const uint32_t n = refhost::readConfigDword(kConfigKey, L"RepaintInSetWindow").value_or(0);
    c.repaintInSetWindow = static_cast<int>(n > 1000 ? 1000 : n);
    return c;
}

const Config& config() { return current(); }

void refreshConfig()
{
    current() = readConfig();
    if (current().log)
        CallLog::instance().enable(true);
}

}  // namespace refplugin
