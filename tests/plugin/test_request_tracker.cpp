// How the plug-in turns the different stream orders of real hosts into one
// outcome per request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "request_tracker.h"

using refplugin::Outcome;
using refplugin::RequestTracker;

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

const std::vector<uint8_t> kBody = bytes("FWS-this-is-the-whole-body");

// Writes `body` in pieces of `piece` bytes at running offsets (or 0 each time).
void writeAll(RequestTracker& t, RequestTracker::Stream* s, const std::vector<uint8_t>& body, size_t piece,
              bool zeroOffsets = false)
{
    for (size_t at = 0; at < body.size(); at += piece) {
        int32_t n = static_cast<int32_t>(std::min(piece, body.size() - at));
        ASSERT_EQ(t.write(s, zeroOffsets ? 0 : int32_t(at), n, body.data() + at), n);
    }
}

TEST(RequestTracker, DeliversOnceInEveryOrderHostsUse)
{
    struct Order {
        const char* name;
        uint32_t declared;
        size_t piece;
        bool zeroOffsets;
        bool notifyFirst;       // URLNotify before DestroyStream
        bool notifyPerPiece;    // a download that notifies after each piece
        bool destroy;           // DestroyStream at all
    };
    const Order orders[] = {
        {"browser: destroy then notify", uint32_t(kBody.size()), 5, false, false, false, true},
        {"browser: unknown length", 0, 7, false, false, false, true},
        {"one write, notify then destroy", uint32_t(kBody.size()), kBody.size(), false, true, false, true},
        {"download: offset 0, notify per piece", 0, 6, true, true, true, true},
        {"known length, notify and never destroy", uint32_t(kBody.size()), 4, false, true, false, false},
    };
    for (const Order& o : orders) {
        SCOPED_TRACE(o.name);
        RequestTracker t;
        uintptr_t cookie = t.open(7, "movie.swf");
        ASSERT_NE(cookie, 0u);
        auto s = t.openStream(cookie, "http://host/movie.swf", o.declared, nullptr);
        ASSERT_NE(s, nullptr);
        if (o.notifyPerPiece) {
            for (size_t at = 0; at < kBody.size(); at += o.piece) {
                int32_t n = static_cast<int32_t>(std::min(o.piece, kBody.size() - at));
                ASSERT_EQ(t.write(s, 0, n, kBody.data() + at), n);
                t.notify(cookie, refplugin::kReasonDone);
                EXPECT_TRUE(t.takeOutcomes().empty()) << "answered before the stream ended";
            }
        } else {
            writeAll(t, s, kBody, o.piece, o.zeroOffsets);
        }
        if (o.notifyFirst && !o.notifyPerPiece)
            t.notify(cookie, refplugin::kReasonDone);
        if (o.destroy)
            t.closeStream(s, refplugin::kReasonDone);
        if (!o.notifyFirst)
            t.notify(cookie, refplugin::kReasonDone);
        auto out = t.takeOutcomes();
        ASSERT_EQ(out.size(), 1u);
        EXPECT_TRUE(out[0].delivered);
        EXPECT_EQ(out[0].requestId, 7u);
        EXPECT_EQ(out[0].data, kBody);
        EXPECT_EQ(out[0].url, "http://host/movie.swf");
        EXPECT_FALSE(t.pending(cookie));
        // Whatever the host sends afterwards changes nothing.
        t.notify(cookie, refplugin::kReasonDone);
        if (!o.destroy)
            t.closeStream(s, refplugin::kReasonDone);
        EXPECT_TRUE(t.takeOutcomes().empty());
    }
}

TEST(RequestTracker, FailsWhenTheHostEndsWithAnErrorOrWithoutData)
{
    RequestTracker t;
    // Refused outright by the host.
    uintptr_t refused = t.open(1, "a.swf");
    t.refuse(refused, "refused");
    // Network error on the notification, no stream at all.
    uintptr_t netErr = t.open(2, "b.swf");
    t.notify(netErr, 1);
    // A stream that breaks half-way; the later notification must not add a second outcome.
    uintptr_t broken = t.open(3, "c.swf");
    auto s = t.openStream(broken, "c.swf", 100, nullptr);
    ASSERT_EQ(t.write(s, 0, 10, kBody.data()), 10);
    t.closeStream(s, 2);
    t.notify(broken, 2);
    // Notified "done" although nothing ever arrived.
    uintptr_t empty = t.open(4, "d.swf");
    t.notify(empty, refplugin::kReasonDone);

    auto out = t.takeOutcomes();
    ASSERT_EQ(out.size(), 4u);
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_FALSE(out[i].delivered);
        EXPECT_EQ(out[i].requestId, i + 1);
        EXPECT_TRUE(out[i].data.empty());
        EXPECT_FALSE(out[i].why.empty());
    }
    EXPECT_EQ(t.pendingCount(), 0u);
}

