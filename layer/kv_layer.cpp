// The layered window: every frame the driver draws goes to the form through
// UpdateLayeredWindow, with the movie's per-pixel alpha.
#include "kv_layer.h"

#include <algorithm>

#include "kv_owners.h"

TUpdateLayeredWindowProc UpdateLayeredWindowProc = nullptr;

void kv_layer_Start()
{
    RegisterClasses<TkvFlashLayer>();
    // Looked up rather than imported, so the package loads where the
    // function is missing; the library is never released.
    if (HMODULE user32 = LoadLibraryA("user32.dll"))
        UpdateLayeredWindowProc = reinterpret_cast<TUpdateLayeredWindowProc>(
            reinterpret_cast<void*>(GetProcAddress(user32, "UpdateLayeredWindow")));
}

void kv_layer_Stop() {}

// A premultiplied 32-bit picture of the whole layered window.
struct TkvFlashLayer::Frame {
    kv::DibSection dib;
    std::uint32_t* bits = nullptr;
    int width = 0;
    int height = 0;
    HDC dc = nullptr;

    Frame(int w, int h) : dib(w, h), bits(static_cast<std::uint32_t*>(dib.bits())), width(w), height(h), dc(dib.dc()) {}
    bool Valid() const { return dib.Valid(); }
};

const TClassInfo& TkvFlashLayer::StaticClass()
{
    using T = TkvFlashLayer;
    static const TClassInfo info = TClassBuilder<T>(L"TkvFlashLayer")
                                       .Publish(L"Anchors")
                                       .Publish(L"DragCursor")
                                       .Publish(L"DragMode")
                                       .Publish(L"ParentColor")
                                       .Publish(L"ParentShowHint")
                                       .Publish(L"PopupMenu")
                                       .Publish(L"ShowHint")
                                       .Bool(L"TabStop", &T::TabStop, &T::SetTabStop)
                                       .Default(true)
                                       .Publish(L"Visible")
                                       .Publish(L"OnDragDrop")
                                       .Publish(L"OnDragOver")
                                       .Publish(L"OnEndDrag")
                                       .Publish(L"OnStartDrag")
                                       .Publish(L"OnClick")
                                       .Bool(L"AllowDrag", &T::GetAllowDrag, &T::SetAllowDrag)
                                       .Default(true)
                                       .Integer(L"MasterAlpha", &T::GetMasterAlpha, &T::SetMasterAlpha)
                                       .Default(255)
                                       .Build();
    return info;
}

TkvFlashLayer::TkvFlashLayer(TComponent* AOwner) : TkvCustomFlashPlayerWnd(AOwner)
{
    BackgroundMask = 0;
    SetAlign(alClient);
    masterAlpha_ = 255;
    allowDrag_ = true;
    // The driver was made on the opaque colour; with the mask it gets a
    // transparent background now, so the back-end recovers the movie's alpha
    // from the first frame on, whether or not a colour change ever comes.
    if (Driver) {
        Driver->SetBackground(MaskedBackground());
        Driver->ForceUpdate();
    }
}

TkvFlashLayer::~TkvFlashLayer()
{
    // A form that outlives its layer paints itself again instead of keeping
    // the last frame forever.
    TWinControl* parent = Parent();
    if (parent && !parent->ComponentState().Contains(csDestroying))
        ReleaseLayeredForm();
}

