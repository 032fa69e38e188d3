// Random sequences of host calls against the request tracker: whatever the
// order, each request ends at most once and a delivered body is exactly what
// was written for it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "request_tracker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    refplugin::RequestTracker t(4096);
    std::vector<uintptr_t> cookies;
    std::vector<refplugin::RequestTracker::Stream*> streams;
    std::map<uintptr_t, std::vector<uint8_t>> written;  // per cookie, through its latest stream
    std::map<refplugin::RequestTracker::Stream*, uintptr_t> streamCookie;
    std::map<uintptr_t, int> outcomes;
    size_t i = 0;
    auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
    while (i < size) {
        uint8_t op = next() % 6, a = next(), b = next();
        switch (op) {
        case 0:
            cookies.push_back(t.open(a, "u"));
            break;
        case 1:
            if (!cookies.empty()) {
                uintptr_t c = (b & 1) ? 0 : cookies[a % cookies.size()];
                if (auto s = t.openStream(c, "s", (b & 2) ? b * 8u : 0u, nullptr)) {
                    streams.push_back(s);
                    streamCookie[s] = c;
                    if (c)
                        written[c].clear();
                }
            }
            break;
        case 2:
            if (!streams.empty()) {
                auto s = streams[a % streams.size()];
                if (t.owns(s)) {
                    int32_t n = b % 64;
                    const uint8_t* src = data + (i < size ? i : 0);
                    if (size_t(n) > size - i)
                        n = int32_t(size - i);
                    bool finished = s->finished;
                    if (t.write(s, 0, n, n ? src : nullptr) == n && !finished && streamCookie[s])
                        written[streamCookie[s]].insert(written[streamCookie[s]].end(), src, src + n);
                }
            }
            break;
        case 3:
            if (!streams.empty()) {
                auto s = streams[a % streams.size()];
                if (t.owns(s))
                    t.closeStream(s, b % 3);
            }
            break;
        case 4:
            if (!cookies.empty())
                t.notify(cookies[a % cookies.size()], b % 3);
            break;
        case 5:
            if (!cookies.empty())
                t.refuse(cookies[a % cookies.size()], "x");
            break;
        }
        for (auto& o : t.takeOutcomes()) {
            if (o.cookie && ++outcomes[o.cookie] > 1)
                abort();  // a request answered twice
            if (o.cookie && o.delivered && o.data != written[o.cookie])
                abort();  // a body that is not what was written
        }
    }
    return 0;
}
