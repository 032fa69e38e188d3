// Shared by the engine tests: a host that records what the player asks of
// it, and helpers that render a player's view into a plain buffer.
#pragma once

#include "player.h"
#include "swfwriter/swf_writer.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace enginetest {

namespace sw = refplayer::swfwriter;
using refplayer::IRect;
using refplayer::Player;
using refplayer::PlayerHost;
using refplayer::RequestId;
using refplayer::RequestKind;

struct RecordingHost : PlayerHost {
    struct Request {
        RequestId id;
        RequestKind kind;
        std::string url, target, post;
    };
    std::vector<Request> requests;
    std::vector<std::pair<std::string, std::string>> commands;  // fscommand
    std::vector<std::pair<std::string, std::string>> externalCalls;
    std::vector<IRect> invalidations;
    std::vector<std::string> traces;
    std::optional<std::string> externalAnswer;
    // Called inside requestUrl, to answer synchronously as some hosts do.
    std::function<void(const Request&)> onRequest;

    void requestUrl(RequestId id, RequestKind kind, const std::string& url, const std::string& target,
                    const std::string& post) override
    {
        requests.push_back({id, kind, url, target, post});
        if (onRequest)
            onRequest(requests.back());
    }
    void fsCommand(const std::string& command, const std::string& args) override { commands.emplace_back(command, args); }
    std::optional<std::string> externalCall(const std::string& name, const std::string& xml) override
    {
        externalCalls.emplace_back(name, xml);
        return externalAnswer;
    }
    void invalidate(const IRect& r) override { invalidations.push_back(r); }
    void trace(const std::string& text) override { traces.push_back(text); }
};

// A view of w x h pixels filled with `fill`, drawn by the player within `clip`
// (the whole view when omitted).
struct View {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
View render(Player& player, int width, int height, uint32_t fill = 0, std::optional<IRect> clip = std::nullopt);

// Loads a movie into a player with a view of the given size; fails the test
// when the movie is refused.
void load(Player& player, const std::vector<uint8_t>& swf, int viewWidth, int viewHeight);

// A movie of `w` x `h` pixels at 12 frames per second, version 8.
sw::Movie movie(uint16_t w = 100, uint16_t h = 100, uint8_t version = 8);
// A shape with one solid-filled rectangle (pixels), no outline.
uint16_t defineRect(sw::Movie& m, double x, double y, double w, double h, sw::Rgba color, int shapeVersion = 3);
sw::PlaceObject placeAt(uint16_t character, uint16_t depth, double xPx = 0, double yPx = 0);

// Bit-packed SWF fields, most significant bit first, written here by hand.
class Bits {
public:
    void ub(uint32_t v, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            if (used_ == 0)
                out.push_back(0);
            if ((v >> i) & 1)
                out.back() |= static_cast<uint8_t>(0x80 >> used_);
            used_ = (used_ + 1) % 8;
        }
    }
    void sb(int32_t v, int n) { ub(static_cast<uint32_t>(v) & ((1u << n) - 1), n); }
    void align() { used_ = 0; }
    void u8(uint8_t v) { align(); out.push_back(v); }
    void u16(uint16_t v) { u8(uint8_t(v)); u8(uint8_t(v >> 8)); }
    void u32(uint32_t v) { u16(uint16_t(v)); u16(uint16_t(v >> 16)); }
    void rgba(sw::Rgba c) { u8(c.r); u8(c.g); u8(c.b); u8(c.a); }
    std::vector<uint8_t> out;

private:
    int used_ = 0;  // bits already taken in the last byte
};

// Premultiplied 0xAARRGGBB.
uint32_t argb(uint8_t a, uint8_t r, uint8_t g, uint8_t b);

}  // namespace enginetest
