// Bit fields, records and action records against values worked out by hand
// from the published SWF file format.
#include "swfwriter/actions.h"
#include "swfwriter/swf_buffer.h"

#include <gtest/gtest.h>

#include <vector>

using namespace refplayer::swfwriter;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes bytesOf(SwfBuffer b) { return b.take(); }

struct Action {
    uint8_t code;
    Bytes payload;
    size_t offset;
};

// Splits assembled code into records (function bodies appear inline).
std::vector<Action> split(const Bytes& code) {
    std::vector<Action> out;
    size_t i = 0;
    while (i < code.size()) {
        Action a{code[i], {}, i};
        ++i;
        if (a.code >= 0x80) {
            const size_t n = code.at(i) | code.at(i + 1) << 8;
            a.payload.assign(code.begin() + i + 2, code.begin() + i + 2 + n);
            i += 2 + n;
        }
        out.push_back(a);
    }
    return out;
}

}  // namespace

TEST(SwfBuffer, BitFieldsPackMsbFirstAndPadOnByteWrites) {
    SwfBuffer b;
    b.ub(5, 3);   // 101
    b.sb(-1, 2);  // 11
    b.ub(1, 1);   // 1
    b.u8(0x7F);   // aligns first: 101111|00
    EXPECT_EQ(bytesOf(b), (Bytes{0xBC, 0x7F}));

    SwfBuffer le;
    le.u16(0x1234);
    le.u32(0xA1B2C3D4);
    le.s16(-2);
    EXPECT_EQ(bytesOf(le), (Bytes{0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0xFE, 0xFF}));
}

TEST(SwfBuffer, BitWidthsCoverSignAndZero) {
    EXPECT_EQ(signedBits(0), 0u);
    EXPECT_EQ(signedBits(1), 2u);
    EXPECT_EQ(signedBits(-1), 1u);
    EXPECT_EQ(signedBits(-2), 2u);
    EXPECT_EQ(signedBits(20), 6u);
    EXPECT_EQ(signedBits(-40), 7u);
    EXPECT_EQ(signedBits(INT32_MIN), 32u);
    EXPECT_EQ(unsignedBits(0), 0u);
    EXPECT_EQ(unsignedBits(255), 8u);
}

TEST(SwfBuffer, RefusesValuesThatDoNotFit) {
    SwfBuffer b;
    EXPECT_THROW(b.ub(8, 3), Error);
    EXPECT_THROW(b.sb(4, 3), Error);
    EXPECT_THROW(b.sb(-5, 3), Error);
    EXPECT_THROW(b.string(std::string("a\0b", 3)), Error);
    EXPECT_NO_THROW(b.sb(-4, 3));
}

TEST(SwfBuffer, RecordsMatchHandEncodedBytes) {
    // The 550 x 400 stage: 15-bit fields 0, 11000, 0, 8000 twips.
    SwfBuffer stage;
    stage.rect({0, 11000, 0, 8000});
    EXPECT_EQ(bytesOf(stage), (Bytes{0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00}));

    SwfBuffer empty;
    empty.rect({});
    EXPECT_EQ(bytesOf(empty), (Bytes{0x00}));

    SwfBuffer identity;
    identity.matrix(Matrix{});
    EXPECT_EQ(bytesOf(identity), (Bytes{0x00}));

    SwfBuffer translate;  // no scale, no rotate, 7-bit 20 and -40
    translate.matrix(Matrix::translate(20, -40));
    EXPECT_EQ(bytesOf(translate), (Bytes{0x0E, 0x52, 0xC0}));

    SwfBuffer scale;  // scale 2.0 = 0x20000 in 19-bit FB fields
    scale.matrix(Matrix::make(2, 2, 0, 0, 0));
    EXPECT_EQ(bytesOf(scale), (Bytes{0xCD, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00}));

    // A quarter turn: cos 0 drops out exactly, sin 1 lands in the rotate terms.
    const Matrix quarter = Matrix::make(1, 1, 90, 0, 0);
    EXPECT_EQ(quarter.scaleX, 0);
    EXPECT_EQ(quarter.scaleY, 0);
    EXPECT_EQ(quarter.rotateSkew0, 0x10000);
    EXPECT_EQ(quarter.rotateSkew1, -0x10000);

    SwfBuffer half;  // multiply terms only, 10 bits: 256, 256, 256, 128
    half.cxform(CxForm::alpha(0.5), true);
    EXPECT_EQ(bytesOf(half), (Bytes{0x69, 0x00, 0x40, 0x10, 0x02, 0x00}));
    SwfBuffer noAlpha;  // the alpha term alone does not count without alpha
    noAlpha.cxform(CxForm::alpha(0.5), false);
    EXPECT_EQ(bytesOf(noAlpha), (Bytes{0x00}));
}

