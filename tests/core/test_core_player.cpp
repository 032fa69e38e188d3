// The graphic player control on real forms: defaults, background through the
// control, back-end changes, and a stored form read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <type_traits>

#include "core_test_support.h"

namespace {

std::uint32_t BufferPixel(TkvFlashDriver* d, int x, int y)
{
    return static_cast<std::uint32_t*>(d->Bits)[y * d->Width + x];
}

// A framework colour as the pixel value the buffer holds for it.
std::uint32_t AsPixel(COLORREF c)
{
    return ColorToARGB(static_cast<std::uint32_t>(c));
}

struct FormDeleter {
    void operator()(TForm* f) const { Free(f); }
};

std::unique_ptr<TPatternForm, FormDeleter> ShownPatternForm()
{
    std::unique_ptr<TPatternForm, FormDeleter> form(new TPatternForm(nullptr));
    form->AfterConstruction();
    form->Show();
    PumpMessages();
    return form;
}

TEST(FlashPlayer, ANewControlStartsFromItsDefaults)
{
    TkvFlashPlayer* player = new TkvFlashPlayer(nullptr);
    EXPECT_EQ(player->Width(), 100);
    EXPECT_EQ(player->Height(), 100);
    EXPECT_TRUE(player->GetTransparent());
    EXPECT_EQ(player->GetPlugin(), kvDefault);
    EXPECT_TRUE(player->GetDisableFlashMenu());
    EXPECT_FALSE(player->GetDisableFlashCursor());
    EXPECT_EQ(player->GetVolume(), 50);
    EXPECT_EQ(player->GetSkin(), "ClearOverAll");
    EXPECT_FALSE(player->GetPause());
    ASSERT_NE(player->Driver, nullptr);
    EXPECT_EQ(player->Driver->Width, 100);
    EXPECT_EQ(player->Driver->Height, 100);
    EXPECT_EQ(player->Driver->Control, player);
    EXPECT_EQ(player->Driver->Background >> 24, 0xFFu) << "the driver's background is always opaque here";
    Free(player);
}

TEST(FlashPlayer, OpaqueControlShowsItsColourAndTransparentOneShowsItsParent)
{
    auto form = ShownPatternForm();
    auto* player = new TkvFlashPlayer(form.get());
    player->SetTransparent(false);
    player->SetColor(static_cast<TColor>(RGB(0x20, 0x40, 0x60)));
    player->SetBounds(30, 20, 40, 30);
    player->SetParent(form.get());
    PumpMessages();

    TkvFlashDriver* d = player->Driver;
    ASSERT_NE(d->Bits, nullptr);
    EXPECT_EQ(BufferPixel(d, 0, 0), 0xFF204060u);
    EXPECT_EQ(BufferPixel(d, 39, 29), 0xFF204060u);

    // Transparent: the erase hook paints the parent's picture under the
    // control into the buffer, so buffer (x, y) holds parent (Left+x, Top+y).
    player->SetTransparent(true);
    d->OnEraseBackground(d, Rect(0, 0, 40, 30));
    for (auto [x, y] : {std::pair{0, 0}, {39, 0}, {0, 29}, {17, 11}, {39, 29}})
        EXPECT_EQ(BufferPixel(d, x, y) & 0xFFFFFFu, AsPixel(TPatternForm::PatternPixel(30 + x, 20 + y)) & 0xFFFFFFu)
            << "buffer pixel " << x << "," << y;

    // Only the asked rectangle changes.
    FillLongword(d->Bits, d->Width * d->Height, 0xFF0000FFu);
    d->OnEraseBackground(d, Rect(10, 10, 12, 12));
    EXPECT_EQ(BufferPixel(d, 9, 10), 0xFF0000FFu);
    EXPECT_EQ(BufferPixel(d, 12, 11), 0xFF0000FFu);
    EXPECT_EQ(BufferPixel(d, 11, 11) & 0xFFFFFFu, AsPixel(TPatternForm::PatternPixel(41, 31)) & 0xFFFFFFu);

    // And what the buffer holds reaches the screen when the control paints.
    player->SetTransparent(false);
    d->OnEraseBackground(d, Rect(0, 0, 40, 30));
    player->Repaint();
    PumpMessages();
    HDC dc = GetDC(form->Handle());
    EXPECT_EQ(GetPixel(dc, 30 + 5, 20 + 5), RGB(0x20, 0x40, 0x60));
    EXPECT_EQ(GetPixel(dc, 29, 19), TPatternForm::PatternPixel(29, 19)) << "outside the control: the form";
    ReleaseDC(form->Handle(), dc);
}

TEST(FlashPlayer, TransparentControlWithoutAParentWindowLeavesTheBufferAlone)
{
    auto* player = new TkvFlashPlayer(nullptr);
    TkvFlashDriver* d = player->Driver;
    FillLongword(d->Bits, d->Width * d->Height, 0x12345678u);
    d->OnEraseBackground(d, Rect(0, 0, 100, 100));
    EXPECT_EQ(BufferPixel(d, 50, 50), 0x12345678u);
    Free(player);
}

TEST(FlashPlayer, AControlMadeByCodeShowsItsParentOnceItHasAParentWindow)
{
    auto form = ShownPatternForm();
    auto* player = new TkvFlashPlayer(form.get());  // transparent, no stored form, no Loaded
    FillLongword(player->Driver->Bits, 100 * 100, 0xFF000000u);
    player->SetBounds(10, 10, 50, 40);  // rebuilt buffer, erased without a parent: left as it was
    FillLongword(player->Driver->Bits, 50 * 40, 0xFF000000u);
    player->SetParent(form.get());
    PumpMessages();
    TkvFlashDriver* d = player->Driver;
    EXPECT_EQ(BufferPixel(d, 3, 4) & 0xFFFFFFu, AsPixel(TPatternForm::PatternPixel(13, 14)) & 0xFFFFFFu)
        << "not black: the parent's picture";
}

TEST(FlashPlayer, AMovieDrawnBeforeTheParentHadAWindowIsDrawnAgainOverThePicture)
{
    BackendScope scope(true, false);
    auto form = std::unique_ptr<TPatternForm, FormDeleter>(new TPatternForm(nullptr));
    form->AfterConstruction();
    auto* player = new TkvFlashPlayer(form.get());  // transparent
    player->SetParent(form.get());                 // the form has no window yet
    player->LoadMovie(L"early.swf");
    DriverLog().clear();
    form->Show();
    PumpMessages();
    // Erasing with the parent's picture covered the movie: it was asked to
    // draw itself again, once.
    int updates = 0;
    for (const std::wstring& line : DriverLog())
        updates += line == L"TRecordingNS.ForceUpdate";
    EXPECT_EQ(updates, 1);
}

TEST(FlashPlayer, ResizingRebuildsTheBufferAtTheNewSize)
{
    auto form = ShownPatternForm();
    auto* player = new TkvFlashPlayer(form.get());
    player->SetParent(form.get());
    player->SetBounds(0, 0, 64, 48);
    EXPECT_EQ(player->Driver->Width, 64);
    EXPECT_EQ(player->Driver->Height, 48);
    EXPECT_EQ(player->Driver->BitmapInfo.bmiHeader.biHeight, -48);
    player->SetBounds(0, 0, 0, 0);
    EXPECT_EQ(player->Driver->Width, 1);
    EXPECT_EQ(player->Driver->Height, 1);
}

TEST(FlashPlayer, ChangingPluginReplacesTheDriverReloadsTheMovieAndDropsItsSettings)
{
    BackendScope scope(true, true);
    auto* player = new TkvFlashPlayer(nullptr);
    EXPECT_STREQ(player->Driver->DriverClass().ClassName(), L"TRecordingNS");
    player->LoadMovie(L"intro.swf");
    player->SetSkin("SteelOverAll");
    player->SetVolume(80);
    player->SetPause(true);
    player->SetDisableFlashMenu(false);
    player->SetDisableFlashCursor(true);
    DriverLog().clear();

    TkvFlashDriver* before = player->Driver;
    player->SetPlugin(kvDefault);  // same value: nothing
    EXPECT_EQ(player->Driver, before);
    EXPECT_TRUE(DriverLog().empty());

    player->SetPlugin(kvActiveX);
    EXPECT_STREQ(player->Driver->DriverClass().ClassName(), L"TRecordingAX");
    EXPECT_EQ(DriverLog(), std::vector<std::wstring>{L"TRecordingAX.LoadMovie(intro.swf)"});
    EXPECT_EQ(player->GetSkin(), "ClearOverAll");
    EXPECT_EQ(player->GetVolume(), 50);
    EXPECT_FALSE(player->GetPause());
    EXPECT_TRUE(player->GetDisableFlashMenu());
    EXPECT_FALSE(player->GetDisableFlashCursor());
    Free(player);
}

TEST(FlashPlayer, ForwardsMovieOperationsAndLoadFromStreamClearsTheName)
{
    BackendScope scope(true, false);
    auto* player = new TkvFlashPlayer(nullptr);
    IkvFlash* flash = player;
    flash->LoadMovie(L"a.swf");
    EXPECT_EQ(player->GetMovie(), L"a.swf");
    EXPECT_EQ(flash->GetVariable(L"score"), L"value of score");
    EXPECT_EQ(flash->CallFunction(L"<invoke name=\"f\"/>"), L"<string>answer</string>");
    TMemoryStream stream;
    flash->LoadMovieFromStream(&stream);
    EXPECT_EQ(player->GetMovie(), L"");
    Free(player);
}

// The three components by code: a handler assigned at any time reaches the
// driver at once, and every later driver.
template <class C>
void CheckHandlersReachTheDriverAtOnce()
{
    BackendScope scope(true, true);
    C* c = new C(nullptr);
    c->LoadMovie(L"running.swf");
    std::vector<std::wstring> heard;
    c->OnFSCommand = TkvFSCommandEvent([&](TObject* s, const WideString& cmd, const WideString&) {
        EXPECT_EQ(s, c->Driver) << "the driver is the sender";
        heard.push_back(L"fs " + cmd);
    });
    c->OnFlashCall = TkvFlashCallEvent([&](TObject*, const WideString& r) { heard.push_back(L"call " + r); });
    c->Driver->DoFSCommand(L"one", L"");
    c->Driver->DoFlashCall(L"<invoke/>");
    EXPECT_EQ(heard, (std::vector<std::wstring>{L"fs one", L"call <invoke/>"}));

    c->SetPlugin(kvActiveX);
    c->Driver->DoFSCommand(L"two", L"");
    EXPECT_EQ(heard.back(), L"fs two") << "handed to the next driver too";

    c->OnFSCommand = TkvFSCommandEvent();
    EXPECT_FALSE(c->Driver->OnFSCommand.Assigned()) << "clearing reaches the driver as well";
    EXPECT_TRUE(c->Driver->OnFlashCall.Assigned());
    Free(c);
}

TEST(FlashPlayer, HandlersAssignedByCodeReachTheCurrentDriverAtOnceAndEveryLaterOne)
{
    CheckHandlersReachTheDriverAtOnce<TkvFlashPlayer>();
    CheckHandlersReachTheDriverAtOnce<TkvFlashPlayerWnd>();
    CheckHandlersReachTheDriverAtOnce<TkvFlashPlayerComp>();
}

// What Application->HandleException was given while it lives.
struct CaughtErrors {
    std::vector<std::pair<TObject*, std::string>> seen;
    CaughtErrors()
    {
        Application->OnException =
            TExceptionEvent([this](TObject* s, const std::exception& e) { seen.emplace_back(s, e.what()); });
    }
    ~CaughtErrors() { Application->OnException = TExceptionEvent(); }
};

// A back-end that fails to start leaves the component the base driver, with
// the same size, background, host and handlers, and the error goes to the
// application's handler instead of out of the constructor or SetPlugin.
template <class C>
void CheckAFailingBackEndLeavesTheBaseDriver(TWinControl* parent)
{
    BackendScope scope(true, false);
    CaughtErrors errors;
    TFakeNetscape::FailStart = true;
    C* c = new C(parent);
    if constexpr (std::is_base_of_v<TControl, C>)
        c->SetParent(parent);
    ASSERT_NE(c->Driver, nullptr);
    EXPECT_STREQ(c->Driver->DriverClass().ClassName(), L"TkvFlashDriver");
    ASSERT_EQ(errors.seen.size(), 1u);
    EXPECT_EQ(errors.seen[0].first, static_cast<TObject*>(c));
    EXPECT_EQ(errors.seen[0].second, "The player refused to start");
    EXPECT_EQ(c->Driver->Width, 100);
    EXPECT_NE(c->Driver->Bits, nullptr);
    EXPECT_TRUE(c->Driver->OnPaint.Assigned());
    EXPECT_TRUE(c->Driver->OnEraseBackground.Assigned());
    // Usable: every operation answers nothing.
    c->LoadMovie(L"a.swf");
    c->Play();
    EXPECT_EQ(c->GetVariable(L"x"), L"");
    EXPECT_EQ(c->CallFunction(L"<invoke name=\"f\"/>"), L"");
    EXPECT_FALSE(c->GetIsPlaying());

    // The value asked for is kept, and a later change tries the player again.
    TFakeNetscape::FailStart = false;
    c->SetPlugin(kvNetscape);
    EXPECT_STREQ(c->Driver->DriverClass().ClassName(), L"TRecordingNS");
    const std::uint32_t background = c->Driver->Background;
    c->OnFSCommand = TkvFSCommandEvent([](TObject*, const WideString&, const WideString&) {});
    TFakeNetscape::FailStart = true;
    c->SetPlugin(kvActiveX);
    EXPECT_EQ(c->GetPlugin(), kvActiveX);
    EXPECT_STREQ(c->Driver->DriverClass().ClassName(), L"TkvFlashDriver");
    EXPECT_EQ(c->Driver->Background, background);
    EXPECT_TRUE(c->Driver->OnFSCommand.Assigned()) << "the handlers reach the base driver too";
    EXPECT_EQ(errors.seen.size(), 2u);

    // A movie that fails to load with a new driver is reported the same way.
    TFakeNetscape::FailStart = false;
    TFakeNetscape::FailLoad = true;
    c->SetPlugin(kvNetscape);
    EXPECT_STREQ(c->Driver->DriverClass().ClassName(), L"TRecordingNS");
    ASSERT_EQ(errors.seen.size(), 3u);
    EXPECT_EQ(errors.seen[2].second, "The player refused the movie");
    Free(c);
}

TEST(ComponentsKeepADriver, AFailingBackEndLeavesTheBaseDriverAndReportsTheError)
{
    auto form = ShownPatternForm();
    CheckAFailingBackEndLeavesTheBaseDriver<TkvFlashPlayer>(form.get());
    CheckAFailingBackEndLeavesTheBaseDriver<TkvFlashPlayerWnd>(form.get());
    CheckAFailingBackEndLeavesTheBaseDriver<TkvFlashPlayerComp>(form.get());
}

TEST(FlashPlayer, ColourChangeRepaintsOverTheNewColour)
{
    BackendScope scope(true, false);
    auto form = ShownPatternForm();
    auto* player = new TkvFlashPlayer(form.get());
    player->SetParent(form.get());
    player->SetTransparent(false);
    DriverLog().clear();
    player->SetColor(static_cast<TColor>(RGB(1, 2, 3)));
    EXPECT_EQ(player->Driver->Background, 0xFF010203u);
    ASSERT_FALSE(DriverLog().empty());
    EXPECT_EQ(DriverLog().back(), L"TRecordingNS.ForceUpdate");
}

// A form written to a stream and read back restores its player, and the
// player loads its movie exactly once, in Loaded, with the settings read.
class TStoredForm : public TForm {
    KV_CLASS(TStoredForm, TForm)
public:
    explicit TStoredForm(TComponent* owner) : TForm(owner)
    {
        RegisterMethod(L"PlayerFSCommand", this, &TStoredForm::PlayerFSCommand);
    }
    void PlayerFSCommand(TObject*, const WideString& c, const WideString&) { Last = c; }
    WideString Last;
};

}  // namespace

