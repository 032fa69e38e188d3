// AMF0 values: hand-made bytes, round trips, and hostile input.
#include "media/amf0.h"

#include <gtest/gtest.h>

using namespace refplayer::media;
using Bytes = std::vector<uint8_t>;
using Type = AmfValue::Type;

namespace {

bool decode(const Bytes& b, AmfValue& v, std::string& error, const AmfLimits& limits = {}) {
    size_t offset = 0;
    const bool ok = decodeAmf0(b, offset, v, error, limits);
    if (ok)
        EXPECT_EQ(offset, b.size());
    else
        EXPECT_EQ(offset, 0u);
    return ok;
}

std::string refusal(const Bytes& b, const AmfLimits& limits = {}) {
    AmfValue v = AmfValue::makeString("kept");
    std::string error;
    EXPECT_FALSE(decode(b, v, error, limits));
    EXPECT_EQ(v, AmfValue::makeString("kept"));
    return error;
}

}  // namespace

TEST(MediaAmf0, HandMadeValuesDecode) {
    AmfValue v;
    std::string error;
    ASSERT_TRUE(decode({0x00, 0x3F, 0xF8, 0, 0, 0, 0, 0, 0}, v, error)) << error;
    EXPECT_EQ(v, AmfValue::makeNumber(1.5));

    ASSERT_TRUE(decode({0x01, 0x02}, v, error));
    EXPECT_EQ(v, AmfValue::makeBoolean(true));

    ASSERT_TRUE(decode({0x02, 0x00, 0x02, 'o', 'k'}, v, error));
    EXPECT_EQ(v, AmfValue::makeString("ok"));

    ASSERT_TRUE(decode({0x0C, 0x00, 0x00, 0x00, 0x01, 'L'}, v, error));
    EXPECT_EQ(v, AmfValue::makeString("L"));

    ASSERT_TRUE(decode({0x05}, v, error));
    EXPECT_EQ(v.type, Type::Null);
    ASSERT_TRUE(decode({0x06}, v, error));
    EXPECT_EQ(v.type, Type::Undefined);

    ASSERT_TRUE(decode({0x0B, 0x42, 0x72, 0xAF, 0x45, 0xD2, 0x80, 0x00, 0x00, 0xFF, 0xC4}, v, error));
    EXPECT_EQ(v.type, Type::Date);
    EXPECT_EQ(v.number, 1284000000000.0);
    EXPECT_EQ(v.timezone, -60);

    // {a: 1, "": null} as an object, then as an ECMA array whose count is ignored.
    const Bytes props{0x00, 0x01, 'a', 0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x05, 0x00, 0x00, 0x09};
    Bytes object{0x03};
    object.insert(object.end(), props.begin(), props.end());
    ASSERT_TRUE(decode(object, v, error)) << error;
    EXPECT_EQ(v, AmfValue::makeObject({{"a", AmfValue::makeNumber(1)}, {"", AmfValue::makeNull()}}));
    Bytes ecma{0x08, 0x00, 0x00, 0x00, 0x63};
    ecma.insert(ecma.end(), props.begin(), props.end());
    ASSERT_TRUE(decode(ecma, v, error)) << error;
    EXPECT_EQ(v.type, Type::EcmaArray);
    ASSERT_NE(v.find("a"), nullptr);
    EXPECT_EQ(v.find("a")->number, 1);
    EXPECT_EQ(v.find("b"), nullptr);

    ASSERT_TRUE(decode({0x0A, 0, 0, 0, 2, 0x05, 0x01, 0x00}, v, error));
    EXPECT_EQ(v, AmfValue::makeStrictArray({AmfValue::makeNull(), AmfValue::makeBoolean(false)}));
}

TEST(MediaAmf0, EncodeDecodeRoundTripsNestedValues) {
    const AmfValue value = AmfValue::makeEcmaArray({
        {"duration", AmfValue::makeNumber(12.5)},
        {"name", AmfValue::makeString("clip")},
        {"long", AmfValue::makeString(std::string(70000, 'x'))},
        {"list", AmfValue::makeStrictArray({AmfValue::makeNumber(-0.0), AmfValue(), AmfValue::makeDate(5, 60)})},
        {"nested", AmfValue::makeObject({{"deep", AmfValue::makeObject({})}})},
    });
    Bytes b;
    encodeAmf0(value, b);
    EXPECT_EQ(b[0], 0x08);
    AmfValue back;
    std::string error;
    ASSERT_TRUE(decode(b, back, error)) << error;
    EXPECT_EQ(back, value);
    EXPECT_EQ(back.find("long")->string.size(), 70000u);

    // Two values back to back: the offset walks from one to the next.
    Bytes two;
    encodeAmf0(AmfValue::makeString("onMetaData"), two);
    encodeAmf0(AmfValue::makeNumber(3), two);
    size_t offset = 0;
    AmfValue a, c;
    ASSERT_TRUE(decodeAmf0(two, offset, a, error));
    EXPECT_EQ(offset, 13u);
    ASSERT_TRUE(decodeAmf0(two, offset, c, error));
    EXPECT_EQ(c, AmfValue::makeNumber(3));
}

TEST(MediaAmf0, HostileInputIsRefusedWithAReason) {
    EXPECT_EQ(refusal({}), "AMF0 at byte 0: value missing");
    EXPECT_EQ(refusal({0x00, 0x3F, 0xF0}), "AMF0 at byte 0: number truncated");
    EXPECT_EQ(refusal({0x02, 0x00, 0x05, 'a'}), "AMF0 at byte 0: string truncated");
    EXPECT_EQ(refusal({0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}), "AMF0 at byte 0: long string truncated");
    EXPECT_EQ(refusal({0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0x05}), "AMF0 at byte 0: strict array count exceeds the data");
    EXPECT_EQ(refusal({0x03, 0x00, 0x01, 'a', 0x05}), "AMF0 at byte 5: object not terminated");
    EXPECT_EQ(refusal({0x03, 0x00, 0x00}), "AMF0 at byte 3: object not terminated");
    EXPECT_EQ(refusal({0x09}), "AMF0 at byte 0: object end marker outside an object");
    EXPECT_EQ(refusal({0x07, 0x00, 0x01}), "AMF0 at byte 0: unsupported AMF0 type 7");
    EXPECT_EQ(refusal({0x03, 0x00, 0x01, 'a', 0x10}), "AMF0 at byte 4: unsupported AMF0 type 16");

    // Nesting beyond the limit, however it is built.
    Bytes deep;
    for (int i = 0; i < 40; ++i) {
        deep.insert(deep.end(), {0x03, 0x00, 0x01, 'k'});
    }
    deep.push_back(0x05);
    EXPECT_NE(refusal(deep).find("nested too deeply"), std::string::npos);
    Bytes arrays;
    for (int i = 0; i < 40; ++i)
        arrays.insert(arrays.end(), {0x0A, 0, 0, 0, 1});
    arrays.push_back(0x05);
    EXPECT_NE(refusal(arrays).find("nested too deeply"), std::string::npos);
    EXPECT_NE(refusal({0x0A, 0, 0, 0, 3, 5, 5, 5}, AmfLimits{.maxDepth = 4, .maxValues = 3}).find("too many values"),
              std::string::npos);
}