void TkvFlashLayer::TakeOverForm(HWND form)
{
    const LONG_PTR style = GetWindowLongPtrW(form, GWL_EXSTYLE);
    found_ = FoundLayering{};
    if (style & WS_EX_LAYERED) {
        found_.layered = true;
        // A window given its look by SetLayeredWindowAttributes refuses
        // UpdateLayeredWindow until the style is set afresh; the attributes
        // are kept to give them back.
        if (GetLayeredWindowAttributes(form, &found_.key, &found_.alpha, &found_.flags)) {
            found_.attributes = true;
            SetWindowLongPtrW(form, GWL_EXSTYLE, style & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
        }
    }
    SetWindowLongPtrW(form, GWL_EXSTYLE, style | WS_EX_LAYERED);
    layeredForm_ = form;
}

void TkvFlashLayer::ReleaseLayeredForm()
{
    HWND form = layeredForm_;
    layeredForm_ = nullptr;
    const FoundLayering found = found_;
    found_ = FoundLayering{};
    if (!form || !IsWindow(form))
        return;
    // Clearing the style drops the picture this layer gave the form.
    const LONG_PTR style = GetWindowLongPtrW(form, GWL_EXSTYLE) & ~static_cast<LONG_PTR>(WS_EX_LAYERED);
    SetWindowLongPtrW(form, GWL_EXSTYLE, style);
    if (found.layered) {
        SetWindowLongPtrW(form, GWL_EXSTYLE, style | WS_EX_LAYERED);
        if (found.attributes)
            SetLayeredWindowAttributes(form, found.key, found.alpha, found.flags);
    }
    RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void TkvFlashLayer::SetParent(TWinControl* AParent)
{
    // Leaving the form it made layered: that form paints itself again.
    if (layeredForm_ && (!AParent || !AParent->HandleAllocated() || AParent->Handle() != layeredForm_))
        ReleaseLayeredForm();
    TkvCustomFlashPlayerWnd::SetParent(AParent);
}

void TkvFlashLayer::SetMasterAlpha(int Value)
{
    masterAlpha_ = std::clamp(Value, 0, 255);
}

void TkvFlashLayer::CreateHandle()
{
    TkvCustomFlashPlayerWnd::CreateHandle();
    if (Driver)
        Driver->Resize(Width(), Height());
    // A layered form shows nothing until it is updated: it becomes one only
    // when this layer can update it. Without UpdateLayeredWindow it stays an
    // ordinary window and the control paints the buffer itself.
    HWND wnd = LayeredWindow();
    if (!wnd || !UpdateLayeredWindowProc)
        return;
    if (wnd == layeredForm_) {
        // Its window was made again: the form is still ours.
        SetWindowLongPtrW(wnd, GWL_EXSTYLE, GetWindowLongPtrW(wnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    } else {
        // A form layered by someone else is taken over too: left alone, a
        // form with the style and no picture stays invisible.
        if (layeredForm_)
            ReleaseLayeredForm();
        TakeOverForm(wnd);
    }
    UpdateLayer();
}

void TkvFlashLayer::Paint()
{
    // The picture of a form this layer made layered comes from UpdateLayer,
    // never from window painting; any other form is painted as usual.
    if (!layeredForm_)
        TkvCustomFlashPlayerWnd::Paint();
}

void TkvFlashLayer::DoPaint(TObject* Sender, const TRect& R)
{
    if (!layeredForm_) {
        TkvCustomFlashPlayerWnd::DoPaint(Sender, R);
        return;
    }
    UpdateLayer();
}

HWND TkvFlashLayer::LayeredWindow()
{
    if (ComponentState().Contains(csDesigning))
        return nullptr;
    if (!dynamic_cast<TWinControl*>(Owner()))
        return nullptr;
    // Only a form is made layered; any other parent has nothing to update.
    auto* form = dynamic_cast<TCustomForm*>(Parent());
    if (!form || !form->HandleAllocated())
        return nullptr;
    return form->Handle();
}

void TkvFlashLayer::UpdateLayer()
{
    HWND wnd = LayeredWindow();
    if (!wnd || !UpdateLayeredWindowProc || !Driver || !Driver->BufferDC || !Driver->Bits)
        return;
    RECT window{};
    if (!GetWindowRect(wnd, &window))
        return;
    POINT client{0, 0};
    ::ClientToScreen(wnd, &client);
    const int windowW = window.right - window.left;
    const int windowH = window.bottom - window.top;
    // Where the control's top-left corner lies in the window's picture.
    const int ox = client.x - window.left + Left();
    const int oy = client.y - window.top + Top();
    const int bufferW = std::min(Driver->Width, Width());
    const int bufferH = std::min(Driver->Height, Height());

    // The picture replaces the whole window, at the window's own place: the
    // window neither moves nor changes size, whatever its border.
    POINT destination{window.left, window.top};
    POINT source{0, 0};
    SIZE size{windowW, windowH};
    HDC sourceDC = nullptr;
    if (ox == 0 && oy == 0 && bufferW == windowW && bufferH == windowH) {
        // The control covers the window exactly (a borderless form): the
        // buffer itself is the picture.
        frame_.reset();
        sourceDC = Driver->BufferDC;
    } else {
        if (windowW <= 0 || windowH <= 0)
            return;
        if (!frame_ || frame_->width != windowW || frame_->height != windowH)
            frame_ = std::make_unique<Frame>(windowW, windowH);
        if (!frame_->Valid()) {
            frame_.reset();  // tried again with the next frame
            return;
        }
        GdiFlush();
        const int x0 = std::max(0, ox), x1 = std::min(windowW, ox + bufferW);
        const int y0 = std::max(0, oy), y1 = std::min(windowH, oy + bufferH);
        if (x0 >= x1 || y0 >= y1) {
            FillLongword(frame_->bits, windowW * windowH, 0);
        } else {
            // Only what the movie does not cover is cleared (fully
            // transparent): the bands above and below it, and each side.
            FillLongwordRect(frame_->bits, windowW, windowH, 0, 0, windowW, y0, 0);
            FillLongwordRect(frame_->bits, windowW, windowH, 0, y1, windowW, windowH, 0);
            FillLongwordRect(frame_->bits, windowW, windowH, 0, y0, x0, y1, 0);
            FillLongwordRect(frame_->bits, windowW, windowH, x1, y0, windowW, y1, 0);
            const auto* pixels = static_cast<const std::uint32_t*>(Driver->Bits);
            for (int y = y0; y < y1; ++y)
                MoveLongword(pixels + static_cast<std::size_t>(y - oy) * static_cast<std::size_t>(Driver->Width) +
                                 (x0 - ox),
                             frame_->bits + static_cast<std::size_t>(y) * static_cast<std::size_t>(windowW) + x0,
                             x1 - x0);
        }
        sourceDC = frame_->dc;
    }
    BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(masterAlpha_), AC_SRC_ALPHA};
    UpdateLayeredWindowProc(wnd, nullptr, &destination, &size, sourceDC, &source, 0, &blend, ULW_ALPHA);
}
