// kvrender end to end under each back-end: frames taken frame by frame equal
// what the reference player's own renderer (refplay render) draws, real-time
// frames come in order and take the variables given, and every bad input ends
// with one line, status 2 and no picture. The programs run beside this one in
// <build>/bin, next to the reference plug-in library; the reference control
// is registered in the test prefix.
#include <windows.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kv_owners.h"
#include "swfwriter/actions.h"
#include "swfwriter/shape.h"
#include "swfwriter/swf_writer.h"

namespace fs = std::filesystem;
namespace sw = refplayer::swfwriter;

namespace {

// --- programs --------------------------------------------------------------------

fs::path BinDir()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(std::wstring(path, n)).parent_path();
}

struct Outcome {
    DWORD code = 0xFFFFFFFF;
    std::string out, err;
    // Standard error less what Wine's own debug channels print there.
    std::vector<std::string> ErrLines() const
    {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < err.size()) {
            size_t end = err.find('\n', start);
            if (end == std::string::npos)
                end = err.size();
            std::string line = err.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const bool wine = line.size() > 5 && line[4] == ':' &&
                              (line.find(":err:") != std::string::npos || line.find(":fixme:") != std::string::npos ||
                               line.find(":warn:") != std::string::npos);
            if (!wine)
                lines.push_back(line);
            start = end + 1;
        }
        return lines;
    }
};

std::wstring Quote(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring q = L"\"";
    for (wchar_t c : arg) {
        if (c == L'"')
            q += L'\\';
        q += c;
    }
    return q + L"\"";
}

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a program with its standard output and error caught in files.
Outcome RunProgram(const fs::path& exe, const std::vector<std::wstring>& args, const fs::path& scratch)
{
    std::wstring line = Quote(exe.wstring());
    for (const auto& a : args)
        line += L" " + Quote(a);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    // Files of this run's own: a finished program's handles may outlive it a moment.
    static int runs = 0;
    const std::wstring n = std::to_wstring(++runs);
    const fs::path outPath = scratch / (L"stdout-" + n + L".txt"), errPath = scratch / (L"stderr-" + n + L".txt");
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, share, &inherit, OPEN_EXISTING, 0, nullptr);
    Outcome o;
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot make the files for the program's output";
        return o;
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    // Wine's own chatter stays out of the streams the cases read.
    SetEnvironmentVariableW(L"WINEDEBUG", L"-all");
    const BOOL started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &si, &pi);
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(nul);
    if (!started) {
        ADD_FAILURE() << "cannot start " << exe.string() << ": error " << GetLastError();
        return o;
    }
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, 5000);
        ADD_FAILURE() << exe.string() << " did not finish in two minutes";
    }
    GetExitCodeProcess(pi.hProcess, &o.code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    o.out = ReadAll(outPath);
    o.err = ReadAll(errPath);
    return o;
}

// Removes a folder and what is in it, and gives up rather than wait forever.
// A program that has just ended may still hold the files it wrote (Wine closes
// a finished process's handles a moment later), so a file can still be listed
// after its deletion and vanish while the walk reaches it; the standard
// library's remove_all then retries that entry for ever. This walk takes a
// list first, deletes from it, and tries again a bounded number of times.
void RemoveTree(const fs::path& root)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        std::error_code ec;
        if (!fs::exists(root, ec) && !ec)
            return;
        std::vector<fs::path> files, folders;
        for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            (it->is_directory(typeError) ? folders : files).push_back(it->path());
        }
        for (const auto& f : files) {
            SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(f.c_str());
        }
        // Deepest first: a folder's path is longer than its parent's.
        std::sort(folders.begin(), folders.end(),
                  [](const fs::path& a, const fs::path& b) { return a.native().size() > b.native().size(); });
        for (const auto& d : folders)
            RemoveDirectoryW(d.c_str());
        if (RemoveDirectoryW(root.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
            GetLastError() == ERROR_PATH_NOT_FOUND)
            return;
        Sleep(100);
    }
}

