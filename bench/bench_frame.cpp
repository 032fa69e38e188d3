// The frame path: the reference player draws a full-stage movie into a
// component through each back-end, frame after frame on its deterministic
// clock, at 800 x 600 and 1920 x 1080. Prints frames per second and how each
// frame divides between the package's own work (fills and alpha pass), the
// system's copy to the screen and the player (the rest: its drawing and the
// calls around it).
//   kv_bench_frame [--quick]
// The two known parts are timed on their own in the same run, on the same
// buffers right after the frames (best of many); the player's share is what
// the measured frame time leaves.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ax_support.h"
#include "bench_util.h"
#include "kv_alpha.h"
#include "kv_layer.h"
#include "kv_package.h"
#include "kv_pixels.h"
#include "kv_simd.h"

using namespace nstest;

namespace {

int g_scale = 100;

// A movie as large as the stage it plays on: a half-transparent rectangle
// over the whole stage whose colour changes every frame, so every frame
// repaints all of it; it says "loaded" from its first frame.
std::vector<std::uint8_t> FullStageMovie(int w, int h)
{
    sw::Movie movie(8, static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h), 60.0);
    movie.setBackgroundColor(sw::Rgba::rgb(0xFFFFFF));
    sw::ShapeBuilder shape(3);
    sw::Rgba fill = sw::Rgba::rgb(0x3070C0);
    fill.a = 160;
    shape.rectangle(0, 0, w * 20, h * 20, shape.addFill(fill), 0);
    const std::uint16_t id = movie.defineShape(shape);
    const int frames = 32;
    for (int i = 0; i < frames; ++i) {
        sw::PlaceObject step;
        step.depth = 1;
        step.move = i > 0;
        if (i == 0)
            step.character = id;
        sw::CxForm c;
        c.addR = static_cast<std::int16_t>(i * 6);
        c.addG = static_cast<std::int16_t>(-i * 3);
        step.colorTransform = c;
        movie.place(step);
        if (i == 0)
            movie.doAction(sw::ActionAssembler().fscommand("loaded", ""));
        movie.showFrame();
    }
    return movie.build();
}

void StepBackEnd(TkvPlugin p)
{
    if (p == kvActiveX)
        axtest::StepControls(1);
    else
        Step(1);
}

struct Result {
    double frame = 0;    // mean seconds per frame
    double package = 0;  // best seconds of the package's pixel work for one frame
    double copy = 0;     // best seconds of the system's copy of one frame
    double repainted = 0;  // pixels reported painted per frame, as a share of the stage
};

