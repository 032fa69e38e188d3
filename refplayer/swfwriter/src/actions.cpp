#include "swfwriter/actions.h"

#include <atomic>
#include <cctype>

namespace refplayer::swfwriter {

namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

struct SimpleAction {
    const char* name;
    uint8_t code;
};

constexpr SimpleAction kSimpleActions[] = {
#define KV_SWF_ENTRY(method, code, name) {name, code},
    KV_SWF_SIMPLE_ACTIONS(KV_SWF_ENTRY)
#undef KV_SWF_ENTRY
};

// Splits "a.b.c" into its parts; empty parts are refused.
std::vector<std::string_view> splitPath(std::string_view dotted) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t dot = dotted.find('.', start);
        const std::string_view part = dotted.substr(start, dot == std::string_view::npos ? dotted.npos : dot - start);
        if (part.empty())
            throw Error("bad path \"" + std::string(dotted) + "\"");
        parts.push_back(part);
        if (dot == std::string_view::npos)
            return parts;
        start = dot + 1;
    }
}

std::atomic<uint32_t> g_nextSerial{1};

}  // namespace

std::optional<uint8_t> simpleActionCode(std::string_view name) {
    for (const auto& a : kSimpleActions)
        if (equalsIgnoreCase(a.name, name))
            return a.code;
    return std::nullopt;
}

void PushValue::encode(SwfBuffer& out) const {
    struct Visitor {
        SwfBuffer& out;
        void operator()(const std::string& s) const { out.u8(0); out.string(s); }
        void operator()(const Float& f) const { out.u8(1); out.f32(f.value); }
        void operator()(Null) const { out.u8(2); }
        void operator()(Undefined) const { out.u8(3); }
        void operator()(Register r) const { out.u8(4); out.u8(r.index); }
        void operator()(bool b) const { out.u8(5); out.u8(b ? 1 : 0); }
        void operator()(double d) const { out.u8(6); out.avm1Double(d); }
        void operator()(int32_t i) const { out.u8(7); out.u32(static_cast<uint32_t>(i)); }
        void operator()(Constant c) const {
            if (c.index < 256) { out.u8(8); out.u8(static_cast<uint8_t>(c.index)); }
            else { out.u8(9); out.u16(c.index); }
        }
    };
    std::visit(Visitor{out}, v_);
}

ActionAssembler::ActionAssembler() : serial_(g_nextSerial.fetch_add(1)) {}

Label ActionAssembler::newLabel() {
    labels_.emplace_back();
    return Label{serial_, static_cast<uint32_t>(labels_.size() - 1)};
}

void ActionAssembler::checkOwn(Label label) const {
    if (label.owner != serial_ || label.index >= labels_.size())
        throw Error("label belongs to another action block");
}

ActionAssembler& ActionAssembler::bind(Label label) {
    checkOwn(label);
    if (labels_[label.index])
        throw Error("label bound twice");
    labels_[label.index] = code_.size();
    return *this;
}

ActionAssembler& ActionAssembler::branch(uint8_t code, Label target) {
    checkOwn(target);
    code_.u8(code);
    code_.u16(2);
    fixups_.push_back({code_.size(), target.index});
    code_.u16(0);
    return *this;
}

ActionAssembler& ActionAssembler::jump(Label target) { return branch(action::Jump, target); }
ActionAssembler& ActionAssembler::branchIfTrue(Label target) { return branch(action::If, target); }

ActionAssembler& ActionAssembler::simple(uint8_t code) {
    if (code == 0 || code >= 0x80)
        throw Error("action 0x" + std::to_string(code) + " is not an operand-less action");
    code_.u8(code);
    return *this;
}

void ActionAssembler::record(uint8_t code, const SwfBuffer& payload) {
    const auto& bytes = payload.data();
    if (bytes.size() > 0xFFFF)
        throw Error("action record longer than 65535 bytes");
    code_.u8(code);
    code_.u16(static_cast<uint16_t>(bytes.size()));
    code_.bytes(bytes);
}

ActionAssembler& ActionAssembler::push(std::initializer_list<PushValue> values) {
    return push(std::vector<PushValue>(values));
}

ActionAssembler& ActionAssembler::push(const std::vector<PushValue>& values) {
    if (values.empty())
        throw Error("Push needs at least one value");
    // Encode everything first so a refused value leaves the block untouched;
    // values that overflow one record's length field spill into the next record.
    std::vector<SwfBuffer> records(1);
    for (const auto& v : values) {
        SwfBuffer one;
        v.encode(one);
        if (one.size() > 0xFFFF)
            throw Error("Push value longer than 65535 bytes");
        if (records.back().size() + one.size() > 0xFFFF)
            records.emplace_back();
        records.back().bytes(one.data());
    }
    for (const auto& r : records)
        record(action::Push, r);
    return *this;
}