TEST(SwfBuffer, TagHeadersShortBelow63BytesLongOtherwiseOrOnRequest) {
    SwfBuffer s;
    const Bytes three{1, 2, 3};
    writeTag(s, 9, three);
    EXPECT_EQ(bytesOf(s), (Bytes{0x43, 0x02, 1, 2, 3}));

    SwfBuffer forced;
    writeTag(forced, 9, three, true);
    EXPECT_EQ(bytesOf(forced), (Bytes{0x7F, 0x02, 3, 0, 0, 0, 1, 2, 3}));

    SwfBuffer big;
    writeTag(big, 12, Bytes(63, 0));
    const Bytes out = bytesOf(big);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), (Bytes{0x3F, 0x03, 63, 0, 0, 0}));
    EXPECT_EQ(out.size(), 6u + 63u);
}

TEST(SwfActions, PushEncodesEveryValueType) {
    ActionAssembler as;
    as.push({"a", 5, 1.0, true, Null{}, Undefined{}, Register{2}, Constant{3}, Constant{300}, Float{1.5f}});
    const Bytes expected{0x96, 33, 0,
                         0x00, 'a', 0,                                        // string
                         0x07, 5, 0, 0, 0,                                    // integer
                         0x06, 0x00, 0x00, 0xF0, 0x3F, 0, 0, 0, 0,            // double, high word first
                         0x05, 1,                                             // boolean
                         0x02,                                                // null
                         0x03,                                                // undefined
                         0x04, 2,                                             // register
                         0x08, 3,                                             // constant8
                         0x09, 0x2C, 0x01,                                    // constant16
                         0x01, 0x00, 0x00, 0xC0, 0x3F};                       // float
    EXPECT_EQ(as.assemble(), expected);
}

TEST(SwfActions, OperandActionsHaveCodesAndLengths) {
    ActionAssembler as;
    as.gotoFrame(4).goToLabel("x").storeRegister(1).getUrl("u", "t").gotoFrame2(true).gotoFrame2(false, 5);
    as.getUrl2(SendVars::Get, true, true).getUrl2(SendVars::Post, false, false);
    as.constantPool({"a", "bc"});
    EXPECT_EQ(as.assemble(), (Bytes{0x81, 2, 0, 4, 0,
                                    0x8C, 2, 0, 'x', 0,
                                    0x87, 1, 0, 1,
                                    0x83, 4, 0, 'u', 0, 't', 0,
                                    0x9F, 1, 0, 0x01,
                                    0x9F, 3, 0, 0x02, 5, 0,
                                    0x9A, 1, 0, 0xC1,  // variables 0x80, target 0x40, GET 1
                                    0x9A, 1, 0, 0x02,
                                    0x88, 7, 0, 2, 0, 'a', 0, 'b', 'c', 0}));
    EXPECT_EQ(simpleActionCode("equals2"), 0x49);
    EXPECT_EQ(simpleActionCode("GetMember"), 0x4E);
    EXPECT_FALSE(simpleActionCode("Push").has_value());
}

TEST(SwfActions, LabelsResolveToOffsetsFromTheEndOfTheBranch) {
    ActionAssembler as;
    const Label top = as.newLabel(), out = as.newLabel();
    as.bind(top).play().branchIfTrue(out).jump(top).bind(out).stop();
    // play@0, if@1..5, jump@6..10, stop@11: if -> 11 - 6 = +5, jump -> 0 - 11 = -11.
    EXPECT_EQ(as.assemble(), (Bytes{0x06, 0x9D, 2, 0, 5, 0, 0x99, 2, 0, 0xF5, 0xFF, 0x07}));

    ActionAssembler unbound;
    unbound.jump(unbound.newLabel());
    EXPECT_THROW(unbound.assemble(), Error);

    ActionAssembler twice;
    const Label l = twice.newLabel();
    twice.bind(l);
    EXPECT_THROW(twice.bind(l), Error);

    ActionAssembler other;
    EXPECT_THROW(other.jump(l), Error);

    // Beyond a signed 16-bit offset.
    ActionAssembler far;
    const Label end = far.newLabel();
    far.jump(end);
    for (int i = 0; i < 33000; ++i)
        far.play();
    far.bind(end);
    EXPECT_THROW(far.assemble(), Error);
}

