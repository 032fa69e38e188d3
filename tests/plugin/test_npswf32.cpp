// The reference player's plug-in library driven as a browser drives it: the
// table entries, the instance life, streams, drawing, scripting and input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_config.h"

#include <chrono>

#include "movies.h"
#include "plugin_host.h"

using namespace plugintest;
using ::testing::_;
using ::testing::AnyNumber;
using ::testing::DoAll;
using ::testing::ElementsAre;
using ::testing::Eq;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NotNull;
using ::testing::Return;
using ::testing::SaveArg;

namespace {

const wchar_t kConfigKey[] = L"Software\\KorvelRef\\Plugin";
constexpr uint32_t kBlue = 0xFF0000FF, kRed = 0xFFFF0000;
constexpr uint32_t kGreenOverBlue = 0xFF00807F;  // 0x80008000 premultiplied, source-over opaque blue
constexpr uint32_t kStageColor = 0xFF336699;
const char kExternalScript[] = "try { __flash__toXML(sayHello(\"Bob\",42)) ; } catch (e) { \"<undefined/>\"; }";

uintptr_t at(int x, int y) { return static_cast<uintptr_t>(MAKELPARAM(x, y)); }

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, kConfigKey);
        // These cases check one piece of the player's behaviour each, against
        // a strict browser: the habits that change every conversation (asking
        // twice, taking parts of writes, doubles for frames, the modal menu)
        // are off unless a case turns one on.
        for (const wchar_t* habit : {L"RequestTwice", L"SmallWrites", L"FramesAsDoubles", L"ContextMenu"})
            setConfig(nullptr, habit, 0);
        ASSERT_TRUE(host.load());
        EXPECT_CALL(host.mock, InvalidateRect(_, _)).Times(AnyNumber()).WillRepeatedly([this](NPP, NPRect r) {
            invalidated.push_back(r);
        });
    }

    void TearDown() override
    {
        if (host.module()) {
            EXPECT_EQ(host.seam<RefPlayer_InstanceCountFunc>("RefPlayer_InstanceCount")(), 0) << "instances leaked";
            EXPECT_EQ(host.seam<RefPlayer_ObjectCountFunc>("RefPlayer_ObjectCount")(), 0) << "objects leaked";
        }
        EXPECT_EQ(host.windowReferencesHeldByPlayer(), 0) << "window object references leaked";
        EXPECT_EQ(host.outstandingAllocations(), 0) << "browser memory leaked or freed twice";
        host.unload();
        RegDeleteTreeW(HKEY_CURRENT_USER, kConfigKey);
    }

    void expectCreation(Instance& i, bool transparent)
    {
        InSequence order;
        EXPECT_CALL(host.mock, SetValue(_, NPPVpluginWindowBool, nullptr)).WillOnce(Return(NPERR_NO_ERROR));
        EXPECT_CALL(host.mock, SetValue(_, NPPVpluginTransparentBool, reinterpret_cast<void*>(uintptr_t(transparent))))
            .WillOnce(Return(NPERR_NO_ERROR));
        (void)i;
    }

    // A transparent instance showing a 40x30 view in `surface`.
    void createShown(Instance& i, Surface& surface, bool transparent = true, int x = 0, int y = 0)
    {
        expectCreation(i, transparent);
        ASSERT_EQ(i.create({{"wmode", transparent ? "transparent" : "opaque"}, {"bgcolor", "#0"}}), NPERR_NO_ERROR);
        ASSERT_EQ(i.setWindow(surface.dc(), x, y, kBoxesWidth, kBoxesHeight), NPERR_NO_ERROR);
    }

    // LoadMovie through the scriptable object; answers the request it makes.
    Request requestMovie(Instance& i, const std::string& url)
    {
        Request r{url, nullptr};
        EXPECT_CALL(host.mock, GetURLNotify(i.npp(), url, Eq(std::nullopt), NotNull()))
            .WillOnce(DoAll(SaveArg<3>(&r.notifyData), Return(NPERR_NO_ERROR)));
        EXPECT_TRUE(i.invoke("LoadMovie", {intArg(0), stringArg(url)}));
        return r;
    }

    void load(Instance& i, const std::vector<uint8_t>& movie, const std::string& url = "http://example.test/m.swf")
    {
        Request r = requestMovie(i, url);
        i.deliver(r, movie, 64);
    }

    void setConfig(const wchar_t* subkey, const wchar_t* name, DWORD value)
    {
        std::wstring path = std::wstring(kConfigKey) + (subkey ? std::wstring(L"\\") + subkey : L"");
        HKEY key = nullptr;
        // Other test programs that load the player meanwhile keep its defaults.
        refhost::claimConfig(kConfigKey);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        RegCloseKey(key);
    }

    Host host;
    std::vector<NPRect> invalidated;
};

