// Shared pieces of the core tests: a driver class that records what it is
// asked, installable as either back-end, and a form with a known pattern.
#pragma once

#include <string>
#include <vector>

#include "framework/framework.h"
#include "kv_flashplayer.h"

// Everything the recording drivers were asked, in order, as text.
std::vector<std::wstring>& DriverLog();

// A back-end stand-in: records its movie operations and answers some.
template <int Id>
class TRecordingDriver : public TkvFlashDriver {
public:
    static inline bool Available = false;
    static inline int Created = 0;
    static inline int Destroyed = 0;
    static bool PluginExists() { return Available; }
    static const TkvFlashDriverClass& ClassRef()
    {
        static const TkvDriverClassOf<TRecordingDriver> ref(Id == 1 ? L"TRecordingNS" : Id == 2 ? L"TRecordingAX" : L"TRecordingApp");
        return ref;
    }
    const TkvFlashDriverClass& DriverClass() const override { return ClassRef(); }

    // Starting the player raises, as a back-end whose player refuses a call.
    static inline bool FailStart = false;
    // Loading a movie raises.
    static inline bool FailLoad = false;

    TRecordingDriver() { ++Created; }
    void Construct(int w, int h, std::uint32_t bg) override
    {
        TkvFlashDriver::Construct(w, h, bg);
        if (FailStart)
            throw EOleSysError(L"The player refused to start", E_FAIL);
    }
    ~TRecordingDriver() override { ++Destroyed; }

    int CreateBufferCalls = 0;
    int ResizeBufferCalls = 0;
    void CreateBuffer() override
    {
        ++CreateBufferCalls;
        TkvFlashDriver::CreateBuffer();
    }
    void ResizeBuffer() override { ++ResizeBufferCalls; }
    void LoadMovie(const WideString& m) override
    {
        Log(L"LoadMovie(" + m + L")");
        if (FailLoad && !m.empty())
            throw EOleSysError(L"The player refused the movie", E_FAIL);
    }
    void Play() override { Log(L"Play"); }
    void StopPlay() override { Log(L"StopPlay"); }
    WideString CallFunction(const WideString& r) override
    {
        Log(L"CallFunction(" + r + L")");
        return L"<string>answer</string>";
    }
    WideString GetVariable(const WideString& n) override { return L"value of " + n; }
    void SetVariable(const WideString& n, const WideString& v) override { Log(L"SetVariable(" + n + L"," + v + L")"); }
    void ForceUpdate() override { Log(L"ForceUpdate"); }

private:
    void Log(const std::wstring& what) { DriverLog().push_back(std::wstring(ClassRef().ClassName()) + L"." + what); }
};

using TFakeNetscape = TRecordingDriver<1>;
using TFakeActiveX = TRecordingDriver<2>;
using TFakeAppDriver = TRecordingDriver<3>;

// Installs the fake back-ends for one test and restores the globals after.
class BackendScope {
public:
    BackendScope(bool netscape, bool activeX);
    ~BackendScope();

private:
    const TkvFlashDriverClass* savedDefault_;
    const TkvFlashDriverClass* savedNS_;
    const TkvFlashDriverClass* savedAX_;
    bool (*savedProbe_)();
};

// A top-level form painted with a pattern that differs at every pixel of a
// small area: PatternPixel(x, y) is the framework colour at client (x, y).
class TPatternForm : public TForm {
public:
    explicit TPatternForm(TComponent* owner);
    static COLORREF PatternPixel(int x, int y);
    void Paint() override;
};

// Pumps the message queue until it is empty.
void PumpMessages();