// A folder of the case's own, removed with what is in it.
class Scratch {
public:
    Scratch()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = fs::path(temp) / (L"kvrender-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::wstring(name.begin(), name.end()));
        RemoveTree(dir_);
        fs::create_directories(dir_ / L"run");
    }
    ~Scratch() { RemoveTree(dir_); }
    const fs::path& Dir() const { return dir_; }
    fs::path operator/(const std::wstring& name) const { return dir_ / name; }
    fs::path Write(const std::wstring& name, const std::vector<std::uint8_t>& bytes) const
    {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    Outcome Kvrender(const std::vector<std::wstring>& args, const fs::path& exe = BinDir() / L"kvrender.exe") const
    {
        return RunProgram(exe, args, dir_ / L"run");
    }
    // Files below the folder whose names end so (".png", ".kvrender-part").
    std::vector<fs::path> FilesEnding(const std::wstring& ending) const
    {
        std::vector<fs::path> found;
        for (const auto& e : fs::recursive_directory_iterator(dir_)) {
            const std::wstring name = e.path().filename().wstring();
            if (e.is_regular_file() && name.size() >= ending.size() &&
                name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
                found.push_back(e.path());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

private:
    fs::path dir_;
};

// --- pictures ------------------------------------------------------------------------

// A PNG read back through WIC as straight-alpha 0xAARRGGBB pixels, and the
// pixel format it was stored in.
struct Picture {
    int width = 0, height = 0;
    GUID stored{};
    std::vector<std::uint32_t> pixels;
    std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Picture ReadPng(const fs::path& path)
{
    Picture p;
    kv::ComPtr<IWICImagingFactory> factory;
    kv::ComPtr<IWICBitmapDecoder> decoder;
    kv::ComPtr<IWICBitmapFrameDecode> frame;
    kv::ComPtr<IWICFormatConverter> converter;
    GUID container{};
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                factory.putVoid())) ||
        FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  decoder.put())) ||
        FAILED(decoder->GetContainerFormat(&container)) || !IsEqualGUID(container, GUID_ContainerFormatPng) ||
        FAILED(decoder->GetFrame(0, frame.put())) || FAILED(frame->GetPixelFormat(&p.stored)) ||
        FAILED(factory->CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom))) {
        ADD_FAILURE() << "not a PNG picture: " << path.string();
        return p;
    }
    UINT w = 0, h = 0;
    converter->GetSize(&w, &h);
    p.width = static_cast<int>(w);
    p.height = static_cast<int>(h);
    p.pixels.resize(static_cast<size_t>(w) * h);
    if (FAILED(converter->CopyPixels(nullptr, w * 4, w * h * 4, reinterpret_cast<BYTE*>(p.pixels.data()))))
        ADD_FAILURE() << "cannot read the pixels of " << path.string();
    return p;
}

std::uint32_t Premultiply(std::uint32_t p)
{
    const std::uint32_t a = p >> 24;
    auto ch = [&](int shift) { return (((p >> shift) & 0xFF) * a + 127) / 255; };
    return a << 24 | ch(16) << 16 | ch(8) << 8 | ch(0);
}

// Every premultiplied channel of `got` within 1 of `want`.
::testing::AssertionResult SamePicture(const Picture& got, const Picture& want)
{
    if (got.width != want.width || got.height != want.height)
        return ::testing::AssertionFailure() << "size " << got.width << "x" << got.height << ", reference "
                                             << want.width << "x" << want.height;
    int differing = 0;
    std::string first;
    for (int y = 0; y < got.height; ++y)
        for (int x = 0; x < got.width; ++x) {
            const std::uint32_t g = Premultiply(got.At(x, y)), w = Premultiply(want.At(x, y));
            for (int shift = 0; shift < 32; shift += 8) {
                const int d = static_cast<int>((g >> shift) & 0xFF) - static_cast<int>((w >> shift) & 0xFF);
                if (d > 1 || d < -1) {
                    if (differing++ == 0) {
                        char text[96];
                        wsprintfA(text, "(%d, %d): %08lX, reference %08lX", x, y, static_cast<unsigned long>(g),
                                  static_cast<unsigned long>(w));
                        first = text;
                    }
                    break;
                }
            }
        }
    if (differing)
        return ::testing::AssertionFailure() << differing << " pixels differ, first at " << first;
    return ::testing::AssertionSuccess();
}

// --- movies ----------------------------------------------------------------------------