ActionAssembler& ActionAssembler::constantPool(const std::vector<std::string>& pool) {
    if (pool.size() > 0xFFFF)
        throw Error("constant pool holds more than 65535 strings");
    SwfBuffer p;
    p.u16(static_cast<uint16_t>(pool.size()));
    for (const auto& s : pool)
        p.string(s);
    record(action::ConstantPool, p);
    return *this;
}

ActionAssembler& ActionAssembler::storeRegister(uint8_t reg) {
    SwfBuffer p;
    p.u8(reg);
    record(action::StoreRegister, p);
    return *this;
}

ActionAssembler& ActionAssembler::gotoFrame(uint16_t frameIndex) {
    SwfBuffer p;
    p.u16(frameIndex);
    record(action::GotoFrame, p);
    return *this;
}

ActionAssembler& ActionAssembler::gotoFrame2(bool play, uint16_t sceneBias) {
    SwfBuffer p;
    p.u8(static_cast<uint8_t>((sceneBias ? 0x02 : 0) | (play ? 0x01 : 0)));
    if (sceneBias)
        p.u16(sceneBias);
    record(action::GotoFrame2, p);
    return *this;
}

ActionAssembler& ActionAssembler::goToLabel(std::string_view label) {
    SwfBuffer p;
    p.string(label);
    record(action::GoToLabel, p);
    return *this;
}

ActionAssembler& ActionAssembler::getUrl(std::string_view url, std::string_view target) {
    SwfBuffer p;
    p.string(url);
    p.string(target);
    record(action::GetURL, p);
    return *this;
}

ActionAssembler& ActionAssembler::getUrl2(SendVars method, bool loadTarget, bool loadVariables) {
    // The published record layout lists these bits in the opposite order; players
    // read the method from the low two bits and the two flags from the top bits.
    SwfBuffer p;
    p.u8(static_cast<uint8_t>(static_cast<uint8_t>(method) | (loadTarget ? 0x40 : 0) | (loadVariables ? 0x80 : 0)));
    record(action::GetURL2, p);
    return *this;
}

ActionAssembler& ActionAssembler::setTarget(std::string_view target) {
    SwfBuffer p;
    p.string(target);
    record(action::SetTarget, p);
    return *this;
}

ActionAssembler& ActionAssembler::waitForFrame(uint16_t frame, uint8_t skipCount) {
    SwfBuffer p;
    p.u16(frame);
    p.u8(skipCount);
    record(action::WaitForFrame, p);
    return *this;
}

ActionAssembler& ActionAssembler::defineFunction(std::string_view name, const std::vector<std::string>& params,
                                                 const ActionAssembler& body) {
    const std::vector<uint8_t> code = body.assemble();
    if (code.size() > 0xFFFF)
        throw Error("function body longer than 65535 bytes");
    if (params.size() > 0xFFFF)
        throw Error("too many parameters");
    SwfBuffer p;
    p.string(name);
    p.u16(static_cast<uint16_t>(params.size()));
    for (const auto& s : params)
        p.string(s);
    p.u16(static_cast<uint16_t>(code.size()));
    // The body follows the record; its size is not part of the record length.
    record(action::DefineFunction, p);
    code_.bytes(code);
    return *this;
}

ActionAssembler& ActionAssembler::defineFunction2(std::string_view name, uint8_t registerCount, uint16_t flags,
                                                  const std::vector<RegisterParam>& params,
                                                  const ActionAssembler& body) {
    if (flags & ~0x01FF)
        throw Error("unknown DefineFunction2 flags");
    for (const auto& prm : params)
        if (prm.reg != 0 && prm.reg >= registerCount)
            throw Error("parameter register " + std::to_string(prm.reg) + " beyond the register count");
    const std::vector<uint8_t> code = body.assemble();
    if (code.size() > 0xFFFF)
        throw Error("function body longer than 65535 bytes");
    if (params.size() > 0xFFFF)
        throw Error("too many parameters");
    SwfBuffer p;
    p.string(name);
    p.u16(static_cast<uint16_t>(params.size()));
    p.u8(registerCount);
    p.u16(flags);
    for (const auto& prm : params) {
        p.u8(prm.reg);
        p.string(prm.name);
    }
    p.u16(static_cast<uint16_t>(code.size()));
    record(action::DefineFunction2, p);
    code_.bytes(code);
    return *this;
}

ActionAssembler& ActionAssembler::raw(uint8_t code, std::span<const uint8_t> payload) {
    if (code == 0)
        throw Error("action code 0 ends an action list");
    if (code < 0x80) {
        if (!payload.empty())
            throw Error("actions below 0x80 carry no payload");
        code_.u8(code);
        return *this;
    }
    SwfBuffer p;
    p.bytes(payload);
    record(code, p);
    return *this;
}

