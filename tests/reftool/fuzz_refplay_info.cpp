// refplay's reports on arbitrary bytes: either a ToolError or a report that
// is valid JSON; never a crash, a hang or another exception.
#include "refplay.h"
#include "reftool_test_support.h"

#include <cstdlib>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> file(data, size);
    std::string report;
    try {
        report = refplayer::tool::detectKind(file) == refplayer::tool::FileKind::Swf ? refplayer::tool::swfInfoJson(file)
                                                                                    : refplayer::tool::flvInfoJson(file);
    } catch (const refplayer::tool::ToolError&) {
        return 0;
    }
    try {
        reftooltest::parseJson(report);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "invalid JSON report: %s\n%s\n", e.what(), report.c_str());
        std::abort();
    }
    return 0;
}