// Script-free, 160 x 120 at 12 frames a second over a blue-grey background:
// an opaque square sliding, a half-transparent disc turning and growing, a
// translucent triangle that leaves at frame 4.
std::vector<std::uint8_t> FramesMovie()
{
    sw::Movie movie(8, 160, 120, 12);
    movie.setBackgroundColor(sw::Rgba::rgb(0x336699));
    sw::ShapeBuilder square(3);
    square.rectangle(0, 0, 40 * 20, 40 * 20, square.addFill(sw::Rgba::rgb(0xE02010)), 0);
    sw::ShapeBuilder disc(3);
    disc.ellipse(0, 0, 30 * 20, 22 * 20, disc.addFill(sw::Rgba{0x20, 0xD0, 0x40, 0x90}), 0);
    sw::ShapeBuilder triangle(3);
    triangle.polygon({{0, 0}, {50 * 20, 10 * 20}, {15 * 20, 45 * 20}}, triangle.addFill(sw::Rgba{0xFF, 0xFF, 0x30, 0x60}), 0);
    const uint16_t squareId = movie.defineShape(square), discId = movie.defineShape(disc),
                   triangleId = movie.defineShape(triangle);
    for (int f = 0; f < 6; ++f) {
        sw::PlaceObject s{.depth = 1, .move = f > 0};
        if (f == 0)
            s.character = squareId;
        s.matrix = sw::Matrix::make(1, 1, 0, (5 + 17 * f) * 20 + 7, (8 + 9 * f) * 20 + 3);
        movie.place(s);
        sw::PlaceObject d{.depth = 2, .move = f > 0};
        if (f == 0)
            d.character = discId;
        d.matrix = sw::Matrix::make(1 + 0.1 * f, 1 + 0.05 * f, 13.0 * f, 90 * 20 + 11, 60 * 20 + 5);
        movie.place(d);
        if (f == 0)
            movie.place(sw::PlaceObject{.depth = 3, .character = triangleId,
                                        .matrix = sw::Matrix::make(1, 1, 0, 100 * 20, 10 * 20)});
        if (f == 4)
            movie.removeObject2(3);
        movie.showFrame();
    }
    return movie.build(sw::Compression::Zlib);
}

constexpr int kCounterFrames = 30;
std::uint32_t CounterColour(int frame)
{
    return 0xFF000000u | static_cast<std::uint32_t>(frame * 8) << 16 | static_cast<std::uint32_t>(255 - frame * 8) << 8 | 0x40;
}

// 64 x 48 at 10 frames a second: frame k fills the stage with CounterColour(k).
std::vector<std::uint8_t> CounterMovie()
{
    sw::Movie movie(8, 64, 48, 10);
    for (int f = 0; f < kCounterFrames; ++f) {
        sw::ShapeBuilder fill(3);
        fill.rectangle(0, 0, 64 * 20, 48 * 20, fill.addFill(sw::Rgba::rgb(CounterColour(f) & 0xFFFFFF)), 0);
        movie.place(sw::PlaceObject{.depth = 1, .move = f > 0, .character = movie.defineShape(fill)});
        movie.showFrame();
    }
    return movie.build();
}

// 64 x 48 at 5 frames a second: red; at its second frame, if the variable
// "pick" is "green", it goes to its third frame (green) and stops there,
// otherwise it stops on red.
std::vector<std::uint8_t> VariableMovie()
{
    sw::Movie movie(8, 64, 48, 5);
    sw::ShapeBuilder red(3), green(3);
    red.rectangle(0, 0, 64 * 20, 48 * 20, red.addFill(sw::Rgba::rgb(0xFF0000)), 0);
    green.rectangle(0, 0, 64 * 20, 48 * 20, green.addFill(sw::Rgba::rgb(0x00FF00)), 0);
    const uint16_t redId = movie.defineShape(red), greenId = movie.defineShape(green);
    movie.place(sw::PlaceObject{.depth = 1, .character = redId});
    movie.showFrame();
    sw::ActionAssembler script;
    const sw::Label isGreen = script.newLabel(), done = script.newLabel();
    script.push("pick").getVariable().push("green").equals2().branchIfTrue(isGreen);
    script.stop().jump(done);
    script.bind(isGreen).gotoFrame(2);
    script.bind(done);
    movie.doAction(script);
    movie.showFrame();
    movie.place(sw::PlaceObject{.depth = 1, .move = true, .character = greenId});
    movie.showFrame();
    return movie.build();
}

const wchar_t* PluginName(int backEnd) { return backEnd == 0 ? L"netscape" : L"activex"; }