uint16_t ActionAssembler::frameIndex(uint16_t frame) {
    if (frame == 0)
        throw Error("frame numbers start at 1");
    return static_cast<uint16_t>(frame - 1);
}

template <class F>
ActionAssembler& ActionAssembler::atomically(F&& emit) {
    const size_t size = code_.size(), fixups = fixups_.size(), labels = labels_.size();
    try {
        emit();
    } catch (...) {
        code_.truncate(size);
        fixups_.resize(fixups);
        labels_.resize(labels);
        for (auto& l : labels_)
            if (l && *l > size)
                l.reset();
        throw;
    }
    return *this;
}

ActionAssembler& ActionAssembler::value(const Operand& operand) {
    return atomically([&]() -> ActionAssembler& {
        if (const auto* v = std::get_if<PushValue>(&operand))
            return push(*v);
        const auto& emit = std::get<Emitter>(operand);
        if (!emit)
            throw Error("empty value emitter");
        emit(*this);
        return *this;
    });
}

ActionAssembler& ActionAssembler::getPath(std::string_view dotted) {
    return atomically([&]() -> ActionAssembler& {
        const auto parts = splitPath(dotted);
        push(PushValue(parts[0]));
        getVariable();
        for (size_t i = 1; i < parts.size(); ++i) {
            push(PushValue(parts[i]));
            getMember();
        }
        return *this;
    });
}

ActionAssembler& ActionAssembler::setPath(std::string_view dotted, const Operand& v) {
    return atomically([&]() -> ActionAssembler& {
        const auto parts = splitPath(dotted);
        if (parts.size() == 1) {
            push(PushValue(parts[0]));
            value(v);
            return setVariable();
        }
        push(PushValue(parts[0]));
        getVariable();
        for (size_t i = 1; i + 1 < parts.size(); ++i) {
            push(PushValue(parts[i]));
            getMember();
        }
        push(PushValue(parts.back()));
        value(v);
        return setMember();
    });
}

ActionAssembler& ActionAssembler::fscommand(std::string_view command, std::string_view args) {
    return getUrl("FSCommand:" + std::string(command), args);
}

ActionAssembler& ActionAssembler::callFunction(std::string_view name, const std::vector<Operand>& args,
                                               bool keepResult) {
    return atomically([&]() -> ActionAssembler& {
        // Arguments go on the stack last-first, then their count, then the callee.
        for (auto it = args.rbegin(); it != args.rend(); ++it)
            value(*it);
        push({PushValue(static_cast<int32_t>(args.size())), PushValue(name)});
        callFunction();
        if (!keepResult)
            pop();
        return *this;
    });
}

ActionAssembler& ActionAssembler::callMethod(std::string_view objectPath, std::string_view method,
                                             const std::vector<Operand>& args, bool keepResult) {
    return atomically([&]() -> ActionAssembler& {
        for (auto it = args.rbegin(); it != args.rend(); ++it)
            value(*it);
        push(PushValue(static_cast<int32_t>(args.size())));
        getPath(objectPath);
        push(PushValue(method));
        callMethod();
        if (!keepResult)
            pop();
        return *this;
    });
}

ActionAssembler& ActionAssembler::externalCall(std::string_view name, const std::vector<Operand>& args,
                                               bool keepResult) {
    std::vector<Operand> all;
    all.reserve(args.size() + 1);
    all.emplace_back(PushValue(name));
    all.insert(all.end(), args.begin(), args.end());
    return callMethod("flash.external.ExternalInterface", "call", all, keepResult);
}

ActionAssembler& ActionAssembler::addCallback(std::string_view name, const Operand& instance, const Operand& method) {
    return callMethod("flash.external.ExternalInterface", "addCallback",
                      {Operand(PushValue(name)), instance, method}, false);
}

std::vector<uint8_t> ActionAssembler::assemble() const {
    std::vector<uint8_t> out = code_.data();
    for (const auto& f : fixups_) {
        const auto& target = labels_[f.label];
        if (!target)
            throw Error("branch to a label that was never bound");
        // Branch offsets count from the end of the branch action.
        const int64_t offset = static_cast<int64_t>(*target) - static_cast<int64_t>(f.at + 2);
        if (offset < -32768 || offset > 32767)
            throw Error("branch offset " + std::to_string(offset) + " out of range");
        const uint16_t raw = static_cast<uint16_t>(static_cast<int16_t>(offset));
        out[f.at] = static_cast<uint8_t>(raw);
        out[f.at + 1] = static_cast<uint8_t>(raw >> 8);
    }
    return out;
}

}  // namespace refplayer::swfwriter