// Frames through one component: `layer` a layered window (transparent: both
// renders, fills and the alpha pass, UpdateLayeredWindow), otherwise an opaque
// graphic player (the erase fill, one render, BitBlt to its form).
Result RunFrames(TkvPlugin p, bool layer, int w, int h, const std::wstring& movie, int frames)
{
    DefaultFlashDriverClass = p == kvActiveX ? ActiveXDriverClass : NetscapeDriverClass;
    std::unique_ptr<TForm, FormDeleter> form(new TForm(nullptr));
    form->AfterConstruction();
    form->SetBorderStyle(bsNone);
    form->SetBounds(0, 0, w, h);
    TkvFlashDriver* driver = nullptr;
    TkvFlashLayer* layered = nullptr;
    if (layer) {
        layered = new TkvFlashLayer(form.get());
        layered->SetParent(form.get());
        form->Show();
        Pump();
        layered->LoadMovie(movie);
        driver = layered->Driver;
    } else {
        auto* player = new TkvFlashPlayer(form.get());
        player->SetParent(form.get());
        player->SetBounds(0, 0, w, h);
        form->Show();
        Pump();
        player->LoadMovie(movie);
        driver = player->Driver;
    }
    Result r;
    if (!driver || !driver->Bits || driver->Width != w || driver->Height != h) {
        std::printf("  (no %dx%d buffer: skipped)\n", w, h);
        return r;
    }
    for (int i = 0; i < 5; ++i)
        StepBackEnd(p);
    // Each timed frame must repaint the whole stage, or the shares below
    // would be measured against less drawing than the package is timed for.
    long long paintedPixels = 0;
    const TkvPaintEvent component = driver->OnPaint;
    driver->OnPaint = TkvPaintEvent([&paintedPixels, component](TObject* sender, const TRect& rect) {
        paintedPixels += static_cast<long long>(rect.Width()) * rect.Height();
        if (component.Assigned())
            component(sender, rect);
    });
    double total = 0;
    for (int i = 0; i < frames; ++i) {
        const auto t0 = kvbench::Clock::now();
        StepBackEnd(p);
        total += kvbench::Seconds(t0, kvbench::Clock::now());
    }
    driver->OnPaint = component;
    r.frame = total / frames;
    r.repainted = static_cast<double>(paintedPixels) / (static_cast<double>(w) * h * frames);

    // The package's part, on the driver's own buffers.
    auto* bits = static_cast<std::uint32_t*>(driver->Bits);
    auto* white = static_cast<std::uint32_t*>(driver->WhiteBits);
    const int turns = std::max(10, 200 * g_scale / 100);
    r.package = r.copy = 1e30;
    HDC screen = GetDC(form->Handle());
    for (int i = 0; i < turns; ++i) {
        auto t0 = kvbench::Clock::now();
        if (white) {
            FillLongwordRect(bits, w, h, 0, 0, w, h, 0xFF000000u);
            FillLongwordRect(white, w, h, 0, 0, w, h, 0xFFFFFFFFu);
            RecoverAlphaRect(bits, white, w, h, 0, 0, w, h);
        } else {
            FillLongwordRect(bits, w, h, 0, 0, w, h, 0xFF336699u);
        }
        auto t1 = kvbench::Clock::now();
        if (layered) {
            layered->UpdateLayer();
        } else {
            BitBlt(screen, 0, 0, w, h, driver->BufferDC, 0, 0, SRCCOPY);
            GdiFlush();
        }
        auto t2 = kvbench::Clock::now();
        r.package = std::min(r.package, kvbench::Seconds(t0, t1));
        r.copy = std::min(r.copy, kvbench::Seconds(t1, t2));
    }
    ReleaseDC(form->Handle(), screen);
    form.reset();
    Pump();
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            g_scale = 10;
        else {
            std::fprintf(stderr, "usage: kv_bench_frame [--quick]\n");
            return 2;
        }
    }
    KvPackageStart();
    CheckFlashPlugins();
    if (!Player().Loaded() || !axtest::Control().Loaded() || !NetscapeDriverClass || !ActiveXDriverClass) {
        std::fprintf(stderr, "kv_bench_frame: the reference plug-in (npswf32.dll beside the program) and the "
                             "reference control (registered) are both needed\n");
        return 1;
    }
    Player().SetManualClock(1);
    Player().EnableLog(0);
    axtest::Control().SetManualClock(1);
    axtest::Control().EnableLog(0);

    std::printf("cpu: %s\n", kvbench::CpuName().c_str());
    std::printf("pixel routines: %s; pointers %d-bit\n", KvSimdName(KvSimdLevel()),
                static_cast<int>(sizeof(void*) * 8));
    std::printf("%-9s %-26s %-10s %8s %10s  %8s %8s %8s %10s\n", "back-end", "component", "size", "fps", "frame",
                "package", "player", "copy", "repainted");
    struct Size {
        int w, h;
        const char* name;
    };
    const Size sizes[] = {{800, 600, "800x600"}, {1920, 1080, "1920x1080"}};
    for (const Size& s : sizes) {
        const std::wstring movie =
            WriteFile(L"bench-" + std::to_wstring(s.w) + L".swf", FullStageMovie(s.w, s.h));
        const int frames = std::max(5, (s.w >= 1920 ? 60 : 150) * g_scale / 100);
        for (TkvPlugin p : {kvNetscape, kvActiveX})
            for (bool layer : {true, false}) {
                const Result r = RunFrames(p, layer, s.w, s.h, movie, frames);
                if (r.frame <= 0)
                    continue;
                const double player = std::max(0.0, r.frame - r.package - r.copy);
                std::printf("%-9s %-26s %-10s %8.1f %7.2f ms  %7.1f%% %7.1f%% %7.1f%% %9.0f%%\n",
                            p == kvActiveX ? "ActiveX" : "Netscape",
                            layer ? "layered window (alpha)" : "graphic player (opaque)", s.name, 1.0 / r.frame,
                            r.frame * 1e3, 100 * r.package / r.frame, 100 * player / r.frame,
                            100 * r.copy / r.frame, 100 * r.repainted);
                std::fflush(stdout);
            }
    }
    KvPackageStop();
    return 0;
}
