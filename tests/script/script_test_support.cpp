#include "script_test_support.h"

#include "eixml.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace scripttest {

namespace {
std::string text(const avm1::PropertyValue& v) {
    if (auto d = std::get_if<double>(&v)) return refplayer::ei::formatNumber(*d);
    if (auto b = std::get_if<bool>(&v)) return *b ? "true" : "false";
    if (auto s = std::get_if<std::string>(&v)) return *s;
    return "?";
}

std::string method(avm1::HttpMethod m) {
    return m == avm1::HttpMethod::Get ? "GET" : m == avm1::HttpMethod::Post ? "POST" : "NONE";
}

std::string where(const avm1::LoadTarget& t) {
    return t.level >= 0 ? "_level" + std::to_string(t.level) : t.path;
}
}  // namespace

// --- FakeClip -----------------------------------------------------------------------

FakeClip::FakeClip(FakeHost& host, std::string name, FakeClip* parent, int level)
    : host_(host), name_(std::move(name)), parent_(parent), level_(level), vars_(host.vm->newClipObject()) {}

FakeClip& FakeClip::addChild(const std::string& name) {
    children_.push_back(std::make_unique<FakeClip>(host_, name, this, level_));
    children_.back()->version = version;
    return *children_.back();
}

void FakeClip::removeChild(const std::string& name) {
    std::erase_if(children_, [&](const auto& c) { return c->name_ == name; });
}

