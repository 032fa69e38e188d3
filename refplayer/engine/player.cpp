// Player: the engine's public face. Every entry catches: the callers are
// NPAPI entries, COM methods and window procedures, which must never see an
// exception; a failure is recorded in lastError instead.
#include "player.h"

#include "player_core.h"
#include "int_conv.h"

#include <exception>
#include <new>

namespace refplayer {

struct Player::Impl {
    explicit Impl(PlayerHost& host) : core(host) {}
    engine::PlayerCore core;
    // An exception that escaped the engine: reported until a movie loads again.
    std::string fallbackError;
};

namespace {

template <typename Fn, typename R = std::invoke_result_t<Fn>>
R guarded(std::string& fallback, Fn&& fn, R failed = R()) noexcept
{
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        fallback = "out of memory";
    } catch (const std::exception& e) {
        try {
            fallback = std::string("internal error: ") + e.what();
        } catch (...) {
        }
    } catch (...) {
        fallback = "internal error";
    }
    return failed;
}

}  // namespace

#define KV_GUARD(...) guarded(impl_->fallbackError, [&] { return __VA_ARGS__; })
#define KV_GUARD_VOID(...) guarded(impl_->fallbackError, [&] { __VA_ARGS__; return 0; })

Player::Player(PlayerHost& host) : impl_(std::make_unique<Impl>(host)) {}
Player::~Player() = default;

void Player::loadRootUrl(const std::string& url) { KV_GUARD_VOID(impl_->core.loadRootUrl(url)); }

bool Player::deliverUrl(RequestId id, std::span<const uint8_t> data)
{
    bool ok = KV_GUARD(impl_->core.deliverUrl(id, data));
    if (ok && impl_->core.hasMovie())
        impl_->fallbackError.clear();
    return ok;
}

void Player::failUrl(RequestId id) { KV_GUARD_VOID(impl_->core.failUrl(id)); }

bool Player::loadRootBytes(std::span<const uint8_t> data, const std::string& url)
{
    bool ok = KV_GUARD(impl_->core.loadRootBytes(data, url));
    if (ok)
        impl_->fallbackError.clear();
    return ok;
}

bool Player::hasMovie() const { return impl_->core.hasMovie(); }

std::string Player::lastError() const
{
    try {
        return impl_->fallbackError.empty() ? impl_->core.lastError() : impl_->fallbackError;
    } catch (...) {
        return {};
    }
}

void Player::setViewSize(int width, int height) { KV_GUARD_VOID(impl_->core.setViewSize(width, height)); }
void Player::setTransparent(bool transparent) { KV_GUARD_VOID(impl_->core.setTransparent(transparent)); }
void Player::render(Surface target, const IRect& clip) { KV_GUARD_VOID(impl_->core.render(target, clip)); }

int Player::swfVersion() const
{
    const auto* m = impl_->core.rootMovie();
    return m ? m->version : 0;
}

double Player::frameRate() const
{
    const auto* m = impl_->core.rootMovie();
    return m ? m->frameRate : 12.0;
}

int Player::stageWidthPx() const
{
    const auto* m = impl_->core.rootMovie();
    return m ? num::truncClamp<int>((m->stage.xMax - m->stage.xMin) / 20) : 0;
}

int Player::stageHeightPx() const
{
    const auto* m = impl_->core.rootMovie();
    return m ? num::truncClamp<int>((m->stage.yMax - m->stage.yMin) / 20) : 0;
}

uint32_t Player::backgroundColor() const
{
    const auto* m = impl_->core.rootMovie();
    engine::Rgba c = m ? m->background : engine::Rgba{255, 255, 255, 255};
    return 0xFF000000u | static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | c.b;
}

void Player::tick() { KV_GUARD_VOID(impl_->core.tick()); }

void Player::mouseMove(int x, int y) { KV_GUARD_VOID(impl_->core.mouseMove(x, y)); }
void Player::mouseDown(MouseButton button, int x, int y) { KV_GUARD_VOID(impl_->core.mouseDown(button, x, y)); }
void Player::mouseUp(MouseButton button, int x, int y) { KV_GUARD_VOID(impl_->core.mouseUp(button, x, y)); }
void Player::charInput(uint8_t byte) { KV_GUARD_VOID(impl_->core.charInput(byte)); }
void Player::keyDown(int virtualKey) { KV_GUARD_VOID(impl_->core.keyDown(virtualKey)); }
void Player::mouseWheel(int delta) { KV_GUARD_VOID(impl_->core.mouseWheel(delta)); }
bool Player::pointerHidden() const { return impl_->core.pointerHidden(); }
void Player::keyUp(int virtualKey) { KV_GUARD_VOID(impl_->core.keyUp(virtualKey)); }

void Player::play() { KV_GUARD_VOID(impl_->core.play()); }
void Player::stopPlay() { KV_GUARD_VOID(impl_->core.stopPlay()); }
void Player::rewind() { KV_GUARD_VOID(impl_->core.gotoRootFrame(0, false)); }
void Player::forward() { KV_GUARD_VOID(impl_->core.stepRoot(1)); }
void Player::back() { KV_GUARD_VOID(impl_->core.stepRoot(-1)); }

bool Player::isPlaying() const
{
    auto* r = impl_->core.root();
    return r && r->playing;
}

bool Player::loop() const { return impl_->core.loop; }
void Player::setLoop(bool loop) { impl_->core.loop = loop; }

int Player::currentFrame() const
{
    auto* r = impl_->core.root();
    return r ? r->currentFrame() : 0;
}

int Player::totalFrames() const
{
    auto* r = impl_->core.root();
    return r ? r->totalFrames() : 0;
}

void Player::gotoFrame(int frame) { KV_GUARD_VOID(impl_->core.gotoRootFrame(frame, false)); }

void Player::setVariable(const std::string& path, const std::string& value)
{
    KV_GUARD_VOID(impl_->core.setVariable(path, value));
}

std::optional<std::string> Player::getVariable(const std::string& path) const
{
    return KV_GUARD(impl_->core.getVariable(path));
}

std::optional<std::string> Player::callFunction(const std::string& invokeXml)
{
    return KV_GUARD(impl_->core.callFunction(invokeXml));
}

void Player::collectGarbage() { KV_GUARD_VOID(impl_->core.scripting().collectGarbage()); }

}  // namespace refplayer
