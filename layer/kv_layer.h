// The layered window: a windowed player that turns its form into a
// per-pixel-alpha window showing nothing but the movie.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "kv_flashplayer.h"

// user32's UpdateLayeredWindow, looked up when the unit starts; nullptr when
// the system lacks it. Applications and tests may replace it.
using TUpdateLayeredWindowProc = BOOL(WINAPI*)(HWND hwnd, HDC hdcDst, POINT* pptDst, SIZE* psize, HDC hdcSrc,
                                                POINT* pptSrc, COLORREF crKey, BLENDFUNCTION* pblend, DWORD dwFlags);
extern TUpdateLayeredWindowProc UpdateLayeredWindowProc;

// Placed on a form, it fills the form (alClient) and makes it a layered
// window: every frame the movie draws is handed to the system with its alpha,
// so the desktop shows through where the movie is transparent. MasterAlpha
// fades the whole picture. Best on a form without borders: the picture is the
// whole window, so a border and caption stay invisible.
class TkvFlashLayer : public TkvCustomFlashPlayerWnd {
    KV_CLASS(TkvFlashLayer, TkvCustomFlashPlayerWnd)
public:
    explicit TkvFlashLayer(TComponent* AOwner);
    ~TkvFlashLayer() override;

    // Pushes the driver's current buffer to the form.
    void UpdateLayer();

    // 0..255; values outside are clamped. Applies from the next frame.
    int GetMasterAlpha() const { return masterAlpha_; }
    void SetMasterAlpha(int Value);
    // Stored with the form; nothing in the package depends on it.
    bool GetAllowDrag() const { return allowDrag_; }
    void SetAllowDrag(bool Value) { allowDrag_ = Value; }

    void CreateHandle() override;
    void SetParent(TWinControl* AParent) override;
    void Paint() override;
    void DoPaint(TObject* Sender, const TRect& R) override;

private:
    struct Frame;
    HWND LayeredWindow();

    int masterAlpha_ = 255;
    bool allowDrag_ = true;
    // The form whose picture this layer supplies.
    HWND layeredForm_ = nullptr;
    // How that form was found: layered already by someone else, and with
    // which attributes (when SetLayeredWindowAttributes had layered it).
    struct FoundLayering {
        bool layered = false;
        bool attributes = false;
        COLORREF key = 0;
        BYTE alpha = 0;
        DWORD flags = 0;
    } found_;
    // Makes the form layered for UpdateLayeredWindow, remembering how it was.
    void TakeOverForm(HWND form);
    // Gives the form back as it was found: its ordinary painting when this
    // layer made it layered, else its layered style and attributes.
    void ReleaseLayeredForm();
    // A picture of the whole window, used when the control does not cover
    // the window exactly (a form with a border, a layer not at 0, 0).
    std::unique_ptr<Frame> frame_;
};

// Unit start and stop.
void kv_layer_Start();
void kv_layer_Stop();
