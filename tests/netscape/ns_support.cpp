#include "ns_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>

#include "kv_axinternal.h"
#include "kv_driver_activex.h"
#include "kv_nsinternal.h"
#include "kv_package.h"
#include "kv_pendingstreams.h"

namespace nstest {

namespace {

template <class F>
void Resolve(HMODULE m, const char* name, F& f)
{
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

// The package starts once for the test program, as in an application; the
// player runs on the deterministic clock.
class PackageEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        KvPackageStart();
        if (Player().Loaded()) {
            Player().SetManualClock(1);
            Player().EnableLog(1);
        }
    }
    void TearDown() override { KvPackageStop(); }
};

[[maybe_unused]] ::testing::Environment* const kEnv = ::testing::AddGlobalTestEnvironment(new PackageEnvironment);

}  // namespace

const Seams& Player()
{
    static Seams seams = [] {
        Seams s;
        if (HMODULE m = GetModuleHandleW(L"npswf32.dll")) {
            Resolve(m, "RefPlayer_StepFrames", s.StepFrames);
            Resolve(m, "RefPlayer_SetManualClock", s.SetManualClock);
            Resolve(m, "RefPlayer_EnableLog", s.EnableLog);
            Resolve(m, "RefPlayer_ClearLog", s.ClearLog);
            Resolve(m, "RefPlayer_ReadLog", s.ReadLog);
            Resolve(m, "RefPlayer_InstanceCount", s.InstanceCount);
            Resolve(m, "RefPlayer_ObjectCount", s.ObjectCount);
            Resolve(m, "RefPlayer_CollectGarbage", s.CollectGarbage);
        }
        return s;
    }();
    return seams;
}

std::string PlayerLog()
{
    const int n = Player().ReadLog(nullptr, 0);
    std::string log(static_cast<size_t>(n) + 1, '\0');
    Player().ReadLog(log.data(), n + 1);
    log.resize(static_cast<size_t>(n));
    return log;
}

namespace {

// Calls visit(index, line) for each line of `log` until it answers false.
template <class Visit>
void ForEachLine(const std::string& log, Visit visit)
{
    int index = 0;
    for (size_t start = 0; start < log.size(); ++index) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        if (!visit(index, std::string_view(log.data() + start, end - start)))
            return;
        start = end + 1;
    }
}

bool HoldsAll(std::string_view line, std::initializer_list<std::string_view> parts)
{
    for (std::string_view p : parts)
        if (line.find(p) == std::string_view::npos)
            return false;
    return true;
}

}  // namespace

int LineOf(const std::string& log, std::initializer_list<std::string_view> parts)
{
    int found = -1;
    ForEachLine(log, [&](int index, std::string_view line) {
        if (!HoldsAll(line, parts))
            return true;
        found = index;
        return false;
    });
    return found;
}

int CountLines(const std::string& log, std::initializer_list<std::string_view> parts)
{
    int n = 0;
    ForEachLine(log, [&](int, std::string_view line) {
        n += HoldsAll(line, parts) ? 1 : 0;
        return true;
    });
    return n;
}

std::vector<std::string> Calls(const std::string& log)
{
    std::vector<std::string> calls;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("< ", 0) == 0 || line.rfind("> ", 0) == 0)
            calls.push_back(line);
    }
    return calls;
}

void ExpectSequence(const std::string& slice, const std::vector<std::string_view>& expected,
                    const std::vector<std::string_view>& ignored, std::source_location where)
{
    std::vector<std::string> calls;
    for (std::string& call : Calls(slice)) {
        bool skip = false;
        for (std::string_view i : ignored)
            skip = skip || call.rfind(i, 0) == 0;
        if (!skip)
            calls.push_back(std::move(call));
    }
    size_t i = 0;
    while (i < calls.size() && i < expected.size() && calls[i].rfind(expected[i], 0) == 0)
        ++i;
    if (i == calls.size() && i == expected.size())
        return;
    std::ostringstream why;
    if (i == calls.size()) {
        why << "missing call " << i + 1 << ": " << expected[i];
    } else if (i == expected.size()) {
        why << "extra call " << i + 1 << ": " << calls[i];
    } else {
        bool later = false;
        for (size_t k = i + 1; k < calls.size(); ++k)
            later = later || calls[k].rfind(expected[i], 0) == 0;
        why << "call " << i + 1 << " is " << calls[i] << "\n  where " << expected[i] << " was expected"
            << (later ? " (it comes later: out of order)" : " (it never comes: missing)");
    }
    why << "\nexpected:\n";
    for (std::string_view e : expected)
        why << "  " << e << "\n";
    why << "actual:\n";
    for (const std::string& c : calls)
        why << "  " << c << "\n";
    ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line())) << why.str();
}

