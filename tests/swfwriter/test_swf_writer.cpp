// Whole files and tags: header bytes, compression, display-list and
// definition tags, nested sprites.
#include "swf_test_reader.h"
#include "swfwriter/swf_writer.h"

#include <gtest/gtest.h>

using namespace refplayer::swfwriter;
using Bytes = std::vector<uint8_t>;

namespace {

std::vector<uint16_t> codes(const std::vector<swftest::Tag>& tags) {
    std::vector<uint16_t> out;
    for (const auto& t : tags)
        out.push_back(t.code);
    return out;
}

}  // namespace

TEST(SwfMovie, EmptyMovieIsHeaderOneFrameAndEnd) {
    Movie m(8, 550, 400, 12);
    EXPECT_EQ(m.build(), (Bytes{'F', 'W', 'S', 8, 25, 0, 0, 0,
                                0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00,  // stage
                                0x00, 0x0C,                                            // 12.0 fps
                                0x01, 0x00,                                            // 1 frame
                                0x40, 0x00,                                            // ShowFrame
                                0x00, 0x00}));                                         // End
    Movie fractional(6, 1, 1, 29.97);
    const auto s = swftest::parseSwf(fractional.build());
    EXPECT_EQ(s.rate, 0x1DF8);  // 29.97 * 256, rounded
    EXPECT_EQ(s.xMax, 20);
}