bool covers(const std::vector<NPRect>& rects, int x, int y)
{
    for (auto& r : rects)
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            return true;
    return false;
}

// ---- the library -------------------------------------------------------------------

TEST_F(PluginTest, ExportsFillTablesAndRefuseUnusableOnes)
{
    auto getEntryPoints = host.seam<NP_GetEntryPointsFunc>(FLASH_EXPORT_GET_ENTRY_POINTS);
    auto initialize = host.seam<NP_InitializeFunc>(FLASH_EXPORT_INITIALIZE);
    auto disable = host.seam<Flash_DisableLocalSecurityFunc>(FLASH_EXPORT_DISABLE_LOCAL_SECURITY);
    ASSERT_TRUE(getEntryPoints && initialize && disable);

    // A host that zeroes the table without a size gets all of it.
    NPPluginFuncs zeroed{};
    ASSERT_EQ(getEntryPoints(&zeroed), NPERR_NO_ERROR);
    EXPECT_EQ(zeroed.size, sizeof(NPPluginFuncs));
    EXPECT_EQ(zeroed.version >> 8, NP_VERSION_MAJOR);
    EXPECT_TRUE(zeroed.newp && zeroed.destroy && zeroed.setwindow && zeroed.newstream && zeroed.destroystream &&
                zeroed.asfile && zeroed.writeready && zeroed.write && zeroed.print && zeroed.event &&
                zeroed.urlnotify && zeroed.getvalue && zeroed.setvalue);
    EXPECT_EQ(getEntryPoints(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);

    EXPECT_EQ(initialize(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
    NPNetscapeFuncs future = host.browserFuncs;
    future.version = (1 << 8) | 0;
    EXPECT_EQ(initialize(&future), NPERR_INCOMPATIBLE_VERSION_ERROR);
    EXPECT_EQ(initialize(&host.browserFuncs), NPERR_NO_ERROR);
    disable();

    // Name and description are answered without an instance.
    const char* text = nullptr;
    ASSERT_EQ(host.pluginFuncs.getvalue(nullptr, NPPVpluginNameString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "Shockwave Flash");
    ASSERT_EQ(host.pluginFuncs.getvalue(nullptr, NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "Shockwave Flash 10.0 r45");
    EXPECT_EQ(host.pluginFuncs.getvalue(nullptr, NPPVpluginWindowBool, &text), NPERR_INVALID_INSTANCE_ERROR);
}

// ---- instances ---------------------------------------------------------------------------

TEST_F(PluginTest, NewIsWindowlessTransparentAsThePageAsksAndRefusesBadArguments)
{
    Instance transparent(host), opaque(host);
    expectCreation(transparent, true);
    ASSERT_EQ(transparent.create({{"WMode", "Transparent"}}), NPERR_NO_ERROR);
    expectCreation(opaque, false);
    ASSERT_EQ(opaque.create({{"wmode", "opaque"}}), NPERR_NO_ERROR);

    NPBool value = 2;
    ASSERT_EQ(host.pluginFuncs.getvalue(transparent.npp(), NPPVpluginWindowBool, &value), NPERR_NO_ERROR);
    EXPECT_EQ(value, 0);
    ASSERT_EQ(host.pluginFuncs.getvalue(transparent.npp(), NPPVpluginTransparentBool, &value), NPERR_NO_ERROR);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(host.pluginFuncs.getvalue(opaque.npp(), NPPVpluginTransparentBool, &value), NPERR_NO_ERROR);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(host.pluginFuncs.getvalue(opaque.npp(), NPPVpluginTransparentBool, nullptr), NPERR_INVALID_PARAM);

    std::string mime = FLASH_PLUGIN_MIME_TYPE;
    EXPECT_EQ(host.pluginFuncs.newp(mime.data(), nullptr, NP_EMBED, 0, nullptr, nullptr, nullptr),
              NPERR_INVALID_INSTANCE_ERROR);
    NPP_t bare{};
    EXPECT_EQ(host.pluginFuncs.newp(mime.data(), &bare, NP_EMBED, 2, nullptr, nullptr, nullptr), NPERR_INVALID_PARAM);

    // A host may hand a window to an instance record that was never created
    // (all zero), and destroy one twice.
    NPWindow window{};
    window.type = NPWindowTypeDrawable;
    EXPECT_EQ(host.pluginFuncs.setwindow(&bare, &window), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(opaque.destroy(), NPERR_NO_ERROR);
    EXPECT_EQ(host.pluginFuncs.destroy(opaque.npp(), nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(host.pluginFuncs.setwindow(opaque.npp(), &window), NPERR_INVALID_INSTANCE_ERROR);
}

// ---- loading -------------------------------------------------------------------------------

TEST_F(PluginTest, LoadMovieRequestsWithNotifyAndNoTargetAndPlaysWhatArrivesInPieces)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface);
    EXPECT_EQ(i.invokeForInt("TotalFrames"), 0);

    EXPECT_FALSE(i.invoke("LoadMovie", {intArg(1), stringArg("http://example.test/level1.swf")}))
        << "only level 0 is loaded from the host";
    EXPECT_FALSE(i.invoke("LoadMovie", {intArg(0)}));

    Request r = requestMovie(i, "http://example.test/boxes.swf");
    invalidated.clear();
    i.deliver(r, boxesMovie(), 7);
    EXPECT_EQ(i.invokeForInt("TotalFrames"), 3);
    EXPECT_EQ(i.invokeForInt("CurrentFrame"), 0);
    EXPECT_EQ(i.invokeForInt("PercentLoaded"), 100);
    EXPECT_TRUE(covers(invalidated, 0, 0) && covers(invalidated, 39, 29)) << "the new movie is repainted";
}

TEST_F(PluginTest, LoadMovieTakesAStreamDeliveredWhollyInsideTheRequest)
{
    // As a minimal host does it, all inside NPN_GetURLNotify: the whole stream
    // (notified before it is destroyed), then variables from the URL's query,
    // then a window reset and a full repaint. The variables must land in the
    // movie that was just delivered, not before it.
    Surface surface(kBoxesWidth, kBoxesHeight);
    surface.fill(kBlue);
    Instance i(host);
    createShown(i, surface);
    std::string url = "http://example.test/boxes.swf";
    EXPECT_CALL(host.mock, GetURLNotify(i.npp(), url, Eq(std::nullopt), NotNull()))
        .WillOnce([&](NPP, std::string u, std::optional<std::string>, void* notify) {
            i.deliverAtOnce(Request{u, notify}, boxesMovie());
            EXPECT_TRUE(i.invoke("SetVariable", {stringArg("fromQuery"), stringArg("yes")}));
            EXPECT_EQ(i.setWindow(surface.dc(), 0, 0, kBoxesWidth, kBoxesHeight), NPERR_NO_ERROR);
            i.paint(surface.dc(), RECT{0, 0, kBoxesWidth, kBoxesHeight});
            return NPERR_NO_ERROR;
        });
    EXPECT_TRUE(i.invoke("LoadMovie", {intArg(0), stringArg(url)}));
    EXPECT_EQ(i.invokeForInt("TotalFrames"), 3);
    EXPECT_EQ(i.invokeForString("GetVariable", {stringArg("fromQuery")}), "yes");
    i.paint(surface.dc(), RECT{0, 0, kBoxesWidth, kBoxesHeight});
    EXPECT_EQ(surface.pixel(5, 5), kRed);
}

TEST_F(PluginTest, LoadMovieFailedOrRefusedRequestsLeaveNoMovie)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface);

    Request broken = requestMovie(i, "http://example.test/broken.swf");
    i.fail(broken, NPRES_NETWORK_ERR);
    EXPECT_EQ(i.invokeForInt("TotalFrames"), 0);

    EXPECT_CALL(host.mock, GetURLNotify(i.npp(), "http://example.test/refused.swf", _, _))
        .WillOnce(Return(NPERR_INVALID_URL));
    EXPECT_TRUE(i.invoke("LoadMovie", {intArg(0), stringArg("http://example.test/refused.swf")}));
    EXPECT_EQ(i.invokeForInt("TotalFrames"), 0);

    Request garbage = requestMovie(i, "http://example.test/garbage.swf");
    i.deliver(garbage, std::vector<uint8_t>{'F', 'W', 'S', 8, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});
    EXPECT_EQ(i.invokeForInt("TotalFrames"), 0);

    // A stream nobody asked for, and malformed writes, are refused.
    NPStream stray{};
    stray.url = "http://example.test/stray.swf";
    stray.notifyData = reinterpret_cast<void*>(uintptr_t(0xBADC0DE));
    uint16_t type = 0;
    std::string mime = FLASH_PLUGIN_MIME_TYPE;
    EXPECT_NE(host.pluginFuncs.newstream(i.npp(), mime.data(), &stray, false, &type), NPERR_NO_ERROR);
    Request r = requestMovie(i, "http://example.test/neg.swf");
    NPStream s{};
    s.url = "http://example.test/neg.swf";
    s.notifyData = r.notifyData;
    ASSERT_EQ(host.pluginFuncs.newstream(i.npp(), mime.data(), &s, false, &type), NPERR_NO_ERROR);
    char byte = 0;
    EXPECT_EQ(host.pluginFuncs.write(i.npp(), &s, 0, -1, &byte), -1);
    EXPECT_EQ(host.pluginFuncs.destroystream(i.npp(), &s, NPRES_NETWORK_ERR), NPERR_NO_ERROR);
    i.fail(r, NPRES_NETWORK_ERR);
    EXPECT_EQ(i.invokeForInt("TotalFrames"), 0);
}

TEST_F(PluginTest, MovieRequestsTheFilesItLoadsResolvedAgainstItsOwnUrl)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface);
    Request child{"http://example.test/dir/child.swf", nullptr};
    EXPECT_CALL(host.mock, GetURLNotify(i.npp(), child.url, Eq(std::nullopt), NotNull()))
        .WillOnce(DoAll(SaveArg<3>(&child.notifyData), Return(NPERR_NO_ERROR)));
    load(i, loaderMovie(), "http://example.test/dir/loader.swf");
    i.stepFrames(1);
    ASSERT_NE(child.notifyData, nullptr);
    i.deliver(child, boxesMovie());
    i.stepFrames(1);
    EXPECT_EQ(i.invokeForInt("TotalFrames"), 3);
}

TEST_F(PluginTest, EmbeddedSourceStreamedByTheBrowserUnaskedPlays)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    expectCreation(i, false);
    ASSERT_EQ(i.create({{"src", "http://example.test/boxes.swf"}}), NPERR_NO_ERROR);
    i.deliver(Request{"http://example.test/boxes.swf", nullptr}, boxesMovie());
    EXPECT_EQ(i.invokeForInt("TotalFrames"), 3);
}

// ---- drawing ------------------------------------------------------------------------------

TEST_F(PluginTest, PaintBlendsTheFrameIntoTheDibExactlyAndFollowsTheClock)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface);
    load(i, boxesMovie());

    surface.fill(kBlue);
    EXPECT_EQ(i.paint(surface.dc(), RECT{0, 0, kBoxesWidth, kBoxesHeight}), 1);
    EXPECT_EQ(surface.pixel(5, 5), kRed);
    EXPECT_EQ(surface.pixel(30, 5), kGreenOverBlue);
    EXPECT_EQ(surface.pixel(5, 20), kBlue) << "transparent: no stage background";

    invalidated.clear();
    EXPECT_EQ(i.stepFrames(1), 1);
    EXPECT_EQ(i.invokeForInt("CurrentFrame"), 1);
    EXPECT_TRUE(covers(invalidated, 5, 5) && covers(invalidated, 5, 20)) << "what moved is asked to be repainted";
    surface.fill(kBlue);
    i.paint(surface.dc(), RECT{0, 0, kBoxesWidth, kBoxesHeight});
    EXPECT_EQ(surface.pixel(5, 5), kBlue);
    EXPECT_EQ(surface.pixel(5, 20), kRed);

    // Only the dirty rectangle is touched.
    surface.fill(kBlue);
    i.paint(surface.dc(), RECT{0, 0, 10, 30});
    EXPECT_EQ(surface.pixel(5, 20), kRed);
    EXPECT_EQ(surface.pixel(15, 20), kBlue);
}