avm1::Clip* FakeClip::childByName(std::string_view name, bool caseSensitive) {
    for (auto& c : children_) {
        if (caseSensitive ? c->name_ == name
                          : std::equal(c->name_.begin(), c->name_.end(), name.begin(), name.end(),
                                       [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            return c.get();
    }
    return nullptr;
}

std::optional<int> FakeClip::frameOfLabel(std::string_view label) const {
    auto it = labels.find(std::string(label));
    if (it == labels.end()) return std::nullopt;
    return it->second;
}

avm1::PropertyValue FakeClip::getProperty(avm1::ClipProperty p) const {
    auto it = props.find(p);
    return it == props.end() ? avm1::PropertyValue{} : it->second;
}

void FakeClip::setProperty(avm1::ClipProperty p, const avm1::PropertyValue& v) {
    props[p] = v;
    log("set " + std::string(avm1::clipPropertyName(p)) + "=" + text(v));
    if (p == avm1::ClipProperty::Name) name_ = text(v);
}

void FakeClip::gotoFrame(int f, bool play) {
    frame = std::clamp(f, 0, total - 1);
    playing = play;
    log("goto " + std::to_string(f) + (play ? " play" : " stop"));
}
void FakeClip::play() { playing = true, log("play"); }
void FakeClip::stop() { playing = false, log("stop"); }
void FakeClip::nextFrame() { frame = std::min(frame + 1, total - 1), playing = false, log("nextFrame"); }
void FakeClip::prevFrame() { frame = std::max(frame - 1, 0), playing = false, log("prevFrame"); }
void FakeClip::callFrame(int f) {
    log("call " + std::to_string(f));
    auto it = frameScripts.find(f);
    if (it != frameScripts.end()) host_.vm->run(it->second, *this);
}
void FakeClip::duplicate(std::string_view newName, int depth) {
    log("duplicate " + std::string(newName) + " " + std::to_string(depth));
}
void FakeClip::remove() { log("remove"); }

std::string FakeClip::path() const {
    if (!parent_) return "_level" + std::to_string(level_);
    return parent_->path() + "." + name_;
}

void FakeClip::log(const std::string& what) { host_.log.push_back(path() + " " + what); }

// --- FakeHost -----------------------------------------------------------------------

FakeClip& FakeHost::addLevel(int n, int version) {
    auto clip = std::make_unique<FakeClip>(*this, "", nullptr, n);
    clip->version = version;
    FakeClip& ref = *clip;
    levels_[n] = std::move(clip);
    return ref;
}

avm1::Clip* FakeHost::level(int n) {
    auto it = levels_.find(n);
    return it == levels_.end() ? nullptr : it->second.get();
}

void FakeHost::getUrl(const avm1::UrlRequest& r) {
    log.push_back("getUrl " + r.url + " window=" + r.window + " " + method(r.method) +
                  (r.postData.empty() ? "" : " post=" + r.postData));
}
void FakeHost::fsCommand(const std::string& command, const std::string& args) {
    log.push_back("fscommand " + command + " " + args);
}
void FakeHost::loadMovie(const avm1::LoadTarget& t, const avm1::UrlRequest& r) {
    log.push_back("loadMovie " + where(t) + " " + r.url + " " + method(r.method) +
                  (r.postData.empty() ? "" : " post=" + r.postData));
}
void FakeHost::loadVariables(const avm1::LoadTarget& t, const avm1::UrlRequest& r) {
    log.push_back("loadVariables " + where(t) + " " + r.url + " " + method(r.method) +
                  (r.postData.empty() ? "" : " post=" + r.postData));
}
uint32_t FakeHost::loadData(const avm1::UrlRequest& r) {
    if (refuseLoads) return 0;
    ++lastLoad;
    log.push_back("loadData " + std::to_string(lastLoad) + " " + r.url + " " + method(r.method) +
                  (r.postData.empty() ? "" : " post=" + r.postData));
    return lastLoad;
}
uint32_t FakeHost::loadClip(const avm1::LoadTarget& t, const avm1::UrlRequest& r) {
    ++lastLoad;
    log.push_back("loadClip " + std::to_string(lastLoad) + " " + where(t) + " " + r.url);
    return lastLoad;
}
std::optional<std::string> FakeHost::externalCall(const std::string& name, const std::string& xml) {
    externalCalls.emplace_back(name, xml);
    return externalAnswer;
}
bool FakeHost::addCallback(const std::string& name) {
    log.push_back("addCallback " + name);
    return available;
}

// --- Asm ------------------------------------------------------------------------------

Asm& Asm::op(uint8_t code) {
    code_.push_back(code);
    return *this;
}

Asm& Asm::record(uint8_t code, const std::vector<uint8_t>& payload) {
    code_.push_back(code);
    code_.push_back(static_cast<uint8_t>(payload.size()));
    code_.push_back(static_cast<uint8_t>(payload.size() >> 8));
    code_.insert(code_.end(), payload.begin(), payload.end());
    return *this;
}

namespace {
void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void putString(std::vector<uint8_t>& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}
}  // namespace

Asm& Asm::push(std::initializer_list<PushItem> items) {
    std::vector<uint8_t> p;
    for (const PushItem& item : items) {
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, const char*>) {
                    p.push_back(0);
                    putString(p, std::string(v));
                } else if constexpr (std::is_same_v<T, double>) {
                    const auto bits = std::bit_cast<uint64_t>(v);
                    p.push_back(6);
                    put32(p, static_cast<uint32_t>(bits >> 32));  // high half first
                    put32(p, static_cast<uint32_t>(bits));
                } else if constexpr (std::is_same_v<T, int>) {
                    p.push_back(7);
                    put32(p, static_cast<uint32_t>(v));
                } else if constexpr (std::is_same_v<T, bool>) {
                    p.push_back(5);
                    p.push_back(v ? 1 : 0);
                } else if constexpr (std::is_same_v<T, Null>) {
                    p.push_back(2);
                } else if constexpr (std::is_same_v<T, Undef>) {
                    p.push_back(3);
                } else if constexpr (std::is_same_v<T, Reg>) {
                    p.push_back(4);
                    p.push_back(v.index);
                } else if constexpr (std::is_same_v<T, Pool>) {
                    if (v.index < 256) {
                        p.push_back(8);
                        p.push_back(static_cast<uint8_t>(v.index));
                    } else {
                        p.push_back(9);
                        put16(p, v.index);
                    }
                } else if constexpr (std::is_same_v<T, F32>) {
                    p.push_back(1);
                    put32(p, std::bit_cast<uint32_t>(v.value));
                }
            },
            item);
    }
    return record(0x96, p);
}

Asm& Asm::pool(const std::vector<std::string>& strings) {
    std::vector<uint8_t> p;
    put16(p, static_cast<uint16_t>(strings.size()));
    for (const auto& s : strings) putString(p, s);
    return record(0x88, p);
}

Asm& Asm::label(const std::string& name) {
    labels_[name] = code_.size();
    return *this;
}

