// kvrender: renders a movie's frames to PNG files through the off-screen
// player component, with whichever Flash Player is installed. The package's
// own example of an application that wants pixels, not windows.
//   kvrender MOVIE [--frames N | --seconds S] [--size WxH] [--transparent]
//            [--plugin default|netscape|activex] [--out DIR] [--every K] [--goto]
//            [--var name=value ...]
// kvrender --help explains the options; docs/kvrender.md has examples.
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "framework/framework.h"
#include "kv_flashplayer.h"
#include "kv_package.h"
#include "kvrender_core.h"
#include "png_wic.h"

namespace kvrender {
namespace {

// Movies larger than this are refused before they are read.
constexpr std::uint64_t kMaxMovieBytes = std::uint64_t(256) << 20;
// How long the player may take to take the movie in, and to show it first.
constexpr DWORD kLoadTimeoutMs = 20000;
constexpr DWORD kFirstPaintTimeoutMs = 2000;
// After a frame change, how long a player that has drawn nothing yet gets to
// draw before the picture is taken as it stands (a frame that looks like the
// one before is not drawn again).
constexpr DWORD kFrameChangeGraceMs = 60;

// A failure while rendering, once the input has been found good: exit status 1.
class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// --- the console ---------------------------------------------------------------

bool IsConsole(HANDLE h)
{
    DWORD mode = 0;
    return h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// Text to a standard handle: through the console's own wide output on a
// terminal, as UTF-8 bytes into a file or pipe.
void WriteText(DWORD which, const std::wstring& text)
{
    const HANDLE h = GetStdHandle(which);
    if (!h || h == INVALID_HANDLE_VALUE)
        return;
    DWORD done = 0;
    if (IsConsole(h)) {
        WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
        return;
    }
    const std::string bytes = Narrow(text);
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

// The progress line, rewritten in place; only on a terminal.
class Progress {
public:
    Progress() : on_(IsConsole(GetStdHandle(STD_ERROR_HANDLE))) {}
    void Show(int done, int total)
    {
        if (!on_)
            return;
        const std::wstring line = L"\rkvrender: frame " + std::to_wstring(done) + L" of " + std::to_wstring(total);
        width_ = std::max(width_, line.size());
        WriteText(STD_ERROR_HANDLE, line);
    }
    void Clear()
    {
        if (on_ && width_)
            WriteText(STD_ERROR_HANDLE, L"\r" + std::wstring(width_, L' ') + L"\r");
        width_ = 0;
    }
    ~Progress() { Clear(); }

private:
    bool on_;
    size_t width_ = 0;
};

// --- files -----------------------------------------------------------------------

std::vector<std::uint8_t> ReadMovieFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw InputError(Narrow(path) + ": a folder, not a movie");
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            throw InputError(Narrow(path) + ": no such file");
        throw InputError(Narrow(path) + ": cannot open it: " + SystemMessage(error));
    }
    std::unique_ptr<void, decltype(&CloseHandle)> owner(file, &CloseHandle);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size))
        throw InputError(Narrow(path) + ": cannot tell its size: " + SystemMessage(GetLastError()));
    if (static_cast<std::uint64_t>(size.QuadPart) > kMaxMovieBytes)
        throw InputError(Narrow(path) + ": " + std::to_string(size.QuadPart) + " bytes, more than any movie this tool takes");
    std::vector<std::uint8_t> data(static_cast<size_t>(size.QuadPart));
    size_t got = 0;
    while (got < data.size()) {
        DWORD n = 0;
        if (!ReadFile(file, data.data() + got, static_cast<DWORD>(data.size() - got), &n, nullptr))
            throw InputError(Narrow(path) + ": cannot read it: " + SystemMessage(GetLastError()));
        if (n == 0)
            break;
        got += n;
    }
    data.resize(got);
    return data;
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (!n)
        return path;
    std::wstring out(n, L'\0');
    const DWORD m = GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
    out.resize(m < n ? m : 0);
    return out.empty() ? path : out;
}