TEST_F(PluginTest, PaintOpaqueModeDrawsTheStageBackground)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface, false);
    load(i, boxesMovie());
    surface.fill(kBlue);
    i.paint(surface.dc(), RECT{0, 0, kBoxesWidth, kBoxesHeight});
    EXPECT_EQ(surface.pixel(5, 5), kRed);
    EXPECT_EQ(surface.pixel(5, 20), kStageColor);
}

TEST_F(PluginTest, PaintHonoursClipRegionOriginsPositionAndBitmapKind)
{
    // The plug-in sits at (10,5) of a 50x40 drawable.
    for (auto kind : {Surface::Kind::TopDownDib, Surface::Kind::BottomUpDib}) {
        SCOPED_TRACE(kind == Surface::Kind::TopDownDib ? "top-down" : "bottom-up");
        Surface surface(50, 40, kind);
        Instance i(host);
        createShown(i, surface, true, 10, 5);
        load(i, boxesMovie());

        surface.fill(kBlue);
        i.paint(surface.dc(), RECT{10, 5, 50, 35});
        EXPECT_EQ(surface.pixel(12, 7), kRed);
        EXPECT_EQ(surface.pixel(40, 7), kGreenOverBlue);
        EXPECT_EQ(surface.pixel(5, 7), kBlue) << "left of the plug-in";

        // Clip region: only x < 20 of the drawable may change.
        surface.fill(kBlue);
        int saved = SaveDC(surface.dc());
        IntersectClipRect(surface.dc(), 0, 0, 20, 40);
        i.paint(surface.dc(), RECT{10, 5, 50, 35});
        RestoreDC(surface.dc(), saved);
        EXPECT_EQ(surface.pixel(12, 7), kRed);
        EXPECT_EQ(surface.pixel(25, 7), kBlue);
        EXPECT_EQ(surface.pixel(40, 7), kBlue);

        // Window origin: logical (x, y) lands on device (x + 3, y + 2).
        surface.fill(kBlue);
        saved = SaveDC(surface.dc());
        SetWindowOrgEx(surface.dc(), -3, -2, nullptr);
        i.paint(surface.dc(), RECT{10, 5, 50, 35});
        RestoreDC(surface.dc(), saved);
        EXPECT_EQ(surface.pixel(12, 7), kBlue);
        EXPECT_EQ(surface.pixel(14, 8), kRed);
        EXPECT_EQ(surface.pixel(32, 6), kBlue);
        EXPECT_EQ(surface.pixel(34, 8), kGreenOverBlue);
    }
}

