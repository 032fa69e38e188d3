// Script numbers that become integers: out-of-range values wrap or clamp as
// the language says, and the fuzzer's findings replay cleanly.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "avm1_fuzz_input.h"
#include "script_test_support.h"

namespace scripttest {
namespace {

constexpr uint8_t SetVariable = 0x1D, Divide = 0x0D, AsciiToChar = 0x33, MBAsciiToChar = 0x37, Pop = 0x17;

TEST_F(ScriptTest, CharCodes_OutOfRangeNumbersWrapModulo2To32) {
    Asm a;
    a.push({"huge", 1e300}).op(AsciiToChar).op(SetVariable);
    a.push({"negHuge", -1e300}).op(MBAsciiToChar).op(SetVariable);
    a.push({"wrapped", 4294967296.0 + 65}).op(AsciiToChar).op(SetVariable);
    a.push({"negative", -4294967296.0 + 66.7}).op(MBAsciiToChar).op(SetVariable);  // truncated to -4294967229
    a.push({"nan", 0, 0}).op(Divide).op(AsciiToChar).op(SetVariable);
    a.push({"inf", 1, 0}).op(Divide).op(AsciiToChar).op(SetVariable);
    a.push({"fromCodes"}).callMethod("String", "fromCharCode", {1e300, 65536.0 + 67, -65536.0 * 3 + 68, -70000.5}).op(SetVariable);
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("huge"), "");     // 1e300 is a multiple of 2^32: code 0 gives nothing
    EXPECT_EQ(var("negHuge"), "");
    EXPECT_EQ(var("wrapped"), "A");
    EXPECT_EQ(var("negative"), "C");
    EXPECT_EQ(var("nan"), "");
    EXPECT_EQ(var("inf"), "");
    // 16-bit codes: 1e300 wraps to 0 (skipped), -70000.5 to 0xEE90 (three bytes in UTF-8).
    EXPECT_EQ(var("fromCodes"), "CD\xEE\xBA\x90");
}

TEST_F(ScriptTest, IntegerArguments_OutOfRangeRadixesAndFlags) {
    Asm a;
    a.push({"arr", 10, 9, 100, 3}).op(0x42).op(SetVariable);  // [100, 9, 10]
    a.push({"numeric"}).callMethod("arr", "sort", {4294967296.0 + 16}).op(Pop);  // wraps to Array.NUMERIC
    a.push({"sorted"}).callMethod("arr", "join", {}).op(SetVariable);
    a.push({"hugeFlags"}).callMethod("arr", "sort", {1e300}).op(SetVariable);
    a.push({"int"}).call("parseInt", {"ff", 4294967296.0 + 16}).op(SetVariable);
    a.push({"intBig"}).call("parseInt", {"10", 1e300}).op(SetVariable);  // radix 0: decimal
    a.push({"hex"}).push({1e300, 1, 255}).push({1, "Number"}).op(0x40).push({"toString"}).op(0x52).op(SetVariable);
    a.push({"negRadix"}).push({-16, 1, 255}).push({1, "Number"}).op(0x40).push({"toString"}).op(0x52).op(SetVariable);
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("sorted"), "9,10,100");
    EXPECT_EQ(var("hugeFlags"), "10,100,9");  // 1e300 wraps to 0: the default order, as text
    EXPECT_EQ(var("int"), "255");
    EXPECT_EQ(var("intBig"), "10");
    EXPECT_EQ(var("hex"), "255");  // no radix 2..36: decimal
    EXPECT_EQ(var("negRadix"), "255");
}

// Every input kept for the interpreter's fuzzer (samples and past findings,
// among them chr() of -5.5e303, which once converted it to a 64-bit integer).
TEST(Avm1FuzzFindings, SeedsReplayWithoutFault) {
    const std::filesystem::path dir = std::filesystem::path(KV_FUZZ_SEEDS_DIR) / "fuzz_avm1";
    ASSERT_TRUE(std::filesystem::exists(dir / "chr_out_of_range")) << dir;
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ASSERT_FALSE(bytes.empty());
        runAvm1FuzzInput(bytes.data(), bytes.size());
        ++replayed;
    }
    EXPECT_GE(replayed, 7);
}

}  // namespace
}  // namespace scripttest