class KvrenderOn : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
    std::wstring Plugin() const { return PluginName(GetParam()); }
};

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// --- frame by frame -----------------------------------------------------------------

TEST_P(KvrenderOn, GotoFrames_EqualTheReferencePlayersOwn)
{
    Scratch s;
    const fs::path movie = s.Write(L"shapes.swf", FramesMovie());
    struct Mode {
        bool transparent;
        const wchar_t* size;  // nullptr: the stage's
    };
    for (const Mode mode : {Mode{true, nullptr}, Mode{false, nullptr}, Mode{true, L"240x150"}}) {
        SCOPED_TRACE(std::string(mode.transparent ? "transparent" : "opaque") + (mode.size ? " scaled" : ""));
        const fs::path out = s / (std::wstring(L"out-") + (mode.transparent ? L"t" : L"o") + (mode.size ? L"s" : L""));
        std::vector<std::wstring> args = {movie.wstring(), L"--goto", L"--plugin", Plugin(), L"--out", out.wstring()};
        std::vector<std::wstring> refArgs;
        if (mode.transparent)
            refArgs.push_back(L"--transparent");
        if (mode.size) {
            args.insert(args.end(), {L"--size", mode.size});
            refArgs.insert(refArgs.end(), {L"--size", mode.size});
        }
        if (mode.transparent)
            args.push_back(L"--transparent");
        const Outcome run = s.Kvrender(args);
        ASSERT_EQ(run.code, 0u) << run.err;
        EXPECT_TRUE(run.ErrLines().empty()) << run.err;
        const std::string size = mode.size ? "240x150" : "160x120";
        EXPECT_EQ(run.out.rfind("kvrender: 6 frames, " + size + ", " + Narrow(Plugin()) + ", ", 0), 0u) << run.out;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;

        for (int k = 0; k < 6; ++k) {
            SCOPED_TRACE("frame " + std::to_string(k));
            const fs::path ref = s / (L"ref-" + std::to_wstring(k) + L".png");
            std::vector<std::wstring> r = {L"render", movie.wstring(), ref.wstring(), L"--frames", std::to_wstring(k)};
            r.insert(r.end(), refArgs.begin(), refArgs.end());
            const Outcome refRun = RunProgram(BinDir() / L"refplay.exe", r, s / L"run");
            ASSERT_EQ(refRun.code, 0u) << refRun.err;
            const fs::path frame = out / (L"shapes-0000" + std::to_wstring(k) + L".png");
            ASSERT_TRUE(fs::exists(frame));
            const Picture got = ReadPng(frame);
            EXPECT_TRUE(IsEqualGUID(got.stored, mode.transparent ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR));
            EXPECT_TRUE(SamePicture(got, ReadPng(ref)));
            fs::remove(ref);
        }
    }
    // The frames differ from each other: the player really went to each one.
    const Picture first = ReadPng(s / L"out-t" / L"shapes-00000.png"), last = ReadPng(s / L"out-t" / L"shapes-00005.png");
    EXPECT_NE(first.pixels, last.pixels);
    EXPECT_TRUE(s.FilesEnding(L".kvrender-part").empty());
}

TEST_P(KvrenderOn, GotoEvery_WritesOnlyTheKeptFrames_ReplacingOlderFiles)
{
    Scratch s;
    const fs::path movie = s.Write(L"shapes.swf", FramesMovie());
    const fs::path out = s / L"deep" / L"er";  // made, parents and all
    const Outcome first = s.Kvrender({movie.wstring(), L"--goto", L"--plugin", Plugin(), L"--out", out.wstring(),
                                      L"--frames", L"5", L"--every", L"2"});
    ASSERT_EQ(first.code, 0u) << first.err;
    EXPECT_EQ(first.out.rfind("kvrender: 3 frames, 160x120, ", 0), 0u) << first.out;
    std::vector<std::wstring> names;
    for (const auto& p : s.FilesEnding(L".png"))
        names.push_back(p.filename().wstring());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"shapes-00000.png", L"shapes-00002.png", L"shapes-00004.png"}));

    // A second run over an older file replaces it whole.
    std::ofstream(out / L"shapes-00002.png", std::ios::trunc) << "an older file";
    const Outcome again = s.Kvrender({movie.wstring(), L"--goto", L"--plugin", Plugin(), L"--out", out.wstring(),
                                      L"--frames", L"3", L"--every", L"2"});
    ASSERT_EQ(again.code, 0u) << again.err;
    EXPECT_EQ(ReadPng(out / L"shapes-00002.png").width, 160);
    EXPECT_TRUE(s.FilesEnding(L".kvrender-part").empty());
}