const TClassInfo& TStoredForm::StaticClass()
{
    static const TClassInfo info = TClassBuilder<TStoredForm>(L"TStoredForm").Build();
    return info;
}

namespace {

TEST(FlashPlayer, AStoredFormReadBackRestoresThePlayerAndLoadsItsMovieOnceInLoaded)
{
    BackendScope scope(true, false);
    RegisterClass(TStoredForm::StaticClass());
    TMemoryStream stream;
    {
        std::unique_ptr<TStoredForm, FormDeleter> form(new TStoredForm(nullptr));
        form->AfterConstruction();
        auto* player = new TkvFlashPlayer(form.get());
        player->SetName(L"Player1");
        player->SetParent(form.get());
        player->SetBounds(5, 6, 70, 50);
        player->SetTransparent(false);
        player->SetVolume(75);
        player->SetDisableFlashMenu(false);
        player->LoadMovie(L"stored.swf");
        player->OnFSCommand = form->MethodByName<TkvFSCommandEvent>(L"PlayerFSCommand");
        form->SaveToStream(stream);
    }
    DriverLog().clear();
    stream.SetPosition(0);
    std::unique_ptr<TStoredForm, FormDeleter> form(new TStoredForm(nullptr));
    form->AfterConstruction();
    form->LoadFromStream(stream);
    auto* player = dynamic_cast<TkvFlashPlayer*>(form->FindComponent(L"Player1"));
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->BoundsRect(), Rect(5, 6, 75, 56));
    EXPECT_EQ(player->Driver->Width, 70);
    EXPECT_FALSE(player->GetTransparent());
    EXPECT_EQ(player->GetVolume(), 75);
    EXPECT_FALSE(player->GetDisableFlashMenu());
    EXPECT_EQ(player->GetMovie(), L"stored.swf");

