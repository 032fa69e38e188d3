#include "config.h"

#include "call_log.h"

namespace refplugin {
namespace {

Config& current()
{
    static Config c;
    return c;
}

}  // namespace

const Config& config() { return current(); }

void refreshConfig()
{
    current() = readConfig();
    if (current().log)
        CallLog::instance().enable(true);
}

}  // namespace refplugin