// A frame that cannot be put in place (a folder holds its name) ends the run
// with status 1 and one line; the frames before it are whole PNGs, and no
// part file stays behind.
TEST(KvrenderWriteFailure, EndsWithStatusOne_LeavingOnlyWholeFiles)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        Scratch s;
        const fs::path movie = s.Write(L"shapes.swf", FramesMovie());
        const fs::path out = s / L"out";
        fs::create_directories(out / L"shapes-00002.png");
        const Outcome run = s.Kvrender({movie.wstring(), L"--goto", L"--plugin", L"netscape", L"--out", out.wstring()});
        EXPECT_EQ(run.code, 1u) << run.err;
        const auto err = run.ErrLines();
        ASSERT_EQ(err.size(), 1u) << run.err;
        EXPECT_NE(err[0].find("shapes-00002.png"), std::string::npos) << err[0];
        EXPECT_TRUE(run.out.empty()) << run.out;
        const auto pngs = s.FilesEnding(L".png");
        ASSERT_EQ(pngs.size(), 2u);
        for (const auto& p : pngs)
            EXPECT_EQ(ReadPng(p).width, 160) << p.string();
        EXPECT_TRUE(s.FilesEnding(L".kvrender-part").empty());
    }
    CoUninitialize();
}

// --- real time -----------------------------------------------------------------------------

int CounterOf(const Picture& p)
{
    const std::uint32_t centre = p.At(p.width / 2, p.height / 2);
    for (int f = 0; f < kCounterFrames; ++f)
        if (centre == CounterColour(f))
            return f;
    return -1;
}

TEST_P(KvrenderOn, RealTime_WritesEachFramePeriod_InOrder)
{
    Scratch s;
    const fs::path movie = s.Write(L"counter.swf", CounterMovie());
    const Outcome run = s.Kvrender({movie.wstring(), L"--plugin", Plugin(), L"--out", (s / L"out").wstring(),
                                    L"--frames", L"8"});
    ASSERT_EQ(run.code, 0u) << run.err;
    EXPECT_EQ(run.out.rfind("kvrender: 8 frames, 64x48, " + Narrow(Plugin()) + ", ", 0), 0u) << run.out;
    const auto files = s.FilesEnding(L".png");
    ASSERT_EQ(files.size(), 8u);
    std::vector<int> counters;
    for (const auto& f : files) {
        const Picture p = ReadPng(f);
        counters.push_back(CounterOf(p));
        EXPECT_EQ(p.At(0, 0) >> 24, 0xFFu) << "opaque by default";
    }
    std::string seen;
    for (int c : counters)
        seen += std::to_string(c) + " ";
    SCOPED_TRACE("counters " + seen);
    EXPECT_TRUE(std::all_of(counters.begin(), counters.end(), [](int c) { return c >= 0; }));
    EXPECT_TRUE(std::is_sorted(counters.begin(), counters.end()));
    // The movie played while the frames were taken: about one frame each period.
    EXPECT_LE(counters.front(), 1);
    EXPECT_GE(counters.back(), counters.front() + 4);
    EXPECT_LE(counters.back(), 8);
}

TEST_P(KvrenderOn, RealTime_VariablesReachTheMovieBeforeItsScriptRuns)
{
    Scratch s;
    const fs::path movie = s.Write(L"pick.swf", VariableMovie());
    auto lastCentre = [&](const std::vector<std::wstring>& extra, const wchar_t* outName) -> std::uint32_t {
        std::vector<std::wstring> args = {movie.wstring(), L"--plugin", Plugin(), L"--out", (s / outName).wstring(),
                                          L"--frames", L"5"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Outcome run = s.Kvrender(args);
        EXPECT_EQ(run.code, 0u) << run.err;
        const Picture p = ReadPng(s / outName / L"pick-00004.png");
        return p.pixels.empty() ? 0 : p.At(32, 24);
    };
    EXPECT_EQ(lastCentre({L"--var", L"pick=green", L"--var", L"other=1"}, L"green"), 0xFF00FF00u);
    EXPECT_EQ(lastCentre({L"--var", L"pick=blue"}, L"blue"), 0xFFFF0000u);
    EXPECT_EQ(lastCentre({}, L"none"), 0xFFFF0000u);
}

INSTANTIATE_TEST_SUITE_P(BackEnds, KvrenderOn, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) { return Narrow(PluginName(info.param)); });

