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
#include "demo_movies.h"
#include "kv_flashstore.h"
#include "screenshot.h"

namespace {

class TDemoForm : public TForm {
public:
    explicit TDemoForm(TComponent* AOwner) : TForm(AOwner)
    {
        SetCaption(L"Korvel Flash components demo");
        SetClientSize(920, 400);
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
        // It plays through the plug-in, beside the ActiveX control of the others.
        Opaque->SetPlugin(kvNetscape);

        // The left movie comes from memory; the right one from a movie store
        // on the form, found by its name.
        const std::vector<std::uint8_t> spinner = SpinnerMovie();
        TMemoryStream stream;
        stream.WriteBuffer(spinner.data(), static_cast<std::int64_t>(spinner.size()));
        stream.SetPosition(0);
        Transparent->LoadMovieFromStream(&stream);

        Store = new TkvFlashList(this);
        Store->SetName(L"Store");
        TkvFlashStream* item = Store->Flashs()->Add();
        const std::vector<std::uint8_t> counter = CounterMovie();
        item->DataStream()->WriteBuffer(counter.data(), static_cast<std::int64_t>(counter.size()));
        item->SetFlashStore(L"counter.swf");
        Opaque->OnFSCommand = TkvFSCommandEvent(this, &TDemoForm::MovieCommand);
        Opaque->LoadMovie(L"counter.swf");

        // A video, through the package's playback movie and one of its skins.
        Video = new TkvFlashPlayer(this);
        Video->SetName(L"VideoPlayer");
        Video->SetTransparent(false);
        Video->SetColor(static_cast<TColor>(0x00000000));
        Video->SetBounds(640, 60, 260, 200);
        Video->SetParent(this);
        Video->SetSkin("SteelOverAll");
        const std::vector<std::uint8_t> clip = VideoClip();
        TMemoryStream clipStream;
        clipStream.WriteBuffer(clip.data(), static_cast<std::int64_t>(clip.size()));
        Video->LoadMovieFromStream(&clipStream);
    }

    // Rests the mouse on the video, so its skin's control bar shows.
    void HoverVideo()
    {
        SendMessageW(Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(640 + 130, 60 + 100));
    }

    // Clicks one of the movie's button as a person would, so the capture shows
    // the movie answering.
    void ClickCounter()
    {
        const LPARAM at = MAKELPARAM(340 + 130, 60 + 82);
        SendMessageW(Handle(), WM_MOUSEMOVE, 0, at);
        SendMessageW(Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(Handle(), WM_LBUTTONUP, 0, at);
    }

    TkvFlashPlayer* Transparent = nullptr;
    TkvFlashPlayer* Opaque = nullptr;
    TkvFlashPlayer* Video = nullptr;
    TkvFlashList* Store = nullptr;
    WideString LastCommand = L"(none yet)";

private:
    void MovieCommand(TObject*, const WideString& command, const WideString&)
    {
        LastCommand = command;
        Invalidate();
    }

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
        c->TextOut(40, 20, WideString(KvVersionText()) +
                               L": a transparent player, an opaque player with a stored movie, a video with a skin");
        auto driverOf = [](TkvFlashPlayer* p) {
            return p && p->Driver ? WideString(p->Driver->DriverClass().ClassName()) : WideString(L"-");
        };
        c->TextOut(40, 300, L"Driver: " + driverOf(Transparent));
        c->TextOut(340, 300, L"Driver: " + driverOf(Opaque));
        c->TextOut(340, 320, L"Last FSCommand from the movie: " + LastCommand);
        c->TextOut(640, 300, L"Driver: " + driverOf(Video));
        c->TextOut(640, 320, L"Skin: " + AnsiToWide(Video ? Video->GetSkin() : AnsiString()));
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
            // Elapsed time as a difference of tick counts, which stays right
            // when the 32-bit count wraps (every 49.7 days of uptime).
            const DWORD start = GetTickCount();
            const DWORD duration = static_cast<DWORD>(options.seconds) * 1000;
            bool clicked = false;
            while (GetTickCount() - start < duration) {
                Application->ProcessMessages();
                if (!clicked && GetTickCount() - start > static_cast<DWORD>(options.seconds) * 500) {
                    form->ClickCounter();
                    form->ClickCounter();
                    clicked = true;
                }
                Sleep(10);
            }
            form->HoverVideo();
            Application->ProcessMessages();
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
