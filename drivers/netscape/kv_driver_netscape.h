// The Netscape plug-in back-end: hosts the Flash Player's plug-in library as a
// minimal browser would, one windowless plug-in instance per driver.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "kv_flashplayer.h"
#include "npapi/npfunctions.h"

// The Flash Player plug-in's Mozilla plug-in identifier, which names its key
// under HKLM\SOFTWARE\MozillaPlugins.
inline constexpr wchar_t FlashPluginMozillaId[] = L"@adobe.com/FlashPlayer";
// Where the player installs its plug-in library when nothing else says.
inline constexpr wchar_t FlashPluginDefaultPath[] = L"C:\\Windows\\system32\\Macromed\\Flash\\NPSWF32.dll";
// What the package tells the plug-in it is.
inline constexpr char NetscapeUserAgent[] =
    "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8.0.3) Gecko/20060426 Korvel/4";

class TkvFlashDriverNS : public TkvFlashDriver {
    KV_CLASS(TkvFlashDriverNS, TkvFlashDriver)
public:
    TkvFlashDriverNS();
    ~TkvFlashDriverNS() override;

    static const TkvFlashDriverClass& ClassRef();
    const TkvFlashDriverClass& DriverClass() const override { return ClassRef(); }
    // True when the plug-in library was found, loaded and initialised.
    static bool PluginExists();

    // --- fields ---------------------------------------------------------------
    NPP_t Instance{};                 // pdata: the plug-in's; ndata: this driver
    NPObject* ScriptObject = nullptr; // the instance's scriptable object, or nullptr
    WideString ReturnValue;           // the answer to the movie's current external call
    NPWindow PluginWindow{};

    // --- overrides --------------------------------------------------------------
    void Construct(int AWidth, int AHeight, std::uint32_t ABackground) override;
    void ResizeBuffer() override;
    void ForceUpdate() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseWheel(TShiftState Shift, int X, int Y, int WheelDelta, bool& Handled) override;
    void KeyDown(std::uint16_t& Key, TShiftState Shift) override;
    void KeyPress(wchar_t& Key, TShiftState Shift) override;
    void KeyUp(std::uint16_t& Key, TShiftState Shift) override;
    void LoadMovie(const WideString& Path) override;
    void LoadMovieFromStream(TStream* Stream) override;
    WideString GetVariable(const WideString& Name) override;
    void SetVariable(const WideString& Name, const WideString& Value) override;
    WideString CallFunction(const WideString& Request) override;
    void SetReturnValue(const WideString& Value) override;
    void Play() override;
    void StopPlay() override;
    void Rewind() override;
    void Forward() override;
    void Back() override;
    bool GetLoop() override;
    bool GetIsPlaying() override;
    int GetCurrentFrame() override;
    int GetTotalFrames() override;
    void SetLoop(bool Value) override;
    void SetCurrentFrame(int Value) override;

    // --- own operations -----------------------------------------------------------
    void CreatePlugin();
    void DestroyPlugin();
    // Resolves a URL the plug-in asked for and delivers it (or starts a download).
    void CreateStream(const WideString& URL, void* NotifyData);
    // Paints a rectangle of the buffer now (the package's NPN_InvalidateRect).
    void InvalidateArea(const NPRect& Rect);
    // Hands the plug-in the primary buffer's DC again and repaints everything.
    void ResetWindow();

    // --- calls into the plug-in ---------------------------------------------------
    // One per entry of the plug-in's table, for this driver's instance: each
    // checks the entry is there, holds the driver busy for the call and says
    // whether the driver survived it (see CallPlayer). The plug-in may call
    // back into the package from inside any of them, and a handler of the
    // application's may release the driver there.
    TkvPlayerCall<NPError> NppNew(std::int16_t Count, char** Names, char** Values);
    TkvPlayerCall<NPError> NppDestroy();
    TkvPlayerCall<NPError> NppSetWindow();
    TkvPlayerCall<std::int16_t> NppHandleEvent(NPEvent& Event);
    TkvPlayerCall<NPError> NppGetValue(NPPVariable Variable, void* Value);
    TkvPlayerCall<NPError> NppNewStream(NPStream& Stream, std::uint16_t& Type);
    TkvPlayerCall<std::int32_t> NppWriteReady(NPStream& Stream);
    TkvPlayerCall<std::int32_t> NppWrite(NPStream& Stream, std::int32_t Offset, std::int32_t Length, void* Data);
    TkvPlayerCall<void> NppURLNotify(const char* URL, NPReason Reason, void* NotifyData);
    TkvPlayerCall<NPError> NppDestroyStream(NPStream& Stream, NPReason Reason);
    // The instance's scriptable object: a method call and a property write
    // (false when the object has no such entry).
    TkvPlayerCall<bool> ScriptInvoke(const char* Method, const NPVariant* Args, std::uint32_t Count, NPVariant& Result);
    TkvPlayerCall<bool> ScriptSetProperty(const char* Name, const NPVariant& Value);

    // The driver a plug-in instance belongs to, or nullptr.
    static TkvFlashDriverNS* FromInstance(NPP instance);
    // Between CreatePlugin and DestroyPlugin.
    bool InstanceAlive() const { return instanceAlive_; }

private:
    friend class TAsyncSteam;
    void SendEvent(std::uint16_t event, std::uintptr_t wParam, std::uintptr_t lParam);
    void PaintInto(HDC dc, const RECT& r);
    bool Invoke(const char* method, const NPVariant* args, std::uint32_t count, NPVariant& result);
    // A call whose result is of no interest.
    void InvokeCommand(const char* method, const NPVariant* args = nullptr, std::uint32_t count = 0);
    void InvokeLoadMovie(const WideString& url);
    bool Ready() const;
    void LoadVideo(const WideString& contentPath);
    // Hands a whole local source to the plug-in as one stream; false when the
    // plug-in did not take it (the request is then still to be answered).
    bool Deliver(TStream& source, const std::string& url, void* notifyData);
    // Hands bytes to an open stream, starting at stream offset `offset`, in
    // pieces no larger than NPP_WriteReady allows, each offered again from
    // where NPP_Write stopped, until the plug-in has taken every byte. False
    // when it did not take them all (it ended the stream, or stopped taking
    // data); Survived false when the driver was released meanwhile.
    bool WriteStream(NPStream& stream, std::uint64_t offset, const char* data, std::size_t size, bool& survived);

    bool instanceAlive_ = false;
};

// --- unit ---------------------------------------------------------------------
void kv_driver_netscape_Start();
void kv_driver_netscape_Stop();

// What unit start found, for diagnostics and tests.
const std::wstring& NetscapePluginLibraryPath();
bool NetscapeUrlmonAvailable();