std::wstring Stem(const std::wstring& path)
{
    std::wstring name = path.substr(path.find_last_of(L"\\/:") + 1);  // npos + 1 is 0
    if (const auto dot = name.find_last_of(L'.'); dot != std::wstring::npos && dot > 0)
        name.resize(dot);
    return name.empty() ? L"frame" : name;
}

// The output folder, made when missing and proved writable with a file of
// our own that the system deletes when it is closed. Remembers the folders it
// made, so a render refused later leaves nothing behind.
class OutputFolder {
public:
    explicit OutputFolder(const std::wstring& dir) : path_(FullPath(dir))
    {
        const DWORD attributes = GetFileAttributesW(path_.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            // The missing levels, innermost first, to take away again.
            for (std::filesystem::path p(path_); !p.empty() && p != p.parent_path() &&
                                                 GetFileAttributesW(p.c_str()) == INVALID_FILE_ATTRIBUTES;
                 p = p.parent_path())
                made_.push_back(p.wstring());
            std::error_code ec;
            std::filesystem::create_directories(std::filesystem::path(path_), ec);
            if (ec) {
                Abandon();
                throw InputError(Narrow(dir) + ": cannot make the folder: " + ec.message());
            }
        } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            throw InputError(Narrow(dir) + ": not a folder");
        }
        const std::wstring probe = Join(L".kvrender-probe-" + std::to_wstring(GetCurrentProcessId()));
        const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            Abandon();
            throw InputError(Narrow(dir) + ": cannot write in the folder: " + SystemMessage(error));
        }
        CloseHandle(h);
    }
    std::wstring Join(const std::wstring& name) const
    {
        const bool slash = !path_.empty() && (path_.back() == L'\\' || path_.back() == L'/');
        return path_ + (slash ? L"" : L"\\") + name;
    }
    // The render was refused: the folders this run made go again (only
    // while empty: nothing of anyone else's is removed).
    void Abandon()
    {
        for (const std::wstring& p : made_)
            RemoveDirectoryW(p.c_str());
        made_.clear();
    }

private:
    std::wstring path_;
    std::vector<std::wstring> made_;
};

// --- the player ---------------------------------------------------------------------

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency)
{
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER t{};
    QueryPerformanceCounter(&t);
    return t;
}

// The package, started for the run, and one off-screen player on it.
class Renderer {
public:
    Renderer(const Options& options, const MovieFacts& facts, int width, int height)
        : options_(options), facts_(facts), width_(width), height_(height)
    {
        QueryPerformanceFrequency(&frequency_);
        KvPackageStart();
        Application->Initialize();
        // Failures the package reports instead of raising (a back-end that
        // does not start) are kept for the one-line message.
        Application->OnException = TExceptionEvent([this](TObject*, const std::exception& e) {
            if (reported_.empty())
                reported_ = e.what();
        });
    }
    ~Renderer()
    {
        if (comp_) {
            Free(comp_);
            comp_ = nullptr;
        }
        // Drivers freed from inside the player's calls go from the message loop.
        Application->ProcessMessages();
        Application->OnException = TExceptionEvent();
        KvPackageStop();
    }
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Makes the player on the back-end asked for. Throws InputError when it is
    // not installed.
    void Start()
    {
        comp_ = new TkvFlashPlayerComp(nullptr);  // probes the ActiveX control
        comp_->SetWidth(width_);
        comp_->SetHeight(height_);
        const TkvFlashDriverClass* wanted = nullptr;
        TkvPlugin plugin = kvDefault;
        if (options_.plugin == Backend::Netscape) {
            wanted = NetscapeDriverClass;
            plugin = kvNetscape;
        } else if (options_.plugin == Backend::ActiveX) {
            wanted = ActiveXDriverClass;
            plugin = kvActiveX;
        }
        // The package falls back to the other player when the one asked for is
        // missing; a render asked of one player must come from that one.
        if (plugin == kvNetscape && !(wanted && wanted->PluginExists()))
            throw InputError("the Flash Player's plug-in library (--plugin netscape) is not installed");
        if (plugin == kvActiveX && !(wanted && wanted->PluginExists()))
            throw InputError("the Flash Player's ActiveX control (--plugin activex) is not installed");
        comp_->SetPlugin(plugin);
        const TkvFlashDriverClass& chosen = comp_->Driver->DriverClass();
        if (&chosen == NetscapeDriverClass)
            backend_ = L"netscape";
        else if (&chosen == ActiveXDriverClass)
            backend_ = L"activex";
        else if (!reported_.empty())
            throw InputError("the Flash Player did not start: " + reported_);
        else
            throw InputError("no Flash Player is installed");
        comp_->OnPaint = TkvPaintEvent([this](TObject*, const TRect&) { ++paints_; });
    }

