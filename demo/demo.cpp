// The demo: a form with a patterned background and player controls on it.
//   kv_demo [--screenshot <file.png>] [--seconds N]
// With --screenshot the demo plays for N seconds (default 2), saves what its
// form shows and exits; otherwise it runs until its form is closed.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "framework/framework.h"
#include "kv_flashplayer.h"
#include "kv_package.h"
#include "screenshot.h"

namespace {

class TDemoForm : public TForm {
public:
    explicit TDemoForm(TComponent* AOwner) : TForm(AOwner)
    {
        SetCaption(L"Korvel Flash components demo");
        SetClientSize(640, 400);
        OnPaint = TNotifyEvent(this, &TDemoForm::PaintPattern);

        Transparent = new TkvFlashPlayer(this);
        Transparent->SetName(L"TransparentPlayer");
        Transparent->SetBounds(40, 60, 260, 200);
        Transparent->SetParent(this);

        Opaque = new TkvFlashPlayer(this);
        Opaque->SetName(L"OpaquePlayer");
        Opaque->SetTransparent(false);
        Opaque->SetColor(static_cast<TColor>(0x00705030));  // framework colour 0x00BBGGRR
        Opaque->SetBounds(340, 60, 260, 200);
        Opaque->SetParent(this);
    }

    TkvFlashPlayer* Transparent = nullptr;
    TkvFlashPlayer* Opaque = nullptr;

private:
    // Diagonal stripes and a grid, so that what a player shows of its parent
    // is easy to tell from its own colour.
    void PaintPattern(TObject*)
    {
        TCanvas* c = Canvas();
        const TRect client = ClientRect();
        c->Brush()->SetStyle(bsSolid);
        c->Brush()->SetColor(static_cast<TColor>(0x00F0E8E0));
        c->FillRect(client);
        c->Pen()->SetStyle(psSolid);
        c->Pen()->SetColor(static_cast<TColor>(0x003080E0));
        c->Pen()->SetWidth(6);
        for (int x = -client.bottom; x < client.right; x += 28) {
            c->MoveTo(x, client.bottom);
            c->LineTo(x + client.bottom, 0);
        }
        c->Pen()->SetWidth(1);
        c->Pen()->SetColor(static_cast<TColor>(0x00A0A0A0));
        for (int y = 0; y < client.bottom; y += 40) {
            c->MoveTo(0, y);
            c->LineTo(client.right, y);
        }
        c->Brush()->SetStyle(bsClear);
        c->Font()->SetColor(static_cast<TColor>(0x00202020));
        c->TextOut(40, 20, WideString(KvVersionText()) + L": transparent player (left), opaque player (right)");
        c->TextOut(40, 300, L"Player driver: " + WideString(Transparent ? Transparent->Driver->DriverClass().ClassName() : L"-"));
        c->Pen()->SetColor(static_cast<TColor>(0x000000C0));
        c->Pen()->SetStyle(psDot);
        c->Rectangle(38, 58, 302, 262);  // where the transparent player sits
    }
};

struct Options {
    std::wstring screenshot;
    int seconds = 2;
};

Options ParseArgs()
{
    Options o;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--screenshot" && i + 1 < argc)
            o.screenshot = argv[++i];
        else if (a == L"--seconds" && i + 1 < argc)
            o.seconds = std::max(0, _wtoi(argv[++i]));
    }
    LocalFree(argv);
    return o;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const Options options = ParseArgs();
    int rc = 0;
    KvPackageStart();
    {
        Application->Initialize();
        TDemoForm* form = nullptr;
        Application->CreateForm(form);
        if (!options.screenshot.empty()) {
            form->Show();
            // Let the demo play, then capture what the form shows.
            const DWORD until = GetTickCount() + static_cast<DWORD>(options.seconds) * 1000;
            while (GetTickCount() < until) {
                Application->ProcessMessages();
                Sleep(10);
            }
            form->Repaint();
            Application->ProcessMessages();
            const std::wstring error = SaveWindowPng(form->Handle(), options.screenshot);
            if (!error.empty()) {
                std::fwprintf(stderr, L"kv_demo: screenshot failed: %ls\n", error.c_str());
                rc = 1;
            }
        } else {
            Application->Run();
        }
        // The drivers go before the package stops (the plug-in library is shut
        // down after the last driver).
        Free(form);
    }
    KvPackageStop();
    return rc;
}