void ExpectNothingLeft(const Baseline& before)
{
    if (Player().Loaded()) {
        EXPECT_EQ(Player().InstanceCount(), 0) << "a plug-in instance outlived its driver\n" << PlayerLog();
        EXPECT_EQ(Player().ObjectCount(), 0) << "a scriptable object of the plug-in was never released";
    }
    // The control's module stays loaded once a control was made; its seams
    // count what is alive in it.
    if (HMODULE m = GetModuleHandleW(L"Flash.ocx")) {
        int (*controls)() = nullptr;
        int (*objects)() = nullptr;
        Resolve(m, "RefControl_InstanceCount", controls);
        Resolve(m, "RefControl_ObjectCount", objects);
        if (controls && objects) {
            EXPECT_EQ(controls(), 0) << "a control outlived its driver";
            EXPECT_EQ(objects(), 0) << "an object of the control's module (enumerator, binding callback) leaked";
        }
    }
    EXPECT_EQ(ControlDescription.InstanceCount, 0) << "an ActiveX driver was never destroyed";
    EXPECT_EQ(kvax::SiteReferences(), before.siteReferences)
        << "a control kept references on the site objects its driver handed it";
    EXPECT_EQ(kvns::PageObjectReferences(), before.pageObjectReferences)
        << "the plug-in kept (or released too often) page objects the package handed it";
    EXPECT_EQ(kvns::MemBlocksInUse(), before.memBlocks) << "browser memory handed out and never given back";
    EXPECT_EQ(kvns::DownloadsInFlight(), 0) << "a download still holds its callback";
    EXPECT_EQ(kvns::FailuresWaiting(), 0) << "a failure notice is still waiting";
    EXPECT_EQ(kvpending::Count(), 0) << "a stream copy outlived its driver";
}

Baseline Baseline::Now()
{
    return {kvns::MemBlocksInUse(), kvax::SiteReferences(), kvns::PageObjectReferences()};
}

void BackEndCase::SetUp() { before_ = Baseline::Now(); }

void BackEndCase::TearDown()
{
    Pump();
    // A download the case started may still be ending in the service.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (kvns::DownloadsInFlight() > 0 && std::chrono::steady_clock::now() < until) {
        Sleep(2);
        Pump();
    }
    ExpectNothingLeft(before_);
}

void Pump()
{
    Application->ProcessMessages();
}

void Step(int frames)
{
    Player().StepFrames(nullptr, frames);
    Pump();
}

std::vector<std::uint8_t> RectMovie(std::uint32_t colour, std::uint8_t alpha, const sw::ActionAssembler& frame0,
                                    sw::Compression compression)
{
    sw::Movie movie(8, 100, 100, 12.0);
    movie.setBackgroundColor(sw::Rgba::rgb(0xFFFFFF));
    sw::ShapeBuilder shape(3);
    sw::Rgba fill = sw::Rgba::rgb(colour);
    fill.a = alpha;
    const std::uint32_t f = shape.addFill(fill);
    shape.rectangle(20 * 20, 20 * 20, 60 * 20, 60 * 20, f, 0);
    const std::uint16_t id = movie.defineShape(shape);
    sw::PlaceObject place;
    place.depth = 1;
    place.character = id;
    movie.place(place);
    if (!frame0.empty())
        movie.doAction(frame0);
    movie.showFrame();
    return movie.build(compression);
}