    int loads = 0;
    for (const auto& line : DriverLog())
        if (line == L"TRecordingNS.LoadMovie(stored.swf)")
            ++loads;
    EXPECT_EQ(loads, 1) << "recorded while reading, loaded once in Loaded";

    player->Driver->DoFSCommand(L"quit", L"");
    EXPECT_EQ(form->Last, L"quit") << "Loaded hands the stored handler to the driver";
}

}  // namespace

namespace {

// Reading a form never aborts because a player failed to start or to load
// its movie: the errors go to the application's handler.
TEST(ComponentsKeepADriver, AStoredFormIsReadWhateverItsPlayersFailAt)
{
    BackendScope scope(true, false);
    RegisterClass(TStoredForm::StaticClass());
    TMemoryStream stream;
    {
        std::unique_ptr<TStoredForm, FormDeleter> form(new TStoredForm(nullptr));
        form->AfterConstruction();
        auto* player = new TkvFlashPlayer(form.get());
        player->SetName(L"Player1");
        player->SetParent(form.get());
        player->SetPlugin(kvNetscape);
        player->LoadMovie(L"stored.swf");
        player->OnFSCommand = form->MethodByName<TkvFSCommandEvent>(L"PlayerFSCommand");
        auto* wnd = new TkvFlashPlayerWnd(form.get());
        wnd->SetName(L"Wnd1");
        wnd->SetParent(form.get());
        wnd->LoadMovie(L"window.swf");
        auto* comp = new TkvFlashPlayerComp(form.get());
        comp->SetName(L"Comp1");
        comp->LoadMovie(L"offscreen.swf");
        form->SaveToStream(stream);
    }
    for (bool failStart : {true, false}) {
        CaughtErrors errors;
        TFakeNetscape::FailStart = failStart;
        TFakeNetscape::FailLoad = !failStart;
        stream.SetPosition(0);
        std::unique_ptr<TStoredForm, FormDeleter> form(new TStoredForm(nullptr));
        form->AfterConstruction();
        ASSERT_NO_THROW(form->LoadFromStream(stream));
        auto* player = dynamic_cast<TkvFlashPlayer*>(form->FindComponent(L"Player1"));
        auto* wnd = dynamic_cast<TkvFlashPlayerWnd*>(form->FindComponent(L"Wnd1"));
        auto* comp = dynamic_cast<TkvFlashPlayerComp*>(form->FindComponent(L"Comp1"));
        ASSERT_TRUE(player && wnd && comp);
        EXPECT_EQ(player->GetPlugin(), kvNetscape);
        EXPECT_EQ(player->GetMovie(), L"stored.swf");
        const wchar_t* expected = failStart ? L"TkvFlashDriver" : L"TRecordingNS";
        for (TkvFlashDriver* d : {player->Driver, wnd->Driver, comp->Driver})
            EXPECT_STREQ(d->DriverClass().ClassName(), expected);
        // Starting: each constructor, and the player's stored Plugin once
        // more. Loading: each Loaded.
        auto count = [&](TObject* sender) {
            return std::count_if(errors.seen.begin(), errors.seen.end(), [&](const auto& e) { return e.first == sender; });
        };
        EXPECT_EQ(errors.seen.size(), failStart ? 4u : 3u);
        EXPECT_EQ(count(player), failStart ? 2 : 1);
        EXPECT_EQ(count(wnd), 1);
        EXPECT_EQ(count(comp), 1);
        player->Driver->DoFSCommand(L"quit", L"");
        EXPECT_EQ(form->Last, L"quit") << "the stored handler reaches the driver all the same";
    }
}

}  // namespace