TEST_F(PluginTest, PaintOnADeviceBitmapGoesThroughAlphaBlend)
{
    Surface surface(kBoxesWidth, kBoxesHeight, Surface::Kind::DeviceBitmap);
    Instance i(host);
    createShown(i, surface);
    load(i, boxesMovie());
    surface.fill(kBlue);
    i.paint(surface.dc(), RECT{0, 0, kBoxesWidth, kBoxesHeight});
    EXPECT_EQ(surface.pixel(5, 5) & 0xFFFFFF, kRed & 0xFFFFFF);
    uint32_t blended = surface.pixel(30, 5);
    EXPECT_NEAR(int((blended >> 8) & 0xFF), 0x80, 1);
    EXPECT_NEAR(int(blended & 0xFF), 0x7F, 1);
    EXPECT_EQ(surface.pixel(5, 20) & 0xFFFFFF, kBlue & 0xFFFFFF);
}

TEST_F(PluginTest, PaintInsideTheInvalidationAsASynchronousHostDoes)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface);
    int paints = 0;
    EXPECT_CALL(host.mock, InvalidateRect(i.npp(), _)).WillRepeatedly([&](NPP, NPRect r) {
        ++paints;
        i.paint(surface.dc(), RECT{r.left, r.top, r.right, r.bottom});
    });
    surface.fill(kBlue);
    load(i, boxesMovie());
    EXPECT_GT(paints, 0);
    EXPECT_EQ(surface.pixel(5, 5), kRed);
    i.stepFrames(1);
    EXPECT_EQ(surface.pixel(5, 20), kRed);
}