std::vector<std::uint8_t> TextFieldMovie()
{
    sw::Movie movie(8, 100, 100, 12.0);
    sw::ShapeBuilder shape(3);
    shape.rectangle(20 * 20, 20 * 20, 60 * 20, 60 * 20, shape.addFill(sw::Rgba::rgb(0x808080)), 0);
    const std::uint16_t square = movie.defineShape(shape);
    sw::Button button;
    sw::ButtonRecord record;
    record.character = square;
    button.records.push_back(record);
    sw::ButtonAction action;
    action.conditions = sw::button_cond::Release;
    action.actions.fscommand("clicked", "button");
    button.actions.push_back(action);
    const std::uint16_t buttonId = movie.defineButton(button);
    sw::EditText text;
    text.bounds = sw::Rect{10 * 20, 90 * 20, 85 * 20, 98 * 20};
    text.variable = "typed";
    text.fontHeight = 12 * 20;
    text.border = true;
    const std::uint16_t textId = movie.defineEditText(text);
    sw::PlaceObject p;
    p.depth = 1;
    p.character = buttonId;
    movie.place(p);
    p.depth = 2;
    p.character = textId;
    movie.place(p);
    movie.doAction(sw::ActionAssembler().stop());
    movie.showFrame();
    return movie.build();
}

std::vector<std::uint8_t> FramesMovie(int frames)
{
    sw::Movie movie(8, 100, 100, 12.0);
    movie.setBackgroundColor(sw::Rgba::rgb(0xFFFFFF));
    sw::ShapeBuilder shape(3);
    shape.rectangle(20 * 20, 20 * 20, 60 * 20, 60 * 20, shape.addFill(sw::Rgba::rgb(0x2080C0)), 0);
    const std::uint16_t id = movie.defineShape(shape);
    sw::PlaceObject place;
    place.depth = 1;
    place.character = id;
    movie.place(place);
    // A small square below it moves a pixel each frame, so every frame draws.
    sw::ShapeBuilder dot(3);
    dot.rectangle(0, 0, 10 * 20, 10 * 20, dot.addFill(sw::Rgba::rgb(0xC02020)), 0);
    const std::uint16_t dotId = movie.defineShape(dot);
    for (int i = 0; i < frames; ++i) {
        sw::PlaceObject step;
        step.depth = 2;
        step.move = i > 0;
        if (i == 0)
            step.character = dotId;
        step.matrix = sw::Matrix::translate((5 + i % 80) * 20, 85 * 20);
        movie.place(step);
        movie.showFrame();
    }
    return movie.build();
}

std::string Checksum(const std::vector<std::uint8_t>& bytes)
{
    std::uint32_t h = 2166136261u;
    for (std::uint8_t b : bytes)
        h = (h ^ b) * 16777619u;
    char text[9];
    std::snprintf(text, sizeof text, "%08X", h);
    return text;
}

namespace {

// The text after `key` up to the next blank (or the quoted text when it is quoted).
std::string FieldOf(std::string_view line, std::string_view key)
{
    const size_t at = line.find(key);
    if (at == std::string_view::npos)
        return {};
    std::string_view rest = line.substr(at + key.size());
    if (!rest.empty() && rest[0] == '"') {
        const size_t end = rest.find('"', 1);
        return std::string(rest.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1));
    }
    return std::string(rest.substr(0, rest.find(' ')));
}

}  // namespace

