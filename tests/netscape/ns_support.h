// Shared by the tests that play movies through the Netscape back-end and the
// reference player's plug-in library (npswf32.dll beside the test program).
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "framework/framework.h"
#include "kv_driver_netscape.h"
#include "kv_flashplayer.h"
#include "npapi/npapi.h"
#include "swfwriter/swf_writer.h"

namespace nstest {

namespace sw = refplayer::swfwriter;

// The reference player's test seams, resolved from the loaded plug-in library.
struct Seams {
    int (*StepFrames)(NPP, int) = nullptr;
    void (*SetManualClock)(int) = nullptr;
    void (*EnableLog)(int) = nullptr;
    void (*ClearLog)() = nullptr;
    int (*ReadLog)(char*, int) = nullptr;
    int (*InstanceCount)() = nullptr;
    int (*ObjectCount)() = nullptr;
    void (*CollectGarbage)() = nullptr;
    bool Loaded() const { return StepFrames != nullptr; }
};
const Seams& Player();
std::string PlayerLog();
// The index of the first line of `log` holding every one of `parts`, or -1.
int LineOf(const std::string& log, std::initializer_list<std::string_view> parts);

// Steps every live plug-in instance n frames, then handles waiting messages.
void Step(int frames = 1);
void Pump();

// A 100 x 100 movie at 12 frames per second on a white stage: a `colour`
// rectangle (0xRRGGBB, alpha `alpha`) from (20, 20) to (80, 80), and whatever
// `frame0` adds to the first frame's actions.
std::vector<std::uint8_t> RectMovie(std::uint32_t colour, std::uint8_t alpha = 255,
                                    const sw::ActionAssembler& frame0 = sw::ActionAssembler(),
                                    sw::Compression compression = sw::Compression::None);

// Files in a fresh folder of the test's own.
std::wstring TempFolder();
std::wstring WriteFile(const std::wstring& name, const std::vector<std::uint8_t>& bytes);

// Buffer pixel of a driver.
std::uint32_t Pixel(TkvFlashDriver* d, int x, int y);

struct FormDeleter {
    void operator()(TObject* o) const { Free(o); }
};

// A shown form holding an opaque player of 100 x 100 at (10, 10).
class TPlayerForm : public TForm {
public:
    explicit TPlayerForm(TComponent* owner);
    TkvFlashPlayer* Player = nullptr;
};
std::unique_ptr<TPlayerForm, FormDeleter> NewPlayerForm(TColor playerColour = static_cast<TColor>(0x00404040));

}  // namespace nstest