// ---- time -------------------------------------------------------------------------------------

TEST_F(PluginTest, FrameTimerAdvancesOnTheMessageLoopUnlessTheClockIsManual)
{
    host.seam<RefPlayer_SetManualClockFunc>("RefPlayer_SetManualClock")(0);
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface);
    load(i, fiveFramesMovie());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (i.invokeForInt("CurrentFrame") == 0 && std::chrono::steady_clock::now() < deadline) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
    EXPECT_GT(i.invokeForInt("CurrentFrame").value_or(0), 0);

    // Stepping by hand stops the timer for good.
    i.invoke("StopPlay", {});
    i.invoke("Rewind", {});
    i.invoke("Play", {});
    i.stepFrames(2);
    for (int n = 0; n < 30; ++n) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
    EXPECT_EQ(i.invokeForInt("CurrentFrame"), 2);
}

// ---- scripting ---------------------------------------------------------------------------------

TEST_F(PluginTest, ScriptableMethodsControlTheTimelineAndVariables)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface);
    load(i, fiveFramesMovie());

    EXPECT_EQ(i.invokeForInt("TotalFrames"), 5);
    EXPECT_EQ(i.invokeForBool("IsPlaying"), true);
    EXPECT_TRUE(i.invoke("StopPlay", {}));
    EXPECT_EQ(i.invokeForBool("IsPlaying"), false);
    i.stepFrames(2);
    EXPECT_EQ(i.invokeForInt("CurrentFrame"), 0);
    EXPECT_TRUE(i.invoke("GotoFrame", {intArg(3)}));
    EXPECT_EQ(i.invokeForInt("CurrentFrame"), 3);
    EXPECT_EQ(i.invokeForInt("TCurrentFrame", {stringArg("/")}), 3);
    EXPECT_TRUE(i.invoke("Forward", {}));
    EXPECT_EQ(i.invokeForInt("CurrentFrame"), 4);
    EXPECT_TRUE(i.invoke("Back", {}));
    EXPECT_EQ(i.invokeForInt("CurrentFrame"), 3);
    EXPECT_TRUE(i.invoke("GotoFrame", {doubleArg(1.0)})) << "script engines pass numbers as doubles";
    EXPECT_EQ(i.invokeForInt("CurrentFrame"), 1);
    EXPECT_FALSE(i.invoke("GotoFrame", {stringArg("x")}));
    EXPECT_TRUE(i.invoke("Rewind", {}));
    EXPECT_EQ(i.invokeForInt("CurrentFrame"), 0);
    EXPECT_TRUE(i.invoke("Play", {}));
    i.stepFrames(1);
    EXPECT_EQ(i.invokeForInt("CurrentFrame"), 1);

    // Loop is a property.
    NPObject* obj = i.scriptable();
    std::string loopName = "Loop";
    NPVariant off = boolArg(false);
    EXPECT_TRUE(obj->_class->hasProperty(obj, loopName.data()));
    EXPECT_TRUE(obj->_class->setProperty(obj, loopName.data(), &off));
    EXPECT_EQ(i.invokeForBool("GetLoop"), false);
    NPVariant loop;
    EXPECT_TRUE(obj->_class->getProperty(obj, loopName.data(), &loop));
    EXPECT_EQ(loop.type, NPVariantType_Bool);
    EXPECT_FALSE(loop.value.boolValue);

    EXPECT_TRUE(i.invoke("SetVariable", {stringArg("greeting"), stringArg("hello")}));
    EXPECT_EQ(i.invokeForString("GetVariable", {stringArg("greeting")}), "hello");
    EXPECT_TRUE(i.invoke("SetVariable", {stringArg("count"), intArg(5)}));
    EXPECT_EQ(i.invokeForString("GetVariable", {stringArg("count")}), "5");
    NPVariant missing;
    EXPECT_TRUE(i.invoke("GetVariable", {stringArg("nothing")}, &missing));
    EXPECT_EQ(missing.type, NPVariantType_Null);

    EXPECT_EQ(i.invokeForInt("FlashVersion"), 10 << 16);
    std::string hasName = "GotoFrame", noName = "gotoframe";
    EXPECT_TRUE(obj->_class->hasMethod(obj, hasName.data()));
    EXPECT_FALSE(obj->_class->hasMethod(obj, noName.data()));
    EXPECT_FALSE(i.invoke("NoSuchMethod", {}));
}

