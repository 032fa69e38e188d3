// The text description compiler behind swfwrite.
#include "swf_test_reader.h"
#include "swfwriter/swf_text.h"
#include "swfwriter/swf_writer.h"

#include <gtest/gtest.h>

#include <map>

using namespace refplayer::swfwriter;
using Bytes = std::vector<uint8_t>;

namespace {

const char* kMovie = R"(# A movie with one of everything
movie version=8 width=550 height=400 rate=12 compress
attributes network
background #336699
shape box version=3
  fill red #FF000080
  line black 2 #000000
  rect 10 10 100 50 fill=red line=black
  circle 200 200 40 fill=red
  path fill=red M 0 0 L 10 0 Q 20 0 20 10 Z
end
button go menu
  state up|over|hit box depth=2 x=5
  on release|key:13
    fscommand "play" "now"
  end
end
text field 10 300 200 20 var=answer text="he said \"hi\"" size=12 color=#000000 border readonly
sprite clip
  place 1 box
  frame
  remove 1
end
place 1 box name=b x=5 y=5 alpha=0.5
place 2 go
label start anchor
actions
  push "i", 0
  setvariable
loop:
  get i
  push 10
  less2
  not
  if done
  set i 1
  jump loop
done:
  excall "hello" 1 "two" _root.x
  function2 onStop regs=2 flags=preloadthis|suppressarguments 1:x
    push r:1
    return
  end
  stop
end
frame
)";

struct Record {
    uint8_t code;
    size_t offset, end;
    Bytes payload;
};

std::vector<Record> actionRecords(const Bytes& body) {
    std::vector<Record> out;
    size_t i = 0;
    while (i < body.size() && body[i] != 0) {
        Record r{body[i], i, 0, {}};
        ++i;
        if (r.code >= 0x80) {
            const size_t n = body[i] | body[i + 1] << 8;
            r.payload.assign(body.begin() + i + 2, body.begin() + i + 2 + n);
            i += 2 + n;
        }
        r.end = i;
        out.push_back(r);
    }
    return out;
}

std::string compileError(const std::string& text, const FileReader& reader = {}) {
    const auto r = compileSwfText(text, reader);
    EXPECT_FALSE(r.ok) << text;
    EXPECT_TRUE(r.swf.empty());
    return r.error;
}

}  // namespace

TEST(SwfText, FullDescriptionCompilesToTheExpectedTags) {
    const auto result = compileSwfText(kMovie);
    ASSERT_TRUE(result.ok) << result.error;
    const auto swf = swftest::parseSwf(result.swf);
    EXPECT_EQ(swf.signature, 'C');
    EXPECT_EQ(swf.version, 8);
    EXPECT_EQ(swf.xMax, 11000);
    EXPECT_EQ(swf.frames, 1);
    std::vector<uint16_t> codes;
    for (const auto& t : swf.tags)
        codes.push_back(t.code);
    EXPECT_EQ(codes, (std::vector<uint16_t>{tag::FileAttributes, tag::SetBackgroundColor, tag::DefineShape3,
                                            tag::DefineButton2, tag::DefineFont2, tag::DefineEditText,
                                            tag::DefineSprite, tag::PlaceObject2, tag::PlaceObject2,
                                            tag::FrameLabel, tag::DoAction, tag::ShowFrame, tag::End}));
    EXPECT_EQ(swf.tags[1].body, (Bytes{0x33, 0x66, 0x99}));
    EXPECT_EQ(swf.tags[9].body, (Bytes{'s', 't', 'a', 'r', 't', 0, 1}));

    const auto shape = swftest::parseShape(3, swf.tags[2].body);
    EXPECT_EQ(shape.fills[0], (std::vector<uint32_t>{0xFF000080}));
    EXPECT_EQ(shape.lines[0], (std::vector<std::pair<uint16_t, uint32_t>>{{40, 0x000000FF}}));

    // Button: menu flag, the record's states and depth, release + Enter.
    const Bytes& button = swf.tags[3].body;
    EXPECT_EQ(button[2], 1);
    EXPECT_EQ(button[5], 0x0B);
    EXPECT_EQ(button[8] | button[9] << 8, 2);

    // Escapes inside the initial text survive.
    const Bytes& text = swf.tags[5].body;
    const std::string tail(text.end() - 13, text.end());
    EXPECT_EQ(tail, std::string("he said \"hi\"\0", 13));

    // The first placement carries name, matrix and the alpha transform.
    EXPECT_EQ(swf.tags[7].body[0], 0x2E);

    // Branches land on their labels.
    const auto rec = actionRecords(swf.tags[10].body);
    std::map<size_t, size_t> byOffset;
    for (size_t i = 0; i < rec.size(); ++i)
        byOffset[rec[i].offset] = i;
    int branches = 0;
    for (const auto& r : rec) {
        if (r.code != 0x99 && r.code != 0x9D)
            continue;
        ++branches;
        const int16_t off = static_cast<int16_t>(r.payload[0] | r.payload[1] << 8);
        const size_t target = r.end + off;
        ASSERT_TRUE(byOffset.count(target)) << "branch into the middle of a record";
        const uint8_t landed = rec[byOffset[target]].code;
        if (r.code == 0x99)
            EXPECT_EQ(landed, 0x96);  // back to "get i": push "i"
        else
            EXPECT_EQ(rec[byOffset[target]].payload, (Bytes{0, '_', 'r', 'o', 'o', 't', 0}));  // excall's last argument first
    }
    EXPECT_EQ(branches, 2);
}

