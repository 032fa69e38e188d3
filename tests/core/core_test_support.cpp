#include "core_test_support.h"

#include <gtest/gtest.h>

#include "kv_package.h"

std::vector<std::wstring>& DriverLog()
{
    static std::vector<std::wstring> log;
    return log;
}

BackendScope::BackendScope(bool netscape, bool activeX)
    : savedDefault_(DefaultFlashDriverClass), savedNS_(NetscapeDriverClass), savedAX_(ActiveXDriverClass),
      savedProbe_(CheckFlashActiveXProc)
{
    // Only the fakes play here, whatever is installed on the machine: the
    // real ActiveX probe would make the installed control the default.
    CheckFlashActiveXProc = nullptr;
    DefaultFlashDriverClass = &TkvFlashDriver::ClassRef();
    TFakeNetscape::Available = netscape;
    TFakeActiveX::Available = activeX;
    NetscapeDriverClass = &TFakeNetscape::ClassRef();
    ActiveXDriverClass = &TFakeActiveX::ClassRef();
    DriverLog().clear();
}

BackendScope::~BackendScope()
{
    DefaultFlashDriverClass = savedDefault_;
    NetscapeDriverClass = savedNS_;
    ActiveXDriverClass = savedAX_;
    CheckFlashActiveXProc = savedProbe_;
    TFakeNetscape::Available = false;
    TFakeActiveX::Available = false;
    TFakeNetscape::FailStart = TFakeActiveX::FailStart = false;
    TFakeNetscape::FailLoad = TFakeActiveX::FailLoad = false;
}

TPatternForm::TPatternForm(TComponent* owner) : TForm(owner)
{
    SetClientSize(200, 150);
}

COLORREF TPatternForm::PatternPixel(int x, int y)
{
    return RGB((x * 7) & 0xFF, (y * 5) & 0xFF, ((x + y) * 3) & 0xFF);
}

void TPatternForm::Paint()
{
    HDC dc = Canvas()->Handle();
    const TRect r = ClientRect();
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            ::SetPixel(dc, x, y, PatternPixel(x, y));
    TForm::Paint();
}

void PumpMessages()
{
    Application->ProcessMessages();
}

namespace {

// The package is started once for the whole test program, as an application would.
class PackageEnvironment : public ::testing::Environment {
public:
    void SetUp() override { KvPackageStart(); }
    void TearDown() override { KvPackageStop(); }
};

[[maybe_unused]] ::testing::Environment* const kPackageEnv = ::testing::AddGlobalTestEnvironment(new PackageEnvironment);

}  // namespace