TEST(SwfMovie, CompressedRoundTripsThroughZlib) {
    Movie m(8, 320, 240, 24);
    m.fileAttributes(file_attr::UseNetwork).setBackgroundColor(Rgba::rgb(0x996633));
    ShapeBuilder box;
    box.rectangle(0, 0, 2000, 2000, box.addFill(Rgba::rgb(0x123456)), 0);
    const uint16_t id = m.defineShape(box);
    for (uint16_t d = 1; d <= 50; ++d)
        m.place({.depth = d, .character = id, .matrix = Matrix::translate(d * 20, d * 20)}).showFrame();

    const Bytes fws = m.build();
    const Bytes cws = m.build(Compression::Zlib);
    EXPECT_EQ(Bytes(cws.begin(), cws.begin() + 3), (Bytes{'C', 'W', 'S'}));
    EXPECT_EQ(Bytes(cws.begin() + 3, cws.begin() + 8), Bytes(fws.begin() + 3, fws.begin() + 8));  // version, full length
    EXPECT_LT(cws.size(), fws.size());
    EXPECT_EQ(decompressSwf(cws), fws);

    const auto parsed = swftest::parseSwf(cws);  // inflated by the test reader
    EXPECT_EQ(parsed.frames, 50);
    EXPECT_EQ(parsed.tags.front().code, tag::FileAttributes);
    EXPECT_EQ(parsed.tags.front().body, (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(parsed.tags[1].body, (Bytes{0x99, 0x66, 0x33}));
}

TEST(SwfMovie, DecompressionRefusesLyingOrDamagedFiles) {
    Movie m(8, 100, 100, 12);
    m.showFrame(3);
    Bytes cws = m.build(Compression::Zlib);
    Bytes truncated(cws.begin(), cws.end() - 4);
    EXPECT_THROW(decompressSwf(truncated), Error);
    Bytes shortLength = cws;
    shortLength[4] -= 1;  // says one byte less than the stream holds
    EXPECT_THROW(decompressSwf(shortLength), Error);
    Bytes longLength = cws;
    longLength[6] = 0x10;  // says a megabyte more
    EXPECT_THROW(decompressSwf(longLength), Error);
    EXPECT_THROW(decompressSwf(Bytes{'F', 'W', 'S', 8, 8, 0, 0, 0}), Error);
    Bytes fws = m.build();
    fws[4] += 1;
    EXPECT_THROW(compressSwf(fws), Error);
}

TEST(SwfMovie, FrameCountClosesAFrameLeftOpen) {
    Movie m(8, 10, 10, 1);
    ShapeBuilder s;
    const uint16_t id = m.defineShape(s);
    m.place({.depth = 1, .character = id}).showFrame();
    m.removeObject2(1);  // tags after the last ShowFrame
    const auto parsed = swftest::parseSwf(m.build());
    EXPECT_EQ(parsed.frames, 2);
    EXPECT_EQ(codes(parsed.tags), (std::vector<uint16_t>{tag::DefineShape3, tag::PlaceObject2, tag::ShowFrame,
                                                         tag::RemoveObject2, tag::ShowFrame, tag::End}));
    EXPECT_THROW(m.fileAttributes(0), Error);  // not first any more
}

TEST(SwfMovie, PlaceObjectChoosesTheTagAndFieldOrder) {
    Movie m(8, 10, 10, 1);
    m.place({.depth = 1, .character = 1, .matrix = Matrix::translate(20, -40), .name = "b"});
    m.place({.depth = 2, .move = true, .colorTransform = CxForm::alpha(0.5), .ratio = 7, .clipDepth = 9});
    m.place({.depth = 3, .move = true, .className = "C", .blendMode = 3, .visible = false});
    EXPECT_THROW(m.place({.depth = 4}), Error);  // new object without a character
    EXPECT_THROW(m.placeObject2({.depth = 4, .character = 1, .blendMode = 2}), Error);
    const auto tags = swftest::parseSwf(m.build()).tags;
    ASSERT_EQ(tags.size(), 5u);
    EXPECT_EQ(tags[0].code, tag::PlaceObject2);
    EXPECT_EQ(tags[0].body, (Bytes{0x26, 1, 0, 1, 0, 0x0E, 0x52, 0xC0, 'b', 0}));
    EXPECT_EQ(tags[1].code, tag::PlaceObject2);
    EXPECT_EQ(tags[1].body, (Bytes{0x59, 2, 0, 0x69, 0x00, 0x40, 0x10, 0x02, 0x00, 7, 0, 9, 0}));
    EXPECT_EQ(tags[2].code, tag::PlaceObject3);
    EXPECT_EQ(tags[2].body, (Bytes{0x01, 0x2A, 3, 0, 'C', 0, 3, 0}));
}

TEST(SwfMovie, Button2LinksItsConditionActionsByOffsets) {
    Movie m(8, 10, 10, 1);
    Button b;
    b.records.push_back({.states = button_state::Up | button_state::HitTest, .character = 1, .depth = 2});
    ButtonAction press{button_cond::Press, {}};
    press.actions.play();
    ButtonAction key{static_cast<uint16_t>(button_cond::Release | button_cond::keyPress(13)), {}};
    key.actions.fscommand("a", "b");
    b.actions = {press, key};
    const uint16_t id = m.defineButton(b);
    EXPECT_EQ(id, 1);

    const auto tags = swftest::parseSwf(m.build()).tags;
    const Bytes& body = tags[0].body;
    ASSERT_EQ(tags[0].code, tag::DefineButton2);
    // id, menu flag, action offset, record: flags 0x09, char 1, depth 2,
    // identity matrix, identity cxform, end of records.
    EXPECT_EQ(Bytes(body.begin(), body.begin() + 13), (Bytes{1, 0, 0, 10, 0, 0x09, 1, 0, 2, 0, 0, 0, 0}));
    const size_t first = 3 + 10;  // the offset counts from its own field
    // First condition: size 6 (size, conditions, Play, end), press = 04 00.
    EXPECT_EQ(Bytes(body.begin() + first, body.begin() + first + 6), (Bytes{6, 0, 0x04, 0x00, 0x06, 0x00}));
    // Last: size 0, release 08 plus key 13 << 9 = 1A00 -> 08 1A.
    EXPECT_EQ(Bytes(body.begin() + first + 6, body.begin() + first + 10), (Bytes{0, 0, 0x08, 0x1A}));
    EXPECT_EQ(body.back(), 0);

    Button bad;
    bad.records.push_back({.states = 0, .character = 1});
    EXPECT_THROW(m.defineButton(bad), Error);
}

TEST(SwfMovie, EditTextDefinesASansFontOnceWhenOnlyAHeightIsGiven) {
    Movie m(8, 10, 10, 1);
    EditText t;
    t.bounds = {0, 2000, 0, 400};
    t.variable = "answer";
    t.initialText = "hi";
    t.fontHeight = 240;
    t.color = Rgba::rgb(0x102030);
    t.border = true;
    const uint16_t first = m.defineEditText(t);
    const uint16_t second = m.defineEditText(t);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 3);
    const auto tags = swftest::parseSwf(m.build()).tags;
    EXPECT_EQ(codes(tags), (std::vector<uint16_t>{tag::DefineFont2, tag::DefineEditText, tag::DefineEditText,
                                                  tag::ShowFrame, tag::End}));
    swftest::BitReader r(tags[1].body);
    EXPECT_EQ(r.u16(), 2);
    const unsigned n = r.ub(5);
    EXPECT_EQ(r.sb(n), 0);
    EXPECT_EQ(r.sb(n), 2000);
    r.sb(n);
    r.sb(n);
    EXPECT_EQ(r.u8(), 0x85);  // text, colour, font
    EXPECT_EQ(r.u8(), 0x08);  // border
    EXPECT_EQ(r.u16(), 1);    // the font
    EXPECT_EQ(r.u16(), 240);
    EXPECT_EQ(r.u32(), 0xFF302010u);  // R G B A
    EXPECT_EQ(r.str(), "answer");
    EXPECT_EQ(r.str(), "hi");
    EXPECT_TRUE(r.atEnd());

    // A refused field defines nothing, not even the font.
    Movie clean(8, 10, 10, 1);
    EditText broken = t;
    broken.layout = EditText::Layout{.align = 9};
    EXPECT_THROW(clean.defineEditText(broken), Error);
    EXPECT_EQ(clean.allocateId(), 1);
}

TEST(SwfMovie, SpriteNestsItsOwnTimeline) {
    Movie m(8, 100, 100, 12);
    ShapeBuilder s;
    const uint16_t shape = m.defineShape(s);
    Timeline inner;
    inner.place({.depth = 1, .character = shape}).showFrame();
    inner.frameLabel("two").place({.depth = 1, .move = true, .matrix = Matrix::translate(100, 0)});
    ActionAssembler stop;
    stop.stop();
    inner.doAction(stop);
    const uint16_t sprite = m.defineSprite(inner);
    m.place({.depth = 1, .character = sprite, .name = "clip"});

    const auto tags = swftest::parseSwf(m.build()).tags;
    ASSERT_EQ(tags[1].code, tag::DefineSprite);
    const Bytes& body = tags[1].body;
    EXPECT_EQ(body[0] | body[1] << 8, sprite);
    EXPECT_EQ(body[2] | body[3] << 8, 2);  // the open second frame is closed
    const auto nested = swftest::parseTags(std::span<const uint8_t>(body).subspan(4));
    EXPECT_EQ(codes(nested), (std::vector<uint16_t>{tag::PlaceObject2, tag::ShowFrame, tag::FrameLabel,
                                                    tag::PlaceObject2, tag::DoAction, tag::ShowFrame, tag::End}));
    EXPECT_EQ(nested[2].body, (Bytes{'t', 'w', 'o', 0}));
    EXPECT_EQ(nested[4].body, (Bytes{0x07, 0x00}));
}

TEST(SwfMovie, VideoAndAssetTagsHaveTheirFieldLayouts) {
    Movie m(8, 10, 10, 1);
    const uint16_t v = m.defineVideoStream({.numFrames = 3, .width = 320, .height = 240, .deblocking = 2,
                                            .smoothing = true});
    const Bytes packet{0x30, 0x10, 0x30, 0x10};
    m.videoFrame(v, 0, packet);
    m.exportAssets({{v, "clip"}});
    ActionAssembler init;
    init.play();
    m.doInitAction(v, init);
    const uint16_t font = m.defineDeviceFont("Arial", true, false);
    EXPECT_THROW(m.frameLabel(""), Error);
    EXPECT_THROW(m.rawTag(tag::End, {}), Error);

    const auto tags = swftest::parseSwf(m.build()).tags;
    EXPECT_EQ(tags[0].body, (Bytes{1, 0, 3, 0, 0x40, 0x01, 0xF0, 0x00, 0x05, 3}));
    EXPECT_EQ(tags[1].code, tag::VideoFrame);
    EXPECT_EQ(tags[1].body, (Bytes{1, 0, 0, 0, 0x30, 0x10, 0x30, 0x10}));
    EXPECT_EQ(tags[2].body, (Bytes{1, 0, 1, 0, 'c', 'l', 'i', 'p', 0}));
    EXPECT_EQ(tags[3].body, (Bytes{1, 0, 0x06, 0}));
    EXPECT_EQ(font, 2);
    EXPECT_EQ(tags[4].body, (Bytes{2, 0, 0x05, 0, 5, 'A', 'r', 'i', 'a', 'l', 0, 0, 0, 0}));
}