    // Loads the movie and waits until the player has it. Throws InputError
    // when the player will not take it.
    void Load(const std::wstring& path)
    {
        reported_.clear();
        try {
            comp_->LoadMovie(path);
        } catch (const std::exception& e) {
            throw InputError(Narrow(path) + ": the player refused the movie: " + e.what());
        }
        const DWORD start = GetTickCount();
        while (comp_->GetTotalFrames() <= 0) {
            if (!reported_.empty())
                throw InputError(Narrow(path) + ": the player failed on the movie: " + reported_);
            if (GetTickCount() - start > kLoadTimeoutMs)
                throw InputError(Narrow(path) + ": the player did not take the movie in (a damaged movie?)");
            WaitMessages(10);
        }
        // Real time counts from here: the player starts its frame clock when
        // the movie arrives.
        start_ = Now();
        // The first picture: the player shows the movie once it has it.
        while (paints_ == 0 && GetTickCount() - start < kLoadTimeoutMs &&
               Seconds(start_, Now(), frequency_) * 1000 < kFirstPaintTimeoutMs)
            WaitMessages(5);
        for (const auto& [name, value] : options_.vars) {
            try {
                comp_->SetVariable(name, value);
            } catch (const std::exception& e) {
                throw InputError("the player refused the variable " + Narrow(name) + ": " + e.what());
            }
        }
    }

    // Plays the plan, writing the frames it keeps. Answers the frames written.
    int Render(const FramePlan& plan, const OutputFolder& folder, PngWriter& png)
    {
        Progress progress;
        const std::wstring stem = Stem(options_.movie);
        int written = 0;
        if (options_.gotoFrames)
            comp_->StopPlay();
        for (int k = 0; k < plan.count; ++k) {
            if (options_.gotoFrames) {
                const unsigned before = paints_;
                comp_->SetCurrentFrame(k);
                Application->ProcessMessages();
                // Most players draw inside the call; give a late one a moment.
                const LARGE_INTEGER asked = Now();
                while (paints_ == before && Seconds(asked, Now(), frequency_) * 1000 < kFrameChangeGraceMs)
                    WaitMessages(2);
                Application->ProcessMessages();
            } else {
                WaitUntil(CaptureTime(k, facts_.frameRate));
            }
            if (!plan.Kept(k))
                continue;
            Capture(folder.Join(FrameFileName(stem, k)), png);
            ++written;
            progress.Show(written, plan.KeptCount());
        }
        return written;
    }

    const std::wstring& Backend() const { return backend_; }

private:
    // Handles the messages waiting, then waits up to ms for more.
    void WaitMessages(DWORD ms)
    {
        Application->ProcessMessages();
        MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        Application->ProcessMessages();
    }

