// Damaged movies through both back-ends: mutated copies of the project's own
// movies (bytes flipped, lengths changed, tags cut, dropped or doubled, the
// file cut short), made from a fixed seed so every run loads the same ones,
// each loaded by an off-screen component. The program must live through all
// of them, each must end in a picture or in the player refusing it, and the
// component must still show a sound movie afterwards.
//   KV_MUTANTS=n     how many mutants per back-end (default 2,000: both
//                    back-ends take about 10 s, so CI runs the full count)
//   KV_MUTANT_LOG=i  prints the player's log of mutant i
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ax_support.h"

using namespace axtest;
using namespace nstest;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kDefaultMutants = 2000;
constexpr std::uint32_t kSeed = 0x4B56u;

int MutantCount()
{
    if (const char* n = std::getenv("KV_MUTANTS"))
        if (const int v = std::atoi(n); v > 0)
            return v;
    return kDefaultMutants;
}

Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The project's movies: the generated ones the tests play, and the movie
// seeds of the parser's fuzzer (sample movies the project writes, with the
// smallest ones that ever found a fault).
std::vector<Bytes> Originals()
{
    std::vector<Bytes> movies;
    sw::ActionAssembler say;
    say.fscommand("loaded", "").stop();
    movies.push_back(RectMovie(0x3366CC, 255, say));
    movies.push_back(RectMovie(0xC03020, 128));
    movies.push_back(RectMovie(0x20A040, 255, say, sw::Compression::Zlib));
    movies.push_back(TextFieldMovie());
    movies.push_back(FramesMovie(6));
    for (const char* name : {"all_actions.swf", "arcticoverall.swf", "chr_out_of_range.swf", "interactive.swf",
                             "shape4.swf", "shapes.swf", "shapes_compressed.swf"}) {
        Bytes b = ReadAll(std::string(KV_FUZZ_SEEDS_DIR) + "/fuzz_swf_parse/" + name);
        if (!b.empty())
            movies.push_back(std::move(b));
    }
    return movies;
}

struct Tag {
    size_t at = 0;      // the tag's header
    size_t header = 0;  // 2, or 6 with a long length
    size_t length = 0;  // the body's
};

// The tags of an uncompressed movie as far as their headers can be read;
// none for a compressed one.
std::vector<Tag> Tags(const Bytes& m)
{
    std::vector<Tag> tags;
    if (m.size() < 9 || m[0] != 'F')
        return tags;
    const size_t bits = m[8] >> 3;
    size_t at = 8 + (5 + 4 * bits + 7) / 8 + 4;
    while (at + 2 <= m.size()) {
        const unsigned word = m[at] | (m[at + 1] << 8);
        Tag t{at, 2, word & 0x3Fu};
        if (t.length == 0x3F) {
            if (at + 6 > m.size())
                break;
            t.header = 6;
            t.length = m[at + 2] | (m[at + 3] << 8) | (m[at + 4] << 16) | (size_t(m[at + 5]) << 24);
        }
        tags.push_back(t);
        if ((word >> 6) == 0 || t.length > m.size())
            break;
        at += t.header + t.length;
    }
    return tags;
}

enum Kind { FlipBytes, TagLength, CutTag, TagCutShort, FileLength, CutShort, DoubleTag, FlipAndCut, kKinds };
const char* const kKindNames[] = {"bytes flipped", "a tag's length changed", "a tag cut out",
                                  "cut inside a tag", "the file's length changed", "cut short",
                                  "a tag doubled", "bytes flipped and a tag cut out"};