Asm& Asm::branch(uint8_t code, const std::string& label) {
    record(code, {0, 0});
    fixups_.emplace_back(code_.size() - 2, label);
    return *this;
}

Asm& Asm::function(const std::string& name, const std::vector<std::string>& params, const Asm& body) {
    const std::vector<uint8_t> b = body.body();
    std::vector<uint8_t> p;
    putString(p, name);
    put16(p, static_cast<uint16_t>(params.size()));
    for (const auto& param : params) putString(p, param);
    put16(p, static_cast<uint16_t>(b.size()));
    record(0x9B, p);
    code_.insert(code_.end(), b.begin(), b.end());
    return *this;
}

Asm& Asm::function2(const std::string& name, uint8_t registers, uint16_t flags,
                    const std::vector<std::pair<uint8_t, std::string>>& params, const Asm& body) {
    const std::vector<uint8_t> b = body.body();
    std::vector<uint8_t> p;
    putString(p, name);
    put16(p, static_cast<uint16_t>(params.size()));
    p.push_back(registers);
    put16(p, flags);
    for (const auto& [reg, param] : params) {
        p.push_back(reg);
        putString(p, param);
    }
    put16(p, static_cast<uint16_t>(b.size()));
    record(0x8E, p);
    code_.insert(code_.end(), b.begin(), b.end());
    return *this;
}

Asm& Asm::with(const Asm& body) {
    const std::vector<uint8_t> b = body.body();
    std::vector<uint8_t> p;
    put16(p, static_cast<uint16_t>(b.size()));
    record(0x94, p);
    code_.insert(code_.end(), b.begin(), b.end());
    return *this;
}

Asm& Asm::tryCatch(const Asm& body, const std::string& catchName, const Asm& handler, const std::optional<Asm>& finally) {
    const std::vector<uint8_t> t = body.body(), c = handler.body();
    const std::vector<uint8_t> f = finally ? finally->body() : std::vector<uint8_t>{};
    std::vector<uint8_t> p;
    p.push_back(static_cast<uint8_t>(1 | (finally ? 2 : 0)));  // catch block, maybe finally
    put16(p, static_cast<uint16_t>(t.size()));
    put16(p, static_cast<uint16_t>(c.size()));
    put16(p, static_cast<uint16_t>(f.size()));
    putString(p, catchName);
    record(0x8F, p);
    code_.insert(code_.end(), t.begin(), t.end());
    code_.insert(code_.end(), c.begin(), c.end());
    code_.insert(code_.end(), f.begin(), f.end());
    return *this;
}

Asm& Asm::getUrl(const std::string& url, const std::string& target) {
    std::vector<uint8_t> p;
    putString(p, url);
    putString(p, target);
    return record(0x83, p);
}

Asm& Asm::gotoLabel(const std::string& label) {
    std::vector<uint8_t> p;
    putString(p, label);
    return record(0x8C, p);
}

Asm& Asm::setTarget(const std::string& target) {
    std::vector<uint8_t> p;
    putString(p, target);
    return record(0x8B, p);
}

Asm& Asm::call(const std::string& name, std::initializer_list<PushItem> args) {
    std::vector<PushItem> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    for (const PushItem& a : reversed) push({a});
    return push({static_cast<int>(args.size()), name}).op(0x3D);
}

Asm& Asm::callMethod(const std::string& object, const std::string& method, std::initializer_list<PushItem> args) {
    std::vector<PushItem> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    for (const PushItem& a : reversed) push({a});
    push({static_cast<int>(args.size())});
    getVar(object);
    return push({method}).op(0x52);
}

std::vector<uint8_t> Asm::body() const {
    std::vector<uint8_t> out = code_;
    for (const auto& [at, name] : fixups_) {
        auto it = labels_.find(name);
        if (it == labels_.end()) throw std::logic_error("unbound label " + name);
        const auto offset = static_cast<int16_t>(static_cast<long>(it->second) - static_cast<long>(at + 2));
        out[at] = static_cast<uint8_t>(offset);
        out[at + 1] = static_cast<uint8_t>(static_cast<uint16_t>(offset) >> 8);
    }
    return out;
}

std::vector<uint8_t> Asm::bytes() const {
    std::vector<uint8_t> out = body();
    out.push_back(0);
    return out;
}

}  // namespace scripttest