TEST_F(PluginTest, FSCommandAndExternalInterfaceReachThePageAndCallbacksAnswer)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    {
        InSequence order;
        EXPECT_CALL(host.mock, Invoke(i.npp(), host.windowObject(), "_DoFSCommand", ElementsAre("hello", "world"), _))
            .WillOnce(Return(true));
        EXPECT_CALL(host.mock, Evaluate(i.npp(), host.windowObject(), kExternalScript, _))
            .WillOnce([](NPP, NPObject*, std::string, NPVariant* result) {
                setStringResult(result, "<string>Hi Bob</string>");
                return true;
            });
    }
    createShown(i, surface);
    load(i, scriptMovie());
    i.stepFrames(1);
    EXPECT_EQ(i.invokeForString("GetVariable", {stringArg("answer")}), "Hi Bob");

    EXPECT_EQ(i.invokeForString(
                  "CallFunction",
                  {stringArg("<invoke name=\"twice\" returntype=\"xml\"><arguments><number>21</number></arguments></invoke>")}),
              "<number>42</number>");
    EXPECT_FALSE(i.invoke("CallFunction", {stringArg("<invoke name=\"nobody\" returntype=\"xml\"></invoke>")}));
}

TEST_F(PluginTest, FSCommandIsPrefixedByTheEmbeddingsIdAndSetReturnValueAnswersAnExternalCall)
{
    // A container that answers an external call through SetReturnValue while
    // the script is evaluated, and leaves the script's own value empty.
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    EXPECT_CALL(host.mock, Invoke(i.npp(), _, "movie1_DoFSCommand", ElementsAre("hello", "world"), _))
        .WillOnce(Return(true));
    EXPECT_CALL(host.mock, Evaluate(i.npp(), _, kExternalScript, _))
        .WillOnce([&](NPP, NPObject*, std::string, NPVariant* result) {
            EXPECT_TRUE(i.invoke("SetReturnValue", {stringArg("<string>Hey</string>")}));
            setStringResult(result, "");
            return true;
        });
    expectCreation(i, true);
    ASSERT_EQ(i.create({{"wmode", "transparent"}, {"id", "movie1"}}), NPERR_NO_ERROR);
    ASSERT_EQ(i.setWindow(surface.dc(), 0, 0, kBoxesWidth, kBoxesHeight), NPERR_NO_ERROR);
    load(i, scriptMovie());
    i.stepFrames(1);
    EXPECT_EQ(i.invokeForString("GetVariable", {stringArg("answer")}), "Hey");
}

TEST_F(PluginTest, HostMayDestroyTheInstanceFromInsideACallback)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    EXPECT_CALL(host.mock, Invoke(i.npp(), _, "_DoFSCommand", _, _)).WillOnce([&](auto...) {
        EXPECT_EQ(i.destroy(), NPERR_NO_ERROR);
        return true;
    });
    createShown(i, surface);
    load(i, scriptMovie());
    i.stepFrames(1);
    EXPECT_FALSE(i.alive());
    EXPECT_EQ(host.seam<RefPlayer_InstanceCountFunc>("RefPlayer_InstanceCount")(), 0);
}

// ---- input ------------------------------------------------------------------------------------------