// --- help ------------------------------------------------------------------------------------

// --help answers status 0 with the text the documentation shows.
TEST(KvrenderHelp, MatchesTheDocumentation)
{
    Scratch s;
    const Outcome run = s.Kvrender({L"--help"});
    EXPECT_EQ(run.code, 0u);
    EXPECT_TRUE(run.ErrLines().empty()) << run.err;
    const std::string doc = ReadAll(fs::path(KV_KVRENDER_DOC));
    const size_t start = doc.find("```\nusage: kvrender");
    ASSERT_NE(start, std::string::npos) << "no help block in " << KV_KVRENDER_DOC;
    const size_t end = doc.find("```", start + 4);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(run.out, doc.substr(start + 4, end - start - 4));
}

// --- bad input ------------------------------------------------------------------------------

// Exit status 2, one line on standard error that names the tool, nothing on
// standard output and no picture anywhere below the case's folder.
void ExpectRefused(const Scratch& s, const Outcome& run, const char* mentions = nullptr)
{
    EXPECT_EQ(run.code, 2u) << run.err << run.out;
    const auto pngs = s.FilesEnding(L".png");
    EXPECT_TRUE(pngs.empty()) << pngs.front().string();
    EXPECT_TRUE(s.FilesEnding(L".kvrender-part").empty());
    EXPECT_TRUE(run.out.empty()) << run.out;
    const auto err = run.ErrLines();
    ASSERT_EQ(err.size(), 1u) << run.err;
    EXPECT_EQ(err[0].rfind("kvrender: ", 0), 0u) << err[0];
    if (mentions) {
        EXPECT_NE(err[0].find(mentions), std::string::npos) << err[0];
    }
}

TEST(KvrenderBadInput, EndsWithOneLineStatusTwoAndNoPicture)
{
    Scratch s;
    const fs::path movie = s.Write(L"good.swf", CounterMovie());
    const fs::path text = s.Write(L"notes.swf", {'h', 'e', 'l', 'l', 'o', '\n'});
    const fs::path video = s.Write(L"clip.flv", {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0});
    auto cut = CounterMovie();
    cut.resize(10);
    const fs::path shortMovie = s.Write(L"cut.swf", cut);
    sw::Movie zeroStage(8, 0, 0, 12);
    zeroStage.showFrame();
    const fs::path noStage = s.Write(L"nostage.swf", zeroStage.build());
    const fs::path aFile = s.Write(L"a-file", {'x'});
    const std::wstring newOut = (s / L"new-out").wstring();

    struct Case {
        const char* what;
        std::vector<std::wstring> args;
        const char* mentions;
    };
    const std::vector<Case> cases = {
        {"missing file", {(s / L"absent.swf").wstring(), L"--out", newOut}, "no such file"},
        {"a folder", {s.Dir().wstring(), L"--out", newOut}, "folder"},
        {"not a movie", {text.wstring(), L"--out", newOut}, "not a Flash movie"},
        {"a video", {video.wstring(), L"--out", newOut}, "FLV"},
        {"a header cut short", {shortMovie.wstring(), L"--out", newOut}, "cut short"},
        {"a stage of 0 without --size", {noStage.wstring(), L"--out", newOut}, "--size"},
        {"size 0", {movie.wstring(), L"--size", L"0x10", L"--out", newOut}, "--size"},
        {"a side beyond 8192", {movie.wstring(), L"--size", L"8193x10", L"--out", newOut}, "8192"},
        {"more than 2^24 pixels", {movie.wstring(), L"--size", L"4097x4096", L"--out", newOut}, "16777216"},
        {"unknown option", {movie.wstring(), L"--fps", L"3", L"--out", newOut}, "--fps"},
        {"bad number", {movie.wstring(), L"--frames", L"many", L"--out", newOut}, "--frames"},
        {"bad plug-in", {movie.wstring(), L"--plugin", L"flash", L"--out", newOut}, "--plugin"},
        {"no movie", {L"--goto"}, "no movie"},
        {"--goto past the last frame", {movie.wstring(), L"--goto", L"--frames", L"31", L"--out", newOut}, "30 frames"},
        {"an output folder that is a file", {movie.wstring(), L"--out", aFile.wstring()}, "not a folder"},
        {"an output folder below a file", {movie.wstring(), L"--out", (aFile / L"sub").wstring()}, "cannot make"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRefused(s, s.Kvrender(c.args), c.mentions);
        // Refused before anything was made.
        EXPECT_FALSE(fs::exists(newOut));
    }
}

// The control's settings key, claimed for kvrender.exe while a case runs:
// every control it makes fails at one call (a name of the control's failure
// table), with E_FAIL.
class ControlFailure {
public:
    explicit ControlFailure(const wchar_t* method) : method_(method)
    {
        const std::wstring process = L"kvrender.exe";
        const DWORD fail = static_cast<DWORD>(E_FAIL);
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Process", REG_SZ, process.c_str(),
                        static_cast<DWORD>((process.size() + 1) * sizeof(wchar_t)));
        RegSetKeyValueW(HKEY_CURRENT_USER, (std::wstring(kKey) + L"\\Fail").c_str(), method_, REG_DWORD, &fail,
                        sizeof fail);
    }
    ~ControlFailure()
    {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, (std::wstring(kKey) + L"\\Fail").c_str(), method_);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"Process");
    }

