#include "components_support.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "kv_package.h"

namespace comptest {

namespace {

// A component made without a back-end of its own plays through the Netscape
// back-end even where the reference ActiveX control is registered too: the
// ActiveX probe runs now, once, and kvDefault is then pointed at the
// Netscape driver, which later probes leave alone. The cases that run on both
// back-ends name theirs; the control runs on the tests' clock.
class NetscapeEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        KvPackageStart();
        CheckFlashPlugins();
        axtest::UseControlClock();
        if (NetscapeDriverClass)
            DefaultFlashDriverClass = NetscapeDriverClass;
    }
};

[[maybe_unused]] ::testing::Environment* const kEnv = ::testing::AddGlobalTestEnvironment(new NetscapeEnvironment);

}  // namespace

std::vector<std::uint8_t> InputMovie()
{
    sw::Movie movie(8, 100, 100, 12.0);
    sw::ShapeBuilder shape(3);
    shape.rectangle(20 * 20, 20 * 20, 60 * 20, 60 * 20, shape.addFill(sw::Rgba::rgb(0x808080)), 0);
    sw::Button button;
    sw::ButtonRecord record;
    record.character = movie.defineShape(shape);
    button.records.push_back(record);
    sw::ButtonAction action;
    action.actions.fscommand("clicked", "button");
    button.actions.push_back(action);
    sw::EditText text;
    text.bounds = sw::Rect{10 * 20, 90 * 20, 85 * 20, 98 * 20};
    text.variable = "typed";
    text.fontHeight = 12 * 20;
    sw::PlaceObject p;
    p.depth = 1;
    p.character = movie.defineButton(button);
    movie.place(p);
    p.depth = 2;
    p.character = movie.defineEditText(text);
    movie.place(p);
    movie.doAction(sw::ActionAssembler().stop());
    movie.showFrame();
    return movie.build();
}

const TkvFlashDriverClass& TInputRecorder::ClassRef()
{
    static const TkvDriverClassOf<TInputRecorder> ref(L"TInputRecorder");
    return ref;
}

void TInputRecorder::KeyDown(std::uint16_t& Key, TShiftState)
{
    Log.push_back(L"KeyDown " + std::to_wstring(Key));
    if (KeyDownBecomes)
        Key = KeyDownBecomes;
}

void TInputRecorder::KeyPress(wchar_t& Key, TShiftState)
{
    Log.push_back(L"KeyPress " + std::to_wstring(static_cast<unsigned>(Key)));
}

void TInputRecorder::MouseDown(TMouseButton Button, TShiftState, int X, int Y)
{
    Log.push_back(L"MouseDown " + std::to_wstring(Button) + L" " + std::to_wstring(X) + L"," + std::to_wstring(Y));
}

DriverScope::DriverScope(bool noPlayer) : saved_{DefaultFlashDriverClass, NetscapeDriverClass, ActiveXDriverClass}
{
    TInputRecorder::Log.clear();
    TInputRecorder::KeyDownBecomes = 0;
    DefaultFlashDriverClass = noPlayer ? &TkvFlashDriver::ClassRef() : &TInputRecorder::ClassRef();
    if (noPlayer)
        NetscapeDriverClass = ActiveXDriverClass = nullptr;
}

DriverScope::~DriverScope()
{
    DefaultFlashDriverClass = saved_[0];
    NetscapeDriverClass = saved_[1];
    ActiveXDriverClass = saved_[2];
}

namespace {

TUpdateLayeredWindowProc g_system = nullptr;
std::vector<LayerCall> g_calls;

BOOL WINAPI RecordingUpdate(HWND hwnd, HDC hdcDst, POINT* pptDst, SIZE* psize, HDC hdcSrc, POINT* pptSrc,
                            COLORREF crKey, BLENDFUNCTION* pblend, DWORD dwFlags)
{
    LayerCall call;
    call.Window = hwnd;
    if (pptDst)
        call.Destination = *pptDst;
    if (psize)
        call.Size = *psize;
    if (pblend)
        call.Blend = *pblend;
    call.Flags = dwFlags;
    // The picture as the system reads it: the DIB selected into the source DC.
    DIBSECTION dib{};
    HGDIOBJ bitmap = hdcSrc ? GetCurrentObject(hdcSrc, OBJ_BITMAP) : nullptr;
    if (bitmap && psize && pptSrc && GetObjectW(bitmap, sizeof dib, &dib) == sizeof dib && dib.dsBm.bmBits) {
        GdiFlush();
        const auto* bits = static_cast<const std::uint32_t*>(dib.dsBm.bmBits);
        for (int y = 0; y < psize->cy; ++y)
            for (int x = 0; x < psize->cx; ++x) {
                const int sx = x + pptSrc->x, sy = y + pptSrc->y;
                const bool inside = sx < dib.dsBm.bmWidth && sy < dib.dsBm.bmHeight;
                call.Picture.push_back(inside ? bits[sy * dib.dsBm.bmWidth + sx] : 0xDEADBEEFu);
            }
    }
    g_calls.push_back(std::move(call));
    return g_system ? g_system(hwnd, hdcDst, pptDst, psize, hdcSrc, pptSrc, crKey, pblend, dwFlags) : FALSE;
}

}  // namespace

LayerRecorder::LayerRecorder()
{
    g_system = UpdateLayeredWindowProc;
    UpdateLayeredWindowProc = &RecordingUpdate;
    g_calls.clear();
}

LayerRecorder::~LayerRecorder() { UpdateLayeredWindowProc = g_system; }

std::vector<LayerCall>& LayerRecorder::Calls() { return g_calls; }

Owned<TForm> NewForm(int clientW, int clientH, TFormBorderStyle border, int x, int y)
{
    Owned<TForm> form(new TForm(nullptr));
    form->AfterConstruction();
    form->SetBorderStyle(border);
    form->SetBounds(x, y, form->Width(), form->Height());
    form->SetClientSize(clientW, clientH);
    return form;
}

COLORREF WindowPixel(HWND wnd, int x, int y)
{
    UpdateWindow(wnd);
    HDC dc = GetDC(wnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(wnd, dc);
    return c;
}

bool LogHasEvent(TkvPlugin backEnd, const std::string& log, unsigned event, std::uintptr_t wParam)
{
    char text[96];
    if (backEnd == kvActiveX) {
        const char* name = event == WM_KEYDOWN ? "WM_KEYDOWN" : event == WM_KEYUP ? "WM_KEYUP" : "WM_CHAR";
        std::snprintf(text, sizeof text, "< IOleInPlaceObjectWindowless.OnWindowMessage %s wParam=%llu ", name,
                      static_cast<unsigned long long>(wParam));
    } else {
        std::snprintf(text, sizeof text, "< NPP_HandleEvent event=0x%04X wParam=%llu ", event,
                      static_cast<unsigned long long>(wParam));
    }
    return LineOf(log, {text}) >= 0;
}

}  // namespace comptest