TEST_F(PluginTest, InputLeftButtonPressesTheMoviesButtonRightButtonDoesNot)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    EXPECT_CALL(host.mock, Invoke(i.npp(), _, "_DoFSCommand", ElementsAre("pressed", "yes"), _)).WillOnce(Return(true));
    createShown(i, surface);
    load(i, buttonMovie());
    i.stepFrames(1);

    EXPECT_EQ(i.event(WM_MOUSEMOVE, 0, at(2, 2)), 1);
    EXPECT_EQ(i.event(WM_RBUTTONDOWN, MK_RBUTTON, at(15, 10)), 1);
    EXPECT_EQ(i.event(WM_RBUTTONUP, 0, at(15, 10)), 1);
    EXPECT_EQ(i.event(WM_MOUSEMOVE, 0, at(15, 10)), 1);
    EXPECT_EQ(i.event(WM_LBUTTONDOWN, MK_LBUTTON, at(15, 10)), 1);
    EXPECT_EQ(i.event(WM_LBUTTONUP, 0, at(15, 10)), 1);
    EXPECT_EQ(i.event(WM_CHAR, 'a', 1), 1);
    EXPECT_EQ(i.event(WM_SETFOCUS, 0, 0), 0) << "events the player does not use are not claimed";
}

// The right button's menu runs its own loop inside NPP_HandleEvent, owned by
// the page's window, which hears the menu's messages; closing it returns the
// event. The test closes it from a timer that the menu's loop dispatches.
int g_menuMessages = 0;
LRESULT CALLBACK pageWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_INITMENUPOPUP || msg == WM_ENTERMENULOOP)
        ++g_menuMessages;
    return DefWindowProcW(hwnd, msg, wp, lp);
}
void CALLBACK closeMenu(HWND, UINT, UINT_PTR, DWORD) { EndMenu(); }

TEST_F(PluginTest, HabitContextMenuIsOwnedByThePagesWindowAndRunsInsideTheEvent)
{
    setConfig(nullptr, L"ContextMenu", 1);
    WNDCLASSW wc{};
    wc.lpfnWndProc = pageWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KorvelTestPage";
    RegisterClassW(&wc);
    HWND page = CreateWindowExW(0, wc.lpszClassName, L"page", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(page, nullptr);
    host.netscapeWindow = page;
    g_menuMessages = 0;

    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    EXPECT_CALL(host.mock, Invoke(_, _, _, _, _)).Times(AnyNumber()).WillRepeatedly(Return(true));
    createShown(i, surface);
    load(i, buttonMovie());
    i.stepFrames(1);
    host.seam<RefPlayer_ClearLogFunc>("RefPlayer_ClearLog")();
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, closeMenu);
    EXPECT_EQ(i.event(WM_RBUTTONDOWN, MK_RBUTTON, at(300, 200)), 1);
    KillTimer(nullptr, timer);
    const std::string log = host.log();
    const auto opened = log.find("# context menu opened at 300,200, owned by the host's window");
    ASSERT_NE(opened, std::string::npos) << log;
    EXPECT_NE(log.find("# context menu closed: nothing", opened), std::string::npos) << log;
    EXPECT_EQ(log.find("error"), std::string::npos) << log;
    EXPECT_GT(g_menuMessages, 0) << "the page's window owned the menu";

    // The host gives no window: the player owns the menu itself.
    host.netscapeWindow = nullptr;
    host.seam<RefPlayer_ClearLogFunc>("RefPlayer_ClearLog")();
    g_menuMessages = 0;
    const UINT_PTR again = SetTimer(nullptr, 0, 20, closeMenu);
    EXPECT_EQ(i.event(WM_RBUTTONDOWN, MK_RBUTTON, at(10, 10)), 1);
    KillTimer(nullptr, again);
    EXPECT_NE(host.log().find("# context menu opened at 10,10, owned by the player's own window"), std::string::npos)
        << host.log();
    EXPECT_EQ(g_menuMessages, 0);
    // The movie still takes the left button afterwards.
    EXPECT_EQ(i.event(WM_LBUTTONDOWN, MK_LBUTTON, at(15, 10)), 1);
    EXPECT_EQ(i.event(WM_LBUTTONUP, 0, at(15, 10)), 1);
    DestroyWindow(page);
}