TEST(RequestTracker, RefusesBadInputWithoutLosingOtherRequests)
{
    RequestTracker t(64);
    uintptr_t keep = t.open(1, "keep.swf");
    auto kept = t.openStream(keep, "keep.swf", 0, nullptr);
    ASSERT_NE(kept, nullptr);

    std::string why;
    EXPECT_EQ(t.openStream(12345, "stray.swf", 0, &why), nullptr) << "a stream nobody asked for";
    EXPECT_FALSE(why.empty());
    uintptr_t big = t.open(2, "big.swf");
    EXPECT_EQ(t.openStream(big, "big.swf", 65, &why), nullptr) << "declared longer than allowed";

    uintptr_t grow = t.open(3, "grow.swf");
    auto s = t.openStream(grow, "grow.swf", 0, nullptr);
    std::vector<uint8_t> chunk(40, 'x');
    EXPECT_EQ(t.write(s, 0, 40, chunk.data()), 40);
    EXPECT_EQ(t.write(s, 40, 40, chunk.data()), -1) << "past the limit";
    EXPECT_EQ(t.write(s, 80, 1, chunk.data()), -1) << "a failed stream takes nothing more";

    uintptr_t bad = t.open(4, "bad.swf");
    auto b = t.openStream(bad, "bad.swf", 0, nullptr);
    EXPECT_EQ(t.write(b, 0, -5, chunk.data()), -1);
    uintptr_t nullData = t.open(5, "null.swf");
    auto n = t.openStream(nullData, "null.swf", 0, nullptr);
    EXPECT_EQ(t.write(n, 0, 3, nullptr), -1);
    EXPECT_EQ(t.write(reinterpret_cast<RequestTracker::Stream*>(&chunk), 0, 1, chunk.data()), -1) << "not ours";

    auto out = t.takeOutcomes();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].requestId, 3u);
    EXPECT_EQ(out[1].requestId, 4u);
    EXPECT_EQ(out[2].requestId, 5u);
    EXPECT_FALSE(out[0].delivered || out[1].delivered || out[2].delivered);
    // A refused stream leaves its request to the host's notification, and the
    // unrelated stream still completes.
    EXPECT_TRUE(t.pending(big));
    t.notify(big, 1);
    ASSERT_EQ(t.write(kept, 0, 4, "FWS!"), 4);
    t.closeStream(kept, refplugin::kReasonDone);
    out = t.takeOutcomes();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_FALSE(out[0].delivered);
    EXPECT_EQ(out[0].requestId, 2u);
    EXPECT_TRUE(out[1].delivered);
    EXPECT_EQ(out[1].data, bytes("FWS!"));
}

TEST(RequestTracker, SecondStreamForARequestReplacesTheFirst)
{
    RequestTracker t;
    uintptr_t cookie = t.open(9, "r.swf");
    auto first = t.openStream(cookie, "r.swf", 0, nullptr);
    ASSERT_EQ(t.write(first, 0, 3, "old"), 3);
    auto second = t.openStream(cookie, "r2.swf", 0, nullptr);
    EXPECT_EQ(t.write(first, 3, 3, "old"), -1);
    writeAll(t, second, kBody, 8);
    t.closeStream(first, refplugin::kReasonDone);
    EXPECT_TRUE(t.takeOutcomes().empty()) << "the replaced stream answers nothing";
    t.closeStream(second, refplugin::kReasonDone);
    auto out = t.takeOutcomes();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].data, kBody);
    EXPECT_EQ(out[0].url, "r2.swf");
}

TEST(RequestTracker, HostsOwnStreamIsDeliveredWithoutARequest)
{
    RequestTracker t;
    auto s = t.openStream(0, "embedded.swf", uint32_t(kBody.size()), nullptr);
    ASSERT_NE(s, nullptr);
    writeAll(t, s, kBody, 3);
    t.closeStream(s, refplugin::kReasonDone);
    auto out = t.takeOutcomes();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].delivered);
    EXPECT_EQ(out[0].cookie, 0u);
    EXPECT_EQ(out[0].data, kBody);
}

}  // namespace
