// Alpha recovery, URL text rules and the pending in-memory streams.
#include <gtest/gtest.h>

#include "kv_alpha.h"
#include "kv_pendingstreams.h"
#include "kv_urltext.h"

namespace {

std::uint32_t Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

TEST(AlphaRecovery, CoverageComesFromTheRedDifferenceAndColourStaysPremultiplied)
{
    // Fully covered: same over black and white.
    EXPECT_EQ(RecoverAlphaPixel(Rgb(10, 20, 30), Rgb(10, 20, 30)), 0xFF0A141Eu);
    // Not covered at all.
    EXPECT_EQ(RecoverAlphaPixel(Rgb(0, 0, 0), Rgb(255, 255, 255)), 0u);
    // Partly covered: alpha 155, colour as drawn over black (already
    // premultiplied), not scaled a second time.
    EXPECT_EQ(RecoverAlphaPixel(Rgb(100, 50, 0), Rgb(200, 150, 100)), (155u << 24) | (100u << 16) | (50u << 8));
    // Half-transparent white drawn by a movie: 128 over black, 255 over white.
    EXPECT_EQ(RecoverAlphaPixel(Rgb(128, 128, 128), Rgb(255, 255, 255)), 0x80808080u);
}

TEST(AlphaRecovery, APictureThatChangedBetweenThePaintsGivesOpaqueNotWrappedAlpha)
{
    // White below black cannot come from one picture: opaque, not alpha 255 - (256 - 50).
    EXPECT_EQ(RecoverAlphaPixel(Rgb(200, 10, 10), Rgb(150, 10, 10)), Rgb(200, 10, 10));
    // Channels above the recovered alpha are held at it, so the result stays
    // valid premultiplied data.
    EXPECT_EQ(RecoverAlphaPixel(Rgb(10, 200, 90), Rgb(210, 255, 255)), (55u << 24) | (10u << 16) | (55u << 8) | 55u);
}

TEST(AlphaRecovery, OnlyTheRectangleInsideTheBufferIsRecovered)
{
    const int w = 4, h = 3;
    std::vector<std::uint32_t> black(w * h, Rgb(0, 0, 0)), white(w * h, Rgb(255, 255, 255));
    RecoverAlphaRect(black.data(), white.data(), w, h, 1, 1, 10, 10);
    EXPECT_EQ(black[0 * w + 1], Rgb(0, 0, 0)) << "row above the rectangle untouched";
    EXPECT_EQ(black[1 * w + 0], Rgb(0, 0, 0)) << "column left of it untouched";
    EXPECT_EQ(black[1 * w + 3], 0u);
    EXPECT_EQ(black[2 * w + 1], 0u);
    RecoverAlphaRect(black.data(), white.data(), w, h, 2, 2, 2, 3);  // empty
}

TEST(UrlText, TokensAreCutAtDelimitersAndTrimmed)
{
    std::wstring s = L"  name = value & next=1";
    EXPECT_EQ(NextToken(s, L"="), L"name");
    EXPECT_EQ(s, L"value & next=1");
    EXPECT_EQ(NextToken(s, L"&"), L"value");
    EXPECT_EQ(NextToken(s, L"="), L"next");
    EXPECT_EQ(NextToken(s, L"&"), L"1");
    EXPECT_EQ(s, L"");
    EXPECT_EQ(NextToken(s, L","), L"");

    const TkvQuery q = SplitQuery(L"movie.swf?a=1&b=two words");
    EXPECT_EQ(q.Path, L"movie.swf");
    ASSERT_EQ(q.Variables.size(), 2u);
    EXPECT_EQ(q.Variables[0], (std::pair<std::wstring, std::wstring>{L"a", L"1"}));
    EXPECT_EQ(q.Variables[1], (std::pair<std::wstring, std::wstring>{L"b", L"two words"}));
}

TEST(UrlText, DecodingFileNamesAndResourceNames)
{
    EXPECT_EQ(DecodeURLText(L"C:/My%20Movies/a%2DB%2fc%3Fx%3dy%26z%41"), L"C:/My Movies/a-B/c?x=y&z%41");
    EXPECT_EQ(URLFileName(L"C:\\clips\\sub/intro.swf"), L"intro.swf");
    EXPECT_EQ(URLFileName(L"http://kvs/a/b.flv"), L"b.flv");
    EXPECT_EQ(URLFileName(L"plain.swf"), L"plain.swf");
    EXPECT_EQ(ResourceNameOf(L"flvplayback.swf"), L"flvplayback");
    EXPECT_EQ(ResourceNameOf(L"a.b.swf"), L"a.b");
    EXPECT_EQ(ResourceNameOf(L"noext"), L"noext");
}

TEST(UrlText, StreamIdentifiersAreEightUpperCaseHexDigits)
{
    EXPECT_EQ(FormatStreamId(0x00ABCDEFu), L"00ABCDEF");
    EXPECT_EQ(StreamHostPrefix.size(), 10u);
    unsigned id = 0;
    EXPECT_TRUE(ParseStreamId(L"00ABCDEF.swf", id));
    EXPECT_EQ(id, 0x00ABCDEFu);
    EXPECT_FALSE(ParseStreamId(L"00ABCDE", id));
    EXPECT_FALSE(ParseStreamId(L"00ABCDEG", id));
    EXPECT_FALSE(ParseStreamId(L"-0ABCDEF", id));
}

TEST(PendingStreams, ACopyIsServedUntilDroppedAndUnknownIdentifiersGiveNothing)
{
    int owner = 0, other = 0;
    auto copy = std::make_unique<TMemoryStream>();
    copy->WriteUInt32(0xC0FFEEu);
    const unsigned id = kvpending::Add(std::move(copy), &owner);
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(kvpending::Contains(id));
    EXPECT_EQ(kvpending::Open(id + 1000), nullptr);
    // Every request reads the whole copy from its start.
    auto first = kvpending::Open(id);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->ReadUInt32(), 0xC0FFEEu);
    auto second = kvpending::Open(id);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Size(), 4);
    EXPECT_EQ(second->ReadUInt32(), 0xC0FFEEu);
    EXPECT_THROW(second->WriteUInt32(1), EStreamError) << "a reader cannot change the copy";

    // A newer copy of the same owner replaces the older ones; a reader still
    // holding the old bytes keeps them.
    const unsigned newer = kvpending::Add(std::make_unique<TMemoryStream>(), &owner);
    const unsigned b = kvpending::Add(std::make_unique<TMemoryStream>(), &other);
    EXPECT_NE(newer, b);
    kvpending::DropOwnedBy(&owner, newer);
    EXPECT_FALSE(kvpending::Contains(id));
    EXPECT_TRUE(kvpending::Contains(newer));
    EXPECT_TRUE(kvpending::Contains(b));
    first->SetPosition(0);
    EXPECT_EQ(first->ReadUInt32(), 0xC0FFEEu);
    kvpending::Remove(b);
    EXPECT_FALSE(kvpending::Contains(b));
    kvpending::DropOwnedBy(&owner);
    EXPECT_EQ(kvpending::Count(), 0);
    kvpending::Add(std::make_unique<TMemoryStream>(), &other);
    kvpending::Clear();
    EXPECT_EQ(kvpending::Count(), 0);
}

}  // namespace