// Asked for twice, given the movie twice in pieces it takes only part of:
// the movie plays once, from the first answer, and the second is dropped.
TEST_F(PluginTest, HabitsRequestTwiceAndTakePartsOfEachWrite)
{
    setConfig(nullptr, L"RequestTwice", 1);
    setConfig(nullptr, L"SmallWrites", 1);
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface);
    const std::string url = "http://example.test/twice.swf";
    Request first{url, nullptr}, second{url, nullptr};
    {
        InSequence order;
        EXPECT_CALL(host.mock, GetURLNotify(i.npp(), url, Eq(std::nullopt), NotNull()))
            .WillOnce(DoAll(SaveArg<3>(&first.notifyData), Return(NPERR_NO_ERROR)));
        EXPECT_CALL(host.mock, GetURLNotify(i.npp(), url, Eq(std::nullopt), NotNull()))
            .WillOnce(DoAll(SaveArg<3>(&second.notifyData), Return(NPERR_NO_ERROR)));
    }
    EXPECT_TRUE(i.invoke("LoadMovie", {intArg(0), stringArg(url)}));
    ASSERT_NE(first.notifyData, second.notifyData) << "two requests, each with its own cookie";
    const auto movie = boxesMovie();
    i.deliver(second, movie, 4096);
    i.deliver(first, movie, 4096);
    i.stepFrames(1);
    const auto frames = i.invokeForInt("TotalFrames");
    EXPECT_GT(frames.value_or(0), 1) << "the movie plays";
    const std::string log = host.log();
    EXPECT_NE(log.find("# took "), std::string::npos) << log;
    EXPECT_NE(log.find("# second answer for \"" + url + "\" dropped: " + std::to_string(movie.size()) + " bytes"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("# delivered \"" + url + "\""), std::string::npos) << log;

    // Switched off, each is gone: one request, whole pieces.
    setConfig(nullptr, L"RequestTwice", 0);
    setConfig(nullptr, L"SmallWrites", 0);
    Instance once(host);
    createShown(once, surface);
    host.seam<RefPlayer_ClearLogFunc>("RefPlayer_ClearLog")();
    load(once, movie);
    EXPECT_EQ(once.invokeForInt("TotalFrames"), frames);
    EXPECT_EQ(host.log().find("# took "), std::string::npos) << host.log();
    EXPECT_EQ(host.log().find("second time"), std::string::npos) << host.log();
}

// ---- configuration and the call log --------------------------------------------------------------------

TEST_F(PluginTest, RegistryInjectsFailuresAndSetsTheReportedVersion)
{
    setConfig(L"Fail", L"NPP_New", NPERR_OUT_OF_MEMORY_ERROR);
    setConfig(L"Fail", L"Play", 1);
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kConfigKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const wchar_t version[] = L"11,2,202,235";
        RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof version);
        RegCloseKey(key);
    }
    Instance refused(host);
    EXPECT_EQ(refused.create(), NPERR_OUT_OF_MEMORY_ERROR);

    HKEY fail = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kConfigKey) + L"\\Fail").c_str(), 0, KEY_WRITE, &fail),
              ERROR_SUCCESS);
    RegDeleteValueW(fail, L"NPP_New");
    RegCloseKey(fail);

    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface);
    EXPECT_FALSE(i.invoke("Play", {}));
    EXPECT_TRUE(i.invoke("StopPlay", {}));
    EXPECT_EQ(i.invokeForInt("FlashVersion"), (11 << 16) | 2);
    const char* text = nullptr;
    ASSERT_EQ(host.pluginFuncs.getvalue(nullptr, NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "Shockwave Flash 11.2 r202");
}

TEST_F(PluginTest, CallLogRecordsBothDirectionsInOrder)
{
    Surface surface(kBoxesWidth, kBoxesHeight);
    Instance i(host);
    createShown(i, surface);
    Request r = requestMovie(i, "http://example.test/log.swf");
    i.deliver(r, fiveFramesMovie(), 1 << 20);

    auto lines = logLines(host.log());
    auto find = [&](const std::string& prefix, size_t from) {
        for (size_t n = from; n < lines.size(); ++n)
            if (lines[n].rfind(prefix, 0) == 0)
                return n;
        ADD_FAILURE() << "no line starting " << prefix << " after line " << from << " in\n" << host.log();
        return lines.size();
    };
    size_t n = find("< NP_GetEntryPoints", 0);
    n = find("< NP_Initialize size=" + std::to_string(sizeof(NPNetscapeFuncs)) + " version=18", n);
    n = find("< NPP_New type=\"application/x-shockwave-flash\" mode=1 args=[wmode=\"transparent\",bgcolor=\"#0\"]", n);
    n = find("> NPN_SetValue variable=3", n);
    n = find("> NPN_SetValue variable=4", n);
    n = find("< NPP_SetWindow type=2 x=0 y=0 width=40 height=30 window=set", n);
    n = find("< invoke LoadMovie args=[int:0,\"http://example.test/log.swf\"]", n);
    n = find("> NPN_GetURLNotify url=\"http://example.test/log.swf\" target=null notify=", n);
    n = find("< NPP_NewStream type=\"application/x-shockwave-flash\" url=\"http://example.test/log.swf\"", n);
    n = find("< NPP_WriteReady", n);
    n = find("< NPP_Write url=\"http://example.test/log.swf\" end=", n);
    n = find("< NPP_DestroyStream", n);
    n = find("# delivered \"http://example.test/log.swf\"", n);
    n = find("< NPP_URLNotify url=\"http://example.test/log.swf\" reason=0", n);
}

}  // namespace
