// The soak: many movies through each back-end, many drivers made and freed,
// each component made, loaded and freed many times, with the process's heap,
// GDI and USER objects and threads printed as it goes. The short version runs
// in CI and holds the second half of each run to a fixed allowance;
// scripts/soak runs the full one (KV_SOAK=full: 10,000 movies per back-end,
// 1,000 drivers and 1,000 of each component per back-end, a line every 1,000
// steps).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "ax_support.h"
#include "kv_layer.h"
#include "resource_meter.h"

using namespace axtest;
using namespace nstest;
using namespace leaktest;

namespace {

struct Counts {
    int movies, drivers, components, every;
};

const Counts& Soak()
{
    static const Counts counts = [] {
        const char* mode = std::getenv("KV_SOAK");
        if (mode && std::strcmp(mode, "full") == 0)
            return Counts{10000, 1000, 1000, 1000};
        return Counts{400, 200, 100, 100};
    }();
    return counts;
}

// Growth allowed over the second half of a run, as in the leak tests: a
// block kept per step shows several times over; threads must not grow.
constexpr Allowance kAllowance{.HeapBytes = 16 * 1024, .GdiObjects = 2, .UserObjects = 2, .Threads = 0};

DWORD WINAPI WaitFor(void* event) { return WaitForSingleObject(static_cast<HANDLE>(event), INFINITE); }

// The meter itself sees each kind of growth, so flat figures (one thread
// under Wine, which runs a window program's message loop on its main thread)
// are readings, not a blind meter.
TEST(ResourceMeter, SeesEachKindOfGrowth)
{
    const ResourceUse before = MeasureResources();
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, WaitFor, stop, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    HGDIOBJ brushes[3] = {CreateSolidBrush(RGB(1, 2, 3)), CreateSolidBrush(RGB(4, 5, 6)), CreatePen(PS_SOLID, 1, 0)};
    HWND wnd = CreateWindowExW(0, L"STATIC", L"meter", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(wnd, nullptr);
    std::vector<char> block(1 << 20, 1);
    const ResourceUse during = MeasureResources();
    EXPECT_EQ(during.Threads - before.Threads, 1) << Growth(before, during);
    // A 32-bit process under Wine has no GDI handle table to read and no
    // GetGuiResources: there GDI objects are not counted (-1), and only the
    // 64-bit runs hold GDI to an allowance.
    if (before.GdiObjects >= 0)
        EXPECT_GE(during.GdiObjects - before.GdiObjects, 3) << Growth(before, during);
    else
        std::printf("GDI objects are not counted in this process\n");
    EXPECT_GE(during.UserObjects - before.UserObjects, 1) << Growth(before, during);
    EXPECT_GE(during.HeapBytes - before.HeapBytes, 1 << 20) << Growth(before, during);
    EXPECT_FALSE(WithinAllowance(before, during, kAllowance));
    SetEvent(stop);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(stop);
    for (HGDIOBJ o : brushes)
        DeleteObject(o);
    DestroyWindow(wnd);
    block = {};
    block.shrink_to_fit();
    // A thread that has ended may stay listed for a moment.
    ResourceUse after = MeasureResources();
    for (int i = 0; i < 100 && !WithinAllowance(before, after, kAllowance); ++i) {
        Sleep(10);
        after = MeasureResources();
    }
    EXPECT_TRUE(WithinAllowance(before, after, kAllowance)) << Growth(before, after);
}

const char* NameOf(TkvPlugin p) { return p == kvActiveX ? "ActiveX" : "Netscape"; }

// Both back-ends are found once, before anything is measured, with their
// logs off (they would grow with every call).
void ProbeOnce()
{
    static const bool once = [] {
        CheckFlashPlugins();
        if (Control().Loaded()) {
            Control().SetManualClock(1);
            Control().EnableLog(0);
        }
        if (Player().Loaded())
            Player().EnableLog(0);
        return true;
    }();
    (void)once;
    ASSERT_TRUE(Control().Loaded()) << "the reference control is not registered in this prefix";
    ASSERT_TRUE(Player().Loaded());
    ASSERT_NE(NetscapeDriverClass, nullptr);
    ASSERT_NE(ActiveXDriverClass, nullptr);
}

void StepBackEnd(TkvPlugin p)
{
    if (p == kvActiveX)
        StepControls(1);
    else
        Step(1);
}

// Released drivers and the players' script collectors have run: what is
// left is what the steps kept.
ResourceUse Settle()
{
    Pump();
    FreeReleasedDrivers();
    Pump();
    Player().CollectGarbage();
    Control().CollectGarbage();
    return MeasureResources();
}

// Prints a line every `every` steps and keeps the middle and the end.
class Meter {
public:
    Meter(std::string what, int steps) : what_(std::move(what)), steps_(steps) {}
    void After(int step)
    {
        const bool line = step % Soak().every == 0 || step == steps_;
        const bool middle = step == steps_ / 2;
        if (!line && !middle)
            return;
        const ResourceUse now = Settle();
        if (middle)
            middle_ = now;
        if (line) {
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
            std::printf("%s %6d: heap %lld bytes, GDI %ld, USER %ld, threads %ld (%.1f s)\n", what_.c_str(), step,
                        static_cast<long long>(now.HeapBytes), now.GdiObjects, now.UserObjects, now.Threads, s);
            std::fflush(stdout);
        }
        if (step == steps_) {
            const std::string growth = Growth(middle_, now);
            std::printf("%s: %s over the second half\n", what_.c_str(), growth.c_str());
            EXPECT_TRUE(WithinAllowance(middle_, now, kAllowance))
                << what_ << ": " << growth << "; allowed: heap " << kAllowance.HeapBytes << " bytes, GDI "
                << kAllowance.GdiObjects << ", USER " << kAllowance.UserObjects << ", threads " << kAllowance.Threads;
        }
    }

private:
    std::string what_;
    int steps_;
    ResourceUse middle_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Movies that say "loaded" from their first frame, in a few shapes.
std::vector<std::vector<std::uint8_t>> SoakMovies()
{
    sw::ActionAssembler say;
    say.fscommand("loaded", "").stop();
    sw::ActionAssembler sayLater;
    sayLater.fscommand("loaded", "");
    return {RectMovie(0x3366CC, 255, say), RectMovie(0xC03020, 128, say),
            RectMovie(0x20A040, 255, say, sw::Compression::Zlib), RectMovie(0x806020, 255, sayLater)};
}

class SoakCase : public ::testing::TestWithParam<TkvPlugin> {
protected:
    void SetUp() override
    {
        ProbeOnce();
        saved_ = DefaultFlashDriverClass;
        DefaultFlashDriverClass = GetParam() == kvActiveX ? ActiveXDriverClass : NetscapeDriverClass;
        form_.reset(new TForm(nullptr));
        form_->AfterConstruction();
        form_->SetBorderStyle(bsNone);
        form_->SetBounds(40, 40, 120, 120);
        form_->Show();
        Pump();
        const std::wstring tag = GetParam() == kvActiveX ? L"ax" : L"ns";
        int n = 0;
        for (auto& m : SoakMovies()) {
            bytes_.push_back(m);
            files_.push_back(WriteFile(L"soak-" + tag + L"-" + std::to_wstring(n++) + L".swf", m));
        }
    }
    void TearDown() override
    {
        form_.reset();
        Pump();
        if (saved_)
            DefaultFlashDriverClass = saved_;
    }
    std::unique_ptr<TForm, FormDeleter> form_;
    std::vector<std::vector<std::uint8_t>> bytes_;
    std::vector<std::wstring> files_;

private:
    const TkvFlashDriverClass* saved_ = nullptr;
};

using Movies = SoakCase;
using Drivers = SoakCase;
using Components = SoakCase;

// One off-screen component plays movie after movie, from files and streams.
TEST_P(Movies, ManyMoviesThroughOneComponentKeepResourcesFlat)
{
    const TkvPlugin p = GetParam();
    auto* comp = new TkvFlashPlayerComp(form_.get());
    ASSERT_STREQ(comp->Driver->DriverClass().ClassName(), DriverClassOf(p));
    bool loaded = false;
    comp->OnFSCommand = TkvFSCommandEvent([&](TObject*, const WideString& c, const WideString&) {
        loaded = loaded || c == L"loaded";
    });
    Meter meter(std::string("movies ") + NameOf(p), Soak().movies);
    for (int i = 1; i <= Soak().movies; ++i) {
        loaded = false;
        const size_t m = static_cast<size_t>(i) % files_.size();
        if (i % 2) {
            comp->LoadMovie(files_[m]);
        } else {
            TMemoryStream stream;
            stream.Write(bytes_[m].data(), static_cast<std::int64_t>(bytes_[m].size()));
            stream.SetPosition(0);
            comp->LoadMovieFromStream(&stream);
        }
        for (int s = 0; s < 5 && !loaded; ++s)
            StepBackEnd(p);
        ASSERT_TRUE(loaded) << "movie " << i << " never said it loaded";
        meter.After(i);
    }
    Free(comp);
}

// Drivers made straight from the back-end's class, given a movie, freed.
TEST_P(Drivers, ManyDriversMadeAndFreedKeepResourcesFlat)
{
    const TkvPlugin p = GetParam();
    const TkvFlashDriverClass& cls = *(p == kvActiveX ? ActiveXDriverClass : NetscapeDriverClass);
    Meter meter(std::string("drivers ") + NameOf(p), Soak().drivers);
    for (int i = 1; i <= Soak().drivers; ++i) {
        TkvFlashDriver* d = cls.Create(100, 100, 0);
        bool loaded = false;
        d->OnFSCommand = TkvFSCommandEvent([&](TObject*, const WideString& c, const WideString&) {
            loaded = loaded || c == L"loaded";
        });
        d->LoadMovie(files_[static_cast<size_t>(i) % files_.size()]);
        for (int s = 0; s < 5 && !loaded; ++s)
            StepBackEnd(p);
        FreeFlashDriver(d);
        ASSERT_TRUE(loaded) << "driver " << i << " never played its movie";
        meter.After(i);
    }
}

// One component of class C on the form: made, given a movie, shown until it
// says it loaded, freed.
template <class C>
bool LoadOnce(TForm* form, TkvPlugin p, const std::wstring& movie)
{
    C* c = new C(form);
    if constexpr (std::is_base_of_v<TControl, C>) {
        if constexpr (!std::is_base_of_v<TkvFlashLayer, C>)
            c->SetBounds(0, 0, 100, 100);
        c->SetParent(form);
    }
    bool loaded = false;
    c->OnFSCommand = TkvFSCommandEvent([&](TObject*, const WideString& command, const WideString&) {
        loaded = loaded || command == L"loaded";
    });
    c->LoadMovie(movie);
    for (int i = 0; i < 5 && !loaded; ++i)
        StepBackEnd(p);
    Free(c);
    return loaded;
}

template <class C>
void Cycle(const char* name, TForm* form, TkvPlugin p, const std::vector<std::wstring>& files)
{
    Meter meter(std::string(name) + " " + NameOf(p), Soak().components);
    for (int i = 1; i <= Soak().components; ++i) {
        ASSERT_TRUE(LoadOnce<C>(form, p, files[static_cast<size_t>(i) % files.size()]))
            << name << " " << i << ": the movie never said it loaded";
        meter.After(i);
    }
}

TEST_P(Components, EachComponentMadeLoadedAndFreedManyTimesKeepsResourcesFlat)
{
    const TkvPlugin p = GetParam();
    Cycle<TkvFlashPlayer>("TkvFlashPlayer", form_.get(), p, files_);
    Cycle<TkvFlashPlayerWnd>("TkvFlashPlayerWnd", form_.get(), p, files_);
    Cycle<TkvFlashPlayerComp>("TkvFlashPlayerComp", form_.get(), p, files_);
    Cycle<TkvFlashLayer>("TkvFlashLayer", form_.get(), p, files_);
}

auto Name = [](const ::testing::TestParamInfo<TkvPlugin>& info) { return std::string(NameOf(info.param)); };
INSTANTIATE_TEST_SUITE_P(BothBackEnds, Movies, ::testing::ValuesIn(kBothBackEnds), Name);
INSTANTIATE_TEST_SUITE_P(BothBackEnds, Drivers, ::testing::ValuesIn(kBothBackEnds), Name);
INSTANTIATE_TEST_SUITE_P(BothBackEnds, Components, ::testing::ValuesIn(kBothBackEnds), Name);

}  // namespace