std::vector<StreamSeen> StreamsSeen(const std::string& log)
{
    std::vector<StreamSeen> streams;
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    auto find = [&](const std::string& notify) -> StreamSeen* {
        for (auto it = streams.rbegin(); it != streams.rend(); ++it)
            if (it->notify == notify)
                return &*it;
        return nullptr;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const int index = static_cast<int>(i);
        if (line.rfind("< NPP_NewStream ", 0) == 0) {
            streams.push_back(StreamSeen{FieldOf(line, " url="), FieldOf(line, " notify=")});
        } else if (line.rfind("< NPP_Write ", 0) == 0) {
            StreamSeen* s = find(FieldOf(line, " notify="));
            if (!s)
                continue;
            const std::int64_t offset = std::stoll(FieldOf(line, " offset="));
            std::int64_t length = std::stoll(FieldOf(line, " len="));
            if (i + 1 < lines.size() && lines[i + 1].rfind("# took ", 0) == 0)
                length = std::stoll(lines[i + 1].substr(7));
            s->contiguous = s->contiguous && offset == s->taken;
            s->taken += length;
        } else if (line.rfind("< NPP_URLNotify ", 0) == 0) {
            if (StreamSeen* s = find(FieldOf(line, " notify=")); s && s->notifyLine < 0)
                s->notifyLine = index;
        } else if (line.rfind("< NPP_DestroyStream ", 0) == 0) {
            if (StreamSeen* s = find(FieldOf(line, " notify=")); s && s->destroyLine < 0)
                s->destroyLine = index;
        }
    }
    return streams;
}

PlayerSetting::PlayerSetting(const wchar_t* name, DWORD value, const wchar_t* subkey)
    : key_(std::wstring(L"Software\\KorvelRef\\Plugin") + (subkey ? std::wstring(L"\\") + subkey : L"")),
      name_(name)
{
    // Claimed first (the Process value): another program reading the key
    // meanwhile keeps the defaults.
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path, n < MAX_PATH ? n : 0);
    program = program.substr(program.find_last_of(L"\\/") + 1);
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\KorvelRef\\Plugin", L"Process", REG_SZ, program.c_str(),
                    static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
    RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), name, REG_DWORD, &value, sizeof value);
}

PlayerSetting::~PlayerSetting()
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), name_.c_str());
}

namespace {
MenuCloser* g_menuCloser = nullptr;
}

MenuCloser::MenuCloser(std::function<bool()> ready, DWORD limitMs)
    : ready_(std::move(ready)), start_(GetTickCount()), limit_(limitMs)
{
    g_menuCloser = this;
    timer_ = SetTimer(nullptr, 0, 10, &MenuCloser::Tick);
}

MenuCloser::~MenuCloser()
{
    KillTimer(nullptr, timer_);
    g_menuCloser = nullptr;
}

void CALLBACK MenuCloser::Tick(HWND, UINT, UINT_PTR, DWORD) noexcept
{
    MenuCloser* c = g_menuCloser;
    if (!c)
        return;
    try {
        if (c->ready_ && !c->ready_()) {
            if (GetTickCount() - c->start_ < c->limit_)
                return;
            c->timedOut_ = true;
        }
    } catch (...) {
        c->timedOut_ = true;
    }
    EndMenu();
}

std::wstring TempFolder()
{
    static std::wstring folder = [] {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        std::wstring f = std::wstring(base) + L"kvns-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        CreateDirectoryW(f.c_str(), nullptr);
        return f;
    }();
    return folder;
}

std::wstring WriteFile(const std::wstring& name, const std::vector<std::uint8_t>& bytes)
{
    const std::wstring path = TempFolder() + name;
    TFileStream f(path, fmCreate);
    f.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return path;
}

std::uint32_t Pixel(TkvFlashDriver* d, int x, int y)
{
    GdiFlush();
    return static_cast<std::uint32_t*>(d->Bits)[y * d->Width + x];
}

TPlayerForm::TPlayerForm(TComponent* owner) : TForm(owner)
{
    SetClientSize(200, 150);
    Player = new TkvFlashPlayer(this);
    // The ActiveX control may be installed too; these programs test the plug-in.
    Player->SetPlugin(kvNetscape);
    Player->SetName(L"Player");
    Player->SetTransparent(false);
    Player->SetBounds(10, 10, 100, 100);
    Player->SetParent(this);
}

std::unique_ptr<TPlayerForm, FormDeleter> NewPlayerForm(TColor playerColour)
{
    std::unique_ptr<TPlayerForm, FormDeleter> form(new TPlayerForm(nullptr));
    form->AfterConstruction();
    form->Player->SetColor(playerColour);
    form->Show();
    Pump();
    return form;
}

}  // namespace nstest
