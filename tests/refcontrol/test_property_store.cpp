// The control's saved-state codec: what it writes it reads back, and what it
// did not write it refuses whole.
#include <gtest/gtest.h>

#include "property_store.h"

using namespace refcontrol;

namespace {

PropertyStore sample()
{
    PropertyStore s;
    s.set(0x66, std::string("http://movies/a.swf"));
    s.set(0x69, int32_t(3));
    s.set(0x6a, false);
    s.set(-525, int32_t(-1));
    s.set(0xaa, std::string("a=1&b=\xC3\xA9"));
    s.set(0x88, std::string());
    return s;
}

TEST(PropertyStore, RoundTripKeepsEveryTypeAndReportsWhatItUsed)
{
    auto bytes = encode(sample());
    bytes.push_back(0xEE);  // whatever the container keeps behind it
    auto r = decode(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.store, sample());
    EXPECT_EQ(r.used, bytes.size() - 1);
    EXPECT_EQ(r.store.text(0x66), "http://movies/a.swf");
    EXPECT_EQ(r.store.integer(0x69, 0), 3);
    EXPECT_FALSE(r.store.truth(0x6a, true));
    EXPECT_EQ(r.store.integer(0x6a, 7), 0) << "a truth value read as a number";
    EXPECT_EQ(r.store.text(0x69, "fallback"), "fallback") << "a number is no text";
}

TEST(PropertyStore, DecodeRefusesEveryCutAndEveryLie)
{
    auto good = encode(sample());
    // Every truncation is refused, never read past.
    for (size_t n = 0; n < good.size(); ++n) {
        auto r = decode(std::span(good.data(), n));
        EXPECT_FALSE(r.ok) << "cut at " << n;
        EXPECT_TRUE(r.store.values.empty());
    }
    auto patched = [&](size_t at, uint8_t value) {
        auto b = good;
        b[at] = value;
        return decode(b);
    };
    EXPECT_FALSE(patched(0, 'X').ok) << "magic";
    EXPECT_FALSE(patched(4, 2).ok) << "version";
    // The first entry is the lowest id (-525, a number); its type byte at 11.
    EXPECT_FALSE(patched(11, 9).ok) << "unknown type";

    PropertyStore text;
    text.set(1, std::string("abc"));
    auto t = encode(text);
    t[12] = 0xFF;  // length low byte: longer than the data
    EXPECT_FALSE(decode(t).ok);
    t = encode(text);
    t[15] = 0x7F;  // length high byte: beyond any allowed text
    auto huge = decode(t);
    EXPECT_FALSE(huge.ok);
    EXPECT_NE(huge.error.find("longer than allowed"), std::string::npos);

    PropertyStore truth;
    truth.set(1, true);
    auto b = encode(truth);
    b.back() = 2;
    EXPECT_FALSE(decode(b).ok) << "a truth value of 2";

    // The same id twice.
    auto dup = encode(text);
    dup[5] = 2;  // two entries
    auto entry = std::vector<uint8_t>(dup.begin() + 7, dup.end());
    dup.insert(dup.end(), entry.begin(), entry.end());
    auto r = decode(dup);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("twice"), std::string::npos);
}

}  // namespace
