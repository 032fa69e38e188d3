// flashform: a form with a transparent Flash player.
//   flashform <movie.swf> [--plugin netscape|activex] [--snapshot <file.bmp> [--seconds N]]
// The movie plays over the form's own picture. Its FSCommand calls are listed
// in a label at the bottom (and on standard output); an ExternalInterface call
// to "greet" is answered with a greeting, any other call with null.
// With --snapshot the program plays N seconds (default 2), saves what its form
// shows as a 32-bit BMP and exits.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "framework/framework.h"
#include "kv_flashplayer.h"
#include "kv_package.h"

namespace {

// A one-line text control: the framework has no label of its own.
class TTextLabel : public TGraphicControl {
public:
    explicit TTextLabel(TComponent* AOwner) : TGraphicControl(AOwner) {}
    void SetText(const WideString& Text)
    {
        text_ = Text;
        Invalidate();
    }
    const WideString& Text() const { return text_; }
    void Paint() override
    {
        Canvas()->Brush()->SetColor(clWhite);
        Canvas()->FillRect(TRect(0, 0, Width(), Height()));
        Canvas()->Font()->SetColor(clBlack);
        Canvas()->TextOut(4, 2, text_);
    }

private:
    WideString text_;
};

class TMainForm : public TForm {
public:
    explicit TMainForm(TComponent* AOwner) : TForm(AOwner)
    {
        SetCaption(L"Korvel flashform");
        SetClientSize(400, 260);
        SetColor(clTeal);
        OnPaint = TNotifyEvent(this, &TMainForm::PaintStripes);

        Player = new TkvFlashPlayer(this);
        Player->SetBounds(20, 20, 360, 200);
        Player->SetTransparent(true);  // the form shows through the movie's background
        Player->SetParent(this);
        Player->OnFSCommand = TkvFSCommandEvent(this, &TMainForm::MovieCommand);
        Player->OnFlashCall = TkvFlashCallEvent(this, &TMainForm::MovieCall);

        Calls = new TTextLabel(this);
        Calls->SetBounds(0, 232, 400, 28);
        Calls->SetParent(this);
        Calls->SetText(L"(no FSCommand yet)");
    }

    TkvFlashPlayer* Player;
    TTextLabel* Calls;

private:
    // A yellow band across the form's middle, so the transparent movie shows
    // what is behind it.
    void PaintStripes(TObject*)
    {
        Canvas()->Brush()->SetColor(clYellow);
        Canvas()->FillRect(TRect(0, 100, 400, 140));
    }

    void MovieCommand(TObject*, const WideString& Command, const WideString& Args)
    {
        Calls->SetText(L"FSCommand " + Command + L"(" + Args + L")");
        std::wprintf(L"fscommand %ls %ls\n", Command.c_str(), Args.c_str());
        std::fflush(stdout);
    }

    // Request is an ExternalInterface <invoke> text; the answer goes back with
    // SetReturnValue before the handler returns.
    void MovieCall(TObject*, const WideString& Request)
    {
        std::wprintf(L"flashcall %ls\n", Request.c_str());
        std::fflush(stdout);
        if (Request.find(L"<invoke name=\"greet\"") == 0)
            Player->SetReturnValue(L"<string>hello from flashform</string>");
        else
            Player->SetReturnValue(L"<null/>");
    }
};

// What the form shows, as a top-down 32-bit BMP. Answers an error text, empty on success.
std::wstring SaveSnapshot(HWND window, const std::wstring& path)
{
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const int w = client.right, h = client.bottom;
    if (w <= 0 || h <= 0)
        return L"the form has no size";
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::wstring error;
    if (!dib || !mem) {
        error = L"no bitmap for the snapshot";
    } else {
        HGDIOBJ old = SelectObject(mem, dib);
        BitBlt(mem, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
        GdiFlush();
        SelectObject(mem, old);
        const DWORD imageSize = static_cast<DWORD>(w) * static_cast<DWORD>(h) * 4;
        // The screen's pixels carry no alpha: make them opaque for viewers that read it.
        auto* pixels = static_cast<std::uint8_t*>(bits);
        for (DWORD i = 3; i < imageSize; i += 4)
            pixels[i] = 0xFF;
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;  // "BM"
        fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
        fh.bfSize = fh.bfOffBits + imageSize;
        FILE* f = _wfopen(path.c_str(), L"wb");
        if (!f) {
            error = L"cannot write " + path;
        } else {
            const bool written = std::fwrite(&fh, sizeof(fh), 1, f) == 1 &&
                                 std::fwrite(&bi.bmiHeader, sizeof(bi.bmiHeader), 1, f) == 1 &&
                                 std::fwrite(bits, imageSize, 1, f) == 1;
            if (std::fclose(f) != 0 || !written)
                error = L"cannot write " + path;
        }
    }
    if (dib)
        DeleteObject(dib);
    if (mem)
        DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return error;
}

struct Options {
    std::wstring movie;
    std::wstring snapshot;
    TkvPlugin plugin = kvDefault;
    int seconds = 2;
    std::wstring error;
};

Options ParseArgs()
{
    Options o;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--snapshot" && i + 1 < argc) {
            o.snapshot = argv[++i];
        } else if (a == L"--seconds" && i + 1 < argc) {
            o.seconds = _wtoi(argv[++i]);
        } else if (a == L"--plugin" && i + 1 < argc) {
            const std::wstring p = argv[++i];
            if (p == L"netscape")
                o.plugin = kvNetscape;
            else if (p == L"activex")
                o.plugin = kvActiveX;
            else
                o.error = L"--plugin takes netscape or activex";
        } else if (o.movie.empty() && !a.starts_with(L"--")) {
            o.movie = a;
        } else {
            o.error = L"unexpected argument " + a;
        }
    }
    LocalFree(argv);
    if (o.error.empty() && o.movie.empty())
        o.error = L"no movie given";
    return o;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const Options options = ParseArgs();
    if (!options.error.empty()) {
        std::fwprintf(stderr,
                      L"flashform: %ls\nusage: flashform <movie.swf> [--plugin netscape|activex] "
                      L"[--snapshot <file.bmp> [--seconds N]]\n",
                      options.error.c_str());
        return 2;
    }

    int rc = 0;
    // The package's units start before the first component and stop after the last.
    KvPackageStart();
    TMainForm* form = nullptr;
    try {
        Application->Initialize();
        Application->CreateForm(form);
        if (options.plugin != kvDefault)
            form->Player->SetPlugin(options.plugin);
        form->Player->LoadMovie(options.movie);  // a file name, a URL or a stored movie's name

        if (options.snapshot.empty()) {
            Application->Run();
        } else {
            form->Show();
            const DWORD start = GetTickCount();
            while (GetTickCount() - start < static_cast<DWORD>(options.seconds) * 1000) {
                Application->ProcessMessages();
                Sleep(10);
            }
            form->Repaint();
            Application->ProcessMessages();
            const std::wstring error = SaveSnapshot(form->Handle(), options.snapshot);
            if (!error.empty()) {
                std::fwprintf(stderr, L"flashform: %ls\n", error.c_str());
                rc = 1;
            }
            std::wprintf(L"label %ls\n", form->Calls->Text().c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "flashform: %s\n", e.what());
        rc = 1;
    }
    // The players go before the package stops.
    Free(form);
    KvPackageStop();
    return rc;
}