private:
    static constexpr const wchar_t* kKey = L"Software\\KorvelRef\\Control";
    const wchar_t* method_;
};

// A player that refuses the movie or a variable: status 2, one line, and the
// output folders the run made are gone again.
TEST(KvrenderBadInput, PlayerRefusals_LeaveNoFolderBehind)
{
    Scratch s;
    const fs::path movie = s.Write(L"good.swf", CounterMovie());
    const fs::path out = s / L"made" / L"for" / L"it";
    {
        SCOPED_TRACE("the movie refused");
        ControlFailure refuse(L"LoadMovie");
        ExpectRefused(s, s.Kvrender({movie.wstring(), L"--plugin", L"activex", L"--out", out.wstring()}), "refused the movie");
    }
    EXPECT_FALSE(fs::exists(s / L"made"));
    {
        SCOPED_TRACE("a variable refused");
        ControlFailure refuse(L"SetVariable");
        ExpectRefused(s, s.Kvrender({movie.wstring(), L"--plugin", L"activex", L"--var", L"a=1", L"--out", out.wstring()}),
                      "variable a");
    }
    EXPECT_FALSE(fs::exists(s / L"made"));
    // A folder that was there before stays.
    fs::create_directories(out);
    {
        ControlFailure refuse(L"LoadMovie");
        ExpectRefused(s, s.Kvrender({movie.wstring(), L"--plugin", L"activex", L"--out", out.wstring()}));
    }
    EXPECT_TRUE(fs::is_directory(out));
}

TEST(KvrenderBadInput, NoPlayerInstalled)
{
    Scratch s;
    const fs::path movie = s.Write(L"good.swf", CounterMovie());
    // A copy of the program away from the plug-in library beside the original.
    fs::create_directories(s / L"alone");
    const fs::path alone = s / L"alone" / L"kvrender.exe";
    fs::copy_file(BinDir() / L"kvrender.exe", alone);
    const std::wstring out = (s / L"out").wstring();
    {
        SCOPED_TRACE("the plug-in asked for, absent");
        ExpectRefused(s, s.Kvrender({movie.wstring(), L"--plugin", L"netscape", L"--out", out}, alone), "netscape");
    }
    ControlFailure noControl(L"CreateInstance");
    {
        SCOPED_TRACE("the control asked for, absent");
        ExpectRefused(s, s.Kvrender({movie.wstring(), L"--plugin", L"activex", L"--out", out}, alone), "activex");
    }
    {
        SCOPED_TRACE("neither player");
        ExpectRefused(s, s.Kvrender({movie.wstring(), L"--out", out}, alone), "no Flash Player");
    }
    {
        SCOPED_TRACE("the plug-in still serves a program beside it");
        const Outcome run = s.Kvrender({movie.wstring(), L"--out", out, L"--frames", L"1"});
        EXPECT_EQ(run.code, 0u) << run.err;
        EXPECT_NE(run.out.find(", netscape, "), std::string::npos) << run.out;
    }
}

}  // namespace