    // Runs the player until `seconds` after the start of play.
    void WaitUntil(double seconds)
    {
        for (;;) {
            Application->ProcessMessages();
            const double left = seconds - Seconds(start_, Now(), frequency_);
            if (left <= 0)
                return;
            MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::ceil(left * 1000)), QS_ALLINPUT,
                                        MWMO_INPUTAVAILABLE);
        }
    }

    void Capture(const std::wstring& path, PngWriter& png)
    {
        const auto* bits = static_cast<const std::uint32_t*>(comp_->GetBuffer());
        const int w = comp_->Driver->Width, h = comp_->Driver->Height;
        if (!bits || w != width_ || h != height_)
            throw RenderError("the player's picture went away while rendering");
        const std::span<const std::uint32_t> pixels(bits, static_cast<size_t>(w) * h);
        const UINT stride = static_cast<UINT>(w) * (options_.transparent ? 4u : 3u);
        // PNG rows need no padding; the encoder is told the stride.
        pixels_.resize(static_cast<size_t>(stride) * h);
        if (options_.transparent)
            ToStraightBgra(pixels, pixels_.data());
        else
            ToOpaqueBgr(pixels, facts_.OpaqueBackground(), pixels_.data());
        try {
            png.Write(path, w, h, stride, pixels_.data(), options_.transparent);
        } catch (const WriteError& e) {
            throw RenderError(e.what());
        }
    }

    const Options& options_;
    const MovieFacts& facts_;
    int width_, height_;
    LARGE_INTEGER frequency_{};
    LARGE_INTEGER start_{};
    TkvFlashPlayerComp* comp_ = nullptr;
    std::wstring backend_;
    std::string reported_;
    unsigned paints_ = 0;
    std::vector<std::uint8_t> pixels_;
};

std::wstring FormatSeconds(double s)
{
    wchar_t text[32];
    swprintf(text, 32, L"%.2f", s);
    return text;
}

int Run(const Options& options)
{
    const LARGE_INTEGER begun = Now();
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);

    // Everything the user gave is checked before a file is written.
    const std::vector<std::uint8_t> movie = ReadMovieFile(options.movie);
    MovieFacts facts;
    try {
        facts = ReadMovieFacts(movie);
    } catch (const InputError& e) {
        throw InputError(Narrow(options.movie) + ": " + e.what());
    }
    const int width = options.width.value_or(facts.stageWidth);
    const int height = options.height.value_or(facts.stageHeight);
    if (!options.width) {
        try {
            CheckPictureSize(width, height);
        } catch (const InputError&) {
            throw InputError(Narrow(options.movie) + ": its stage of " + std::to_string(width) + "x" +
                             std::to_string(height) + " pixels is beyond the player's limits; give --size");
        }
    }
    const FramePlan plan = PlanFrames(options, facts);

    Renderer renderer(options, facts, width, height);
    renderer.Start();
    OutputFolder folder(options.outDir);
    std::unique_ptr<PngWriter> png;
    try {
        png = std::make_unique<PngWriter>();
        renderer.Load(FullPath(options.movie));
    } catch (const WriteError& e) {
        folder.Abandon();
        throw RenderError(e.what());
    } catch (...) {
        folder.Abandon();
        throw;
    }
    const int written = renderer.Render(plan, folder, *png);
    const double took = Seconds(begun, Now(), frequency);
    WriteText(STD_OUTPUT_HANDLE, L"kvrender: " + std::to_wstring(written) + (written == 1 ? L" frame, " : L" frames, ") +
                                     std::to_wstring(width) + L"x" + std::to_wstring(height) + L", " +
                                     renderer.Backend() + L", " + FormatSeconds(took) + L" s\n");
    return 0;
}

}  // namespace
}  // namespace kvrender

int wmain(int argc, wchar_t** argv)
{
    using namespace kvrender;
    try {
        try {
            std::vector<std::wstring> args(argv + 1, argv + argc);
            const Options options = ParseCommandLine(args);
            if (options.help) {
                WriteText(STD_OUTPUT_HANDLE, UsageText());
                return 0;
            }
            return Run(options);
        } catch (const UsageError& e) {
            WriteText(STD_ERROR_HANDLE, L"kvrender: " + Widen(e.what()) + L" (kvrender --help shows the usage)\n");
            return 2;
        } catch (const InputError& e) {
            WriteText(STD_ERROR_HANDLE, L"kvrender: " + Widen(e.what()) + L"\n");
            return 2;
        } catch (const std::bad_alloc&) {
            WriteText(STD_ERROR_HANDLE, L"kvrender: out of memory\n");
        } catch (const std::exception& e) {
            WriteText(STD_ERROR_HANDLE, L"kvrender: " + Widen(e.what()) + L"\n");
        }
    } catch (...) {
        // Writing the message failed; the status still tells.
    }
    return 1;
}