TEST(SwfText, ErrorsNameTheLine) {
    EXPECT_EQ(compileError(""), "line 1: empty description: it starts with a movie line");
    EXPECT_EQ(compileError("shape a\nend\n").substr(0, 7), "line 1:");
    const std::string head = "movie version=8 width=10 height=10 rate=12\n";
    EXPECT_EQ(compileError(head + "plaec 1 box\n"), "line 2: unknown command \"plaec\"");
    EXPECT_EQ(compileError(head + "place 1 nothing\n"), "line 2: unknown character \"nothing\"");
    EXPECT_EQ(compileError(head + "background #12345\n"), "line 2: colour must be #RRGGBB or #RRGGBBAA");
    EXPECT_EQ(compileError(head + "shape a\n rect 0 0 1 1 colour=red\nend\n"), "line 3: unknown option colour=");
    EXPECT_EQ(compileError(head + "actions\n jump nowhere\n play\nend\n"), "line 3: label nowhere is never defined");
    EXPECT_EQ(compileError(head + "actions\n a:\n a:\nend\n"), "line 4: label a defined twice");
    EXPECT_EQ(compileError(head + "actions\n push hello\nend\n"), "line 3: \"hello\" is not a value (quote strings)");
    EXPECT_EQ(compileError(head + "actions\n push \"open\nend\n"), "line 3: unterminated string");
    EXPECT_EQ(compileError(head + "actions\n play\n"), "line 2: action block without end");
    EXPECT_EQ(compileError(head + "sprite s\n shape t\n end\nend\n"),
              "line 3: definitions belong on the main timeline, not in a sprite");
    // The writer's own refusals carry the line too.
    EXPECT_EQ(compileError(head + "shape a version=1\n fill f #FF000080\nend\n"),
              "line 3: DefineShape colours cannot carry alpha");
    EXPECT_EQ(compileError(head + "place 1 x\n").substr(0, 7), "line 2:");
    EXPECT_EQ(compileError(head + "shape a\nend\nshape a\nend\n"), "line 4: character name \"a\" empty or already used");
}

TEST(SwfText, NamedFilesComeThroughTheReader) {
    const std::string text = "movie version=8 width=10 height=10 rate=12\n"
                             "video v 32 16 frames=1\n"
                             "videoframe v 0 file=frame0.bin\n"
                             "tag 777 long hex=0102ff\n";
    const FileReader reader = [](const std::string& path) -> std::optional<Bytes> {
        if (path == "frame0.bin")
            return Bytes{9, 8, 7};
        return std::nullopt;
    };
    const auto ok = compileSwfText(text, reader);
    ASSERT_TRUE(ok.ok) << ok.error;
    const auto tags = swftest::parseSwf(ok.swf).tags;
    EXPECT_EQ(tags[1].body, (Bytes{1, 0, 0, 0, 9, 8, 7}));
    EXPECT_EQ(tags[2].code, 777);
    EXPECT_EQ(tags[2].body, (Bytes{1, 2, 0xFF}));

    EXPECT_EQ(compileError(text.substr(0, text.find("tag")) + "videoframe v 1 file=missing.bin\n", reader),
              "line 4: cannot read \"missing.bin\"");
    const auto noReader = compileSwfText(text);
    EXPECT_EQ(noReader.error, "line 3: files cannot be read here");
}