// Mutant number `index` of `original`: the same index always gives the same
// bytes.
Bytes Mutate(const Bytes& original, int index, Kind kind)
{
    std::mt19937 rng(kSeed + static_cast<std::uint32_t>(index) * 2654435761u);
    auto below = [&](size_t n) { return n ? static_cast<size_t>(rng() % n) : 0; };
    Bytes m = original;
    const std::vector<Tag> tags = Tags(m);
    // Tag mutations need tags; a compressed movie gets its bytes flipped.
    if (tags.empty() && (kind == TagLength || kind == CutTag || kind == TagCutShort || kind == DoubleTag))
        kind = FlipBytes;
    auto flip = [&] {
        const size_t n = 1 + below(8);
        for (size_t i = 0; i < n && !m.empty(); ++i) {
            // Half of them land in the first 64 bytes, where the headers are.
            const size_t at = (rng() & 1) ? below(std::min<size_t>(64, m.size())) : below(m.size());
            m[at] ^= static_cast<std::uint8_t>(1 + below(255));
        }
    };
    auto cutTag = [&] {
        const Tag& t = tags[below(tags.size())];
        const size_t end = std::min(m.size(), t.at + t.header + t.length);
        m.erase(m.begin() + static_cast<std::ptrdiff_t>(t.at), m.begin() + static_cast<std::ptrdiff_t>(end));
    };
    switch (kind) {
    case FlipBytes: flip(); break;
    case TagLength: {
        const Tag& t = tags[below(tags.size())];
        const std::uint32_t choices[] = {0u, static_cast<std::uint32_t>(t.length) - 1u,
                                         static_cast<std::uint32_t>(t.length) + 1u,
                                         static_cast<std::uint32_t>(t.length) * 2u, 0x3Eu, 0xFFFFFFFFu,
                                         static_cast<std::uint32_t>(rng())};
        const std::uint32_t v = choices[below(std::size(choices))];
        if (t.header == 6) {
            for (int i = 0; i < 4; ++i)
                m[t.at + 2 + i] = static_cast<std::uint8_t>(v >> (8 * i));
        } else {
            m[t.at] = static_cast<std::uint8_t>((m[t.at] & 0xC0) | (v & 0x3F));
        }
        break;
    }
    case CutTag: cutTag(); break;
    case TagCutShort: {
        const Tag& t = tags[below(tags.size())];
        m.resize(std::min(m.size(), t.at + 1 + below(t.header + t.length)));
        break;
    }
    case FileLength: {
        const std::uint32_t choices[] = {0u, static_cast<std::uint32_t>(m.size() / 2),
                                         static_cast<std::uint32_t>(m.size() * 2), 0xFFFFFFFFu, 8u};
        const std::uint32_t v = choices[below(std::size(choices))];
        for (int i = 0; i < 4 && 4 + i < static_cast<int>(m.size()); ++i)
            m[4 + i] = static_cast<std::uint8_t>(v >> (8 * i));
        break;
    }
    case CutShort: m.resize(below(m.size())); break;
    case DoubleTag: {
        const Tag& t = tags[below(tags.size())];
        const size_t end = std::min(m.size(), t.at + t.header + t.length);
        const Bytes copy(m.begin() + static_cast<std::ptrdiff_t>(t.at), m.begin() + static_cast<std::ptrdiff_t>(end));
        m.insert(m.begin() + static_cast<std::ptrdiff_t>(end), copy.begin(), copy.end());
        break;
    }
    case FlipAndCut:
        if (!tags.empty())
            cutTag();
        flip();
        break;
    case kKinds: break;
    }
    // A movie whose header still gives the old length is refused before its
    // tags are read: after a change of the tags the header mostly follows, so
    // the damage reaches the tag reader (a movie cut short keeps the old
    // length every other time, as a download that ended early does).
    const bool follow = kind == CutTag || kind == DoubleTag || kind == FlipAndCut ||
                        ((kind == TagCutShort || kind == CutShort) && (index & 1));
    if (follow && !tags.empty() && m.size() >= 8) {
        const auto size = static_cast<std::uint32_t>(m.size());
        for (int i = 0; i < 4; ++i)
            m[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    }
    return m;
}

class Mutation : public BackEndCase, public ::testing::WithParamInterface<TkvPlugin> {
protected:
    void TearDown() override
    {
        form_.reset();
        Pump();
        BackEndCase::TearDown();
    }
    std::unique_ptr<TForm, FormDeleter> form_;
};

// The player's own word that it would not take what it was given.
bool Refused(const std::string& log)
{
    return log.find(" refused") != std::string::npos || log.find(" failed") != std::string::npos;
}

TEST_P(Mutation, DamagedMoviesEachEndInAPictureOrARefusal)
{
    const TkvPlugin backEnd = GetParam();
    const std::vector<Bytes> originals = Originals();
    ASSERT_GE(originals.size(), 10u) << "the fuzzer's movie seeds were not found";
    const int count = MutantCount();

    form_.reset(new TForm(nullptr));
    form_->AfterConstruction();
    form_->SetBorderStyle(bsNone);
    form_->SetBounds(40, 40, 120, 120);
    form_->Show();
    auto* comp = new TkvFlashPlayerComp(form_.get());
    comp->SetPlugin(backEnd);
    UseControlClock();
    ASSERT_STREQ(comp->Driver->DriverClass().ClassName(), DriverClassOf(backEnd));
    bool painted = false;
    comp->OnPaint = TkvPaintEvent([&](TObject*, const TRect&) { painted = true; });

    int pictures = 0, refusals = 0, neither = 0;
    int byKind[kKinds][2] = {};
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const Kind kind = static_cast<Kind>(i % kKinds);
        const size_t source = (i / kKinds) % originals.size();
        const Bytes mutant = Mutate(originals[source], i, kind);
        ClearLogOf(backEnd);
        painted = false;
        {
            TMemoryStream stream;
            if (!mutant.empty())
                stream.Write(mutant.data(), static_cast<std::int64_t>(mutant.size()));
            stream.SetPosition(0);
            comp->LoadMovieFromStream(&stream);
        }
        Pump();
        StepOn(backEnd, 2);
        const bool refused = Refused(LogOf(backEnd));
        if (const char* show = std::getenv("KV_MUTANT_LOG"); show && std::atoi(show) == i)
            std::printf("mutant %d (%s): painted %d\n%s\n", i, kKindNames[kind], painted, LogOf(backEnd).c_str());
        // The package shows its background for a refused movie too: the
        // player's word decides first.
        if (refused) {
            ++refusals;
            ++byKind[kind][1];
        } else if (painted) {
            ++pictures;
            ++byKind[kind][0];
        } else if (++neither <= 5) {
            ADD_FAILURE() << "mutant " << i << " (" << kKindNames[kind] << ", movie " << source << ", "
                          << mutant.size() << " bytes) ended in neither a picture nor a refusal; the log:\n"
                          << LogOf(backEnd);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %d mutants in %.1f s: %d pictures, %d refusals, %d neither\n",
                backEnd == kvActiveX ? "ActiveX" : "Netscape", count, seconds, pictures, refusals, neither);
    for (int k = 0; k < kKinds; ++k)
        std::printf("  %-32s %5d pictures %5d refusals\n", kKindNames[k], byKind[k][0], byKind[k][1]);
    EXPECT_EQ(neither, 0);

    // The component still plays a sound movie.
    ClearLogOf(backEnd);
    comp->LoadMovie(WriteFile(std::wstring(L"sound-") + (backEnd == kvActiveX ? L"ax" : L"ns") + L".swf",
                              RectMovie(0x8040A0)));
    Pump();
    StepOn(backEnd, 2);
    EXPECT_EQ(Pixel(comp->Driver, 50, 50) & 0xFFFFFF, 0x8040A0u);
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, Mutation, ::testing::ValuesIn(kBothBackEnds), BackEndName);

}  // namespace