TEST(SwfActions, FunctionsCarryTheirBodyOutsideTheRecordLength) {
    ActionAssembler body;
    body.play();
    ActionAssembler as;
    const Label after = as.newLabel();
    as.defineFunction("f", {"a"}, body).jump(after).bind(after);
    const Bytes code = as.assemble();
    EXPECT_EQ(Bytes(code.begin(), code.begin() + 12),
              (Bytes{0x9B, 8, 0, 'f', 0, 1, 0, 'a', 0, 1, 0, 0x06}));

    ActionAssembler ret;
    ret.return_();
    ActionAssembler f2;
    f2.defineFunction2("", 3, fn2::PreloadThis | fn2::SuppressArguments | fn2::PreloadGlobal, {{1, "x"}}, ret);
    EXPECT_EQ(f2.assemble(), (Bytes{0x8E, 11, 0, 0, 1, 0, 3, 0x09, 0x01, 1, 'x', 0, 1, 0, 0x3E}));

    EXPECT_THROW(f2.defineFunction2("g", 1, 0, {{1, "x"}}, ret), Error);  // register 1 of 1
    EXPECT_THROW(f2.defineFunction2("g", 1, 0x0200, {}, ret), Error);     // unknown flag
}

TEST(SwfActions, CompiledStatementHelpersEmitTheCompilersSequences) {
    ActionAssembler fs;
    fs.fscommand("quit", "true");
    const auto fsa = split(fs.assemble());
    ASSERT_EQ(fsa.size(), 1u);
    EXPECT_EQ(fsa[0].code, action::GetURL);
    EXPECT_EQ(fsa[0].payload, (Bytes{'F', 'S', 'C', 'o', 'm', 'm', 'a', 'n', 'd', ':', 'q', 'u', 'i', 't', 0,
                                     't', 'r', 'u', 'e', 0}));

    ActionAssembler set;
    set.setPath("_root.x", PushValue(5));
    EXPECT_EQ(set.assemble(), (Bytes{0x96, 7, 0, 0, '_', 'r', 'o', 'o', 't', 0, 0x1C,
                                     0x96, 3, 0, 0, 'x', 0,
                                     0x96, 5, 0, 7, 5, 0, 0, 0, 0x4F}));

    // ExternalInterface.call("hello", 1): arguments last-first, their count,
    // the object by path, the method name, CallMethod, and the unused result popped.
    ActionAssembler call;
    call.externalCall("hello", {PushValue(1)});
    const auto c = split(call.assemble());
    std::vector<uint8_t> codes;
    for (const auto& a : c)
        codes.push_back(a.code);
    EXPECT_EQ(codes, (Bytes{0x96, 0x96, 0x96, 0x96, 0x1C, 0x96, 0x4E, 0x96, 0x4E, 0x96, 0x52, 0x17}));
    EXPECT_EQ(c[0].payload, (Bytes{7, 1, 0, 0, 0}));
    EXPECT_EQ(c[1].payload, (Bytes{0, 'h', 'e', 'l', 'l', 'o', 0}));
    EXPECT_EQ(c[2].payload, (Bytes{7, 2, 0, 0, 0}));
    EXPECT_EQ(c[3].payload, (Bytes{0, 'f', 'l', 'a', 's', 'h', 0}));
    EXPECT_EQ(c[9].payload, (Bytes{0, 'c', 'a', 'l', 'l', 0}));

    // addCallback("stopflv", this, stopFlv) pushes method, instance, name, 3.
    ActionAssembler cb;
    cb.addCallback("stopflv", Emitter([](ActionAssembler& a) { a.getPath("this"); }),
                   Emitter([](ActionAssembler& a) { a.getPath("stopFlv"); }));
    const auto k = split(cb.assemble());
    ASSERT_GE(k.size(), 6u);
    EXPECT_EQ(k[0].payload, (Bytes{0, 's', 't', 'o', 'p', 'F', 'l', 'v', 0}));
    EXPECT_EQ(k[1].code, 0x1C);
    EXPECT_EQ(k[2].payload, (Bytes{0, 't', 'h', 'i', 's', 0}));
    EXPECT_EQ(k[4].payload, (Bytes{0, 's', 't', 'o', 'p', 'f', 'l', 'v', 0}));
    EXPECT_EQ(k[5].payload, (Bytes{7, 3, 0, 0, 0}));

    ActionAssembler go;
    go.gotoAndPlay(5).gotoAndStop("end");
    EXPECT_EQ(go.assemble(), (Bytes{0x81, 2, 0, 4, 0, 0x06, 0x8C, 4, 0, 'e', 'n', 'd', 0}));
    EXPECT_THROW(go.gotoAndPlay(uint16_t(0)), Error);
}

TEST(SwfActions, RefusedInputLeavesTheBlockAsItWas) {
    ActionAssembler as;
    as.play();
    const Bytes before = as.assemble();
    EXPECT_THROW(as.setPath("_root.x", PushValue(std::string("a\0b", 3))), Error);
    EXPECT_THROW(as.setPath("_root..x", PushValue(1)), Error);
    EXPECT_THROW(as.push({PushValue(1), PushValue(std::string("\0", 1))}), Error);
    EXPECT_THROW(as.raw(0x06, Bytes{1}), Error);
    EXPECT_THROW(as.simple(0x96), Error);
    EXPECT_EQ(as.assemble(), before);
}
