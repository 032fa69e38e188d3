#include "movie_names.h"

#include "swfwriter/swf_writer.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>

namespace enginetest {

namespace {

struct Reader {
    std::span<const uint8_t> b;
    size_t pos = 0;
    bool ok(size_t n) const { return pos + n <= b.size(); }
    uint8_t u8() { if (!ok(1)) throw std::runtime_error("truncated"); return b[pos++]; }
    uint16_t u16() { uint16_t v = u8(); return static_cast<uint16_t>(v | u8() << 8); }
    uint32_t u32() { uint32_t v = u16(); return v | static_cast<uint32_t>(u16()) << 16; }
    std::string str()
    {
        std::string s;
        for (uint8_t c; (c = u8()) != 0;)
            s += static_cast<char>(c);
        return s;
    }
    void skip(size_t n) { if (!ok(n)) throw std::runtime_error("truncated"); pos += n; }
};

// What the walk knows of one operand stack entry.
struct Entry {
    enum Kind { Text, Number, Built, Unknown } kind = Unknown;
    std::string text;
    double number = 0;
};

class Walk {
public:
    Walk(MovieNames& out, std::string where) : out_(out), where_(std::move(where)) {}

    void run(std::span<const uint8_t> code)
    {
        Reader r{code};
        while (r.ok(1)) {
            while (!functions_.empty() && r.pos >= functions_.back().end) {
                stack_ = std::move(functions_.back().saved);
                if (functions_.back().anonymous)
                    push(Entry{});
                functions_.pop_back();
            }
            const size_t at = r.pos;
            const uint8_t op = r.u8();
            if (op == 0)
                break;
            uint16_t len = 0;
            if (op >= 0x80)
                len = r.u16();
            if (!r.ok(len))
                throw std::runtime_error("action runs past its block");
            Reader rec{code.subspan(r.pos, len)};
            r.pos += len;
            action(op, rec, at, r.pos);
        }
    }

private:
    void push(Entry e) { stack_.push_back(std::move(e)); }
    Entry pop()
    {
        if (stack_.empty())
            return Entry{};
        Entry e = std::move(stack_.back());
        stack_.pop_back();
        return e;
    }
    void drop(size_t n) { for (size_t i = 0; i < n; ++i) pop(); }
    std::optional<size_t> count()
    {
        Entry n = pop();
        if (n.kind != Entry::Number || n.number < 0 || n.number > 65535)
            return std::nullopt;
        return static_cast<size_t>(n.number);
    }
    // The stack is beyond knowing from here: everything below reads as unknown.
    void lost() { stack_.clear(); }

    void usedName(const Entry& e, uint8_t op)
    {
        if (e.kind == Entry::Text) {
            addPath(e.text, out_.used);
        } else if (e.kind != Entry::Number) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "action 0x%02X in %s", op, where_.c_str());
            out_.built.push_back(buf);
        }
    }
    static void addPath(const std::string& path, std::set<std::string>& to)
    {
        // "a.b", "/a/b:c", "_root.x": each part is a name.
        std::string part;
        for (char c : path + ".") {
            if (c == '.' || c == '/' || c == ':') {
                if (!part.empty() && part != "..")
                    to.insert(part);
                part.clear();
            } else {
                part += c;
            }
        }
    }
    void defined(const Entry& e)
    {
        if (e.kind == Entry::Text)
            addPath(e.text, out_.defined);
    }
    // Call arguments, first argument first.
    std::vector<Entry> args(std::optional<size_t> n)
    {
        std::vector<Entry> a;
        if (!n) {
            lost();
            return a;
        }
        for (size_t i = 0; i < *n; ++i)
            a.push_back(pop());
        return a;
    }
    void linkageArg(const std::vector<Entry>& a, uint8_t op)
    {
        if (a.empty())
            return;
        if (a[0].kind == Entry::Text)
            out_.linkages.insert(a[0].text);
        else
            usedName(a[0], op);  // a symbol named at run time
    }

    void action(uint8_t op, Reader& rec, size_t at, size_t next)
    {
        (void)at;
        switch (op) {
        // Binary operators leave one value; concatenations build text.
        case 0x0A: case 0x47: case 0x21: {
            Entry b = pop(), a = pop();
            const bool text = op == 0x21 || a.kind == Entry::Text || b.kind == Entry::Text ||
                              a.kind == Entry::Built || b.kind == Entry::Built || a.kind == Entry::Unknown ||
                              b.kind == Entry::Unknown;
            push(Entry{text ? Entry::Built : Entry::Number, {}, 0});
            return;
        }
        case 0x0B: case 0x0C: case 0x0D: case 0x0E: case 0x0F: case 0x10: case 0x11: case 0x13: case 0x29:
        case 0x2B: case 0x3F: case 0x48: case 0x49: case 0x60: case 0x61: case 0x62: case 0x63: case 0x64:
        case 0x65: case 0x66: case 0x67: case 0x68: case 0x54:
            drop(2);
            push(Entry{});
            return;
        case 0x12: case 0x14: case 0x18: case 0x30: case 0x31: case 0x32: case 0x33: case 0x36: case 0x37:
        case 0x44: case 0x45: case 0x4A: case 0x4B: case 0x50: case 0x51:
            drop(1);
            push(Entry{});
            return;
        case 0x15: case 0x35:
            drop(3);
            push(Entry{});
            return;
        case 0x34:
            push(Entry{});
            return;
        case 0x17: case 0x20: case 0x25: case 0x26: case 0x2A: case 0x3E: case 0x9D: case 0x9F: case 0x8D:
            drop(1);
            return;
        case 0x9A:
            drop(2);
            return;
        case 0x94:  // with: the object is popped; the body follows inline
            drop(1);
            return;
        case 0x22:
            drop(2);
            push(Entry{});
            return;
        case 0x23: case 0x24:
            drop(3);
            return;
        case 0x4C: {
            Entry e = pop();
            push(e);
            push(e);
            return;
        }
        case 0x4D: {
            Entry a = pop(), b = pop();
            push(a);
            push(b);
            return;
        }
        case 0x1C: {  // GetVariable
            usedName(pop(), op);
            push(Entry{});
            return;
        }
        case 0x1D: {  // SetVariable
            pop();
            Entry name = pop();
            usedName(name, op);
            defined(name);
            return;
        }
        case 0x3C: {  // DefineLocal
            pop();
            Entry name = pop();
            usedName(name, op);
            defined(name);
            return;
        }
        case 0x41: {  // DefineLocal2
            Entry name = pop();
            usedName(name, op);
            defined(name);
            return;
        }
        case 0x3A: {  // Delete
            usedName(pop(), op);
            pop();
            push(Entry{});
            return;
        }
        case 0x3B:
            usedName(pop(), op);
            push(Entry{});
            return;
        case 0x4E: {  // GetMember
            Entry name = pop();
            pop();
            if (name.kind != Entry::Number)
                usedName(name, op);
            push(Entry{});
            return;
        }
        case 0x4F: {  // SetMember
            pop();
            Entry name = pop();
            pop();
            if (name.kind != Entry::Number) {
                usedName(name, op);
                defined(name);
            }
            return;
        }
        case 0x3D: case 0x40: {  // CallFunction, NewObject
            Entry name = pop();
            usedName(name, op);
            args(count());
            push(Entry{});
            return;
        }
        case 0x52: case 0x53: {  // CallMethod, NewMethod
            Entry name = pop();
            pop();
            // An empty method name calls the object itself.
            if (!(name.kind == Entry::Text && name.text.empty()))
                usedName(name, op);
            std::vector<Entry> a = args(count());
            if (name.kind == Entry::Text && (name.text == "attachMovie" || name.text == "registerClass"))
                linkageArg(a, op);
            // Members and clips the movie makes are its own.
            if (name.kind == Entry::Text && (name.text == "addProperty" || name.text == "createEmptyMovieClip") &&
                !a.empty())
                defined(a[0]);
            if (name.kind == Entry::Text && name.text == "attachMovie" && a.size() >= 2)
                defined(a[1]);
            push(Entry{});
            return;
        }
        case 0x42: {  // InitArray
            args(count());
            push(Entry{});
            return;
        }
        case 0x43: {  // InitObject: its member names are the movie's own
            std::optional<size_t> n = count();
            if (!n) {
                lost();
            } else {
                for (size_t i = 0; i < *n; ++i) {
                    pop();
                    defined(pop());
                }
            }
            push(Entry{});
            return;
        }
        case 0x46: case 0x55:  // Enumerate: as many values as the object has members
            lost();
            return;
        case 0x27: case 0x2C:  // StartDrag, ImplementsOp: counts known only at run time
            lost();
            return;
        case 0x87: case 0x81: case 0x83: case 0x8B: case 0x8C: case 0x99: case 0x8A:
            return;
        case 0x88: {  // ConstantPool
            pool_.clear();
            uint16_t n = rec.u16();
            for (uint16_t i = 0; i < n; ++i)
                pool_.push_back(rec.str());
            return;
        }
        case 0x96:  // Push
            while (rec.ok(1)) {
                switch (rec.u8()) {
                case 0: push(Entry{Entry::Text, rec.str()}); break;
                case 1: rec.skip(4); push(Entry{Entry::Number, {}, 0}); break;
                case 2: case 3: push(Entry{Entry::Number, {}, 0}); break;  // null, undefined: no names
                case 4: rec.skip(1); push(Entry{}); break;
                case 5: rec.skip(1); push(Entry{Entry::Number, {}, 0}); break;
                case 6: {
                    uint64_t bits = 0;
                    // Stored as two little-endian halves, high half first.
                    uint64_t hi = rec.u32(), lo = rec.u32();
                    bits = hi << 32 | lo;
                    double d;
                    std::memcpy(&d, &bits, sizeof d);
                    push(Entry{Entry::Number, {}, d});
                    break;
                }
                case 7: push(Entry{Entry::Number, {}, static_cast<double>(static_cast<int32_t>(rec.u32()))}); break;
                case 8: poolEntry(rec.u8()); break;
                case 9: poolEntry(rec.u16()); break;
                default: throw std::runtime_error("unknown push type");
                }
            }
            return;
        case 0x9B: {  // DefineFunction
            const std::string name = rec.str();
            const uint16_t n = rec.u16();
            std::vector<std::string> params;
            for (uint16_t i = 0; i < n; ++i)
                params.push_back(rec.str());
            function(name, params, rec.u16(), next);
            return;
        }
        case 0x8E: {  // DefineFunction2
            const std::string name = rec.str();
            const uint16_t n = rec.u16();
            rec.skip(3);
            std::vector<std::string> params;
            for (uint16_t i = 0; i < n; ++i) {
                rec.skip(1);
                params.push_back(rec.str());
            }
            function(name, params, rec.u16(), next);
            return;
        }
        case 0x8F: {  // Try: a catch variable is the movie's own
            const uint8_t flags = rec.u8();
            rec.skip(6);
            if (!(flags & 4))
                out_.defined.insert(rec.str());
            return;
        }
        default:
            if (op < 0x0A)
                return;  // the timeline actions take nothing from the stack
            out_.errors.push_back("unknown action in " + where_);
            lost();
            return;
        }
    }

    void poolEntry(size_t i)
    {
        if (i < pool_.size())
            push(Entry{Entry::Text, pool_[i]});
        else
            push(Entry{});
    }

    void function(const std::string& name, const std::vector<std::string>& params, uint16_t size, size_t bodyStart)
    {
        if (!name.empty())
            out_.defined.insert(name);
        for (const std::string& p : params)
            out_.defined.insert(p);
        functions_.push_back(Function{bodyStart + size, std::move(stack_), name.empty()});
        stack_.clear();
    }

    struct Function {
        size_t end;
        std::vector<Entry> saved;
        bool anonymous;
    };
    MovieNames& out_;
    std::string where_;
    std::vector<Entry> stack_;
    std::vector<std::string> pool_;
    std::vector<Function> functions_;
};

// Bit fields, most significant bit first, from the reader's position; the
// reader moves to the next whole byte after them.
struct Bits {
    Reader& r;
    uint8_t byte = 0;
    int left = 0;
    uint32_t ub(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (left == 0) {
                byte = r.u8();
                left = 8;
            }
            v = v << 1 | ((byte >> --left) & 1);
        }
        return v;
    }
};

void skipMatrix(Reader& r)
{
    Bits b{r};
    if (b.ub(1)) {
        const int n = static_cast<int>(b.ub(5));
        b.ub(n);
        b.ub(n);
    }
    if (b.ub(1)) {
        const int n = static_cast<int>(b.ub(5));
        b.ub(n);
        b.ub(n);
    }
    const int n = static_cast<int>(b.ub(5));
    b.ub(n);
    b.ub(n);
}

void skipColorTransform(Reader& r)
{
    Bits b{r};
    const bool add = b.ub(1), mult = b.ub(1);
    const int n = static_cast<int>(b.ub(4));
    for (int i = 0; i < (add ? 4 : 0) + (mult ? 4 : 0); ++i)
        b.ub(n);
}

void tags(Reader& r, MovieNames& out, const std::string& where)
{
    while (r.ok(2)) {
        const uint16_t header = r.u16();
        const uint16_t code = header >> 6;
        uint32_t len = header & 0x3F;
        if (len == 0x3F)
            len = r.u32();
        if (!r.ok(len))
            throw std::runtime_error("tag runs past the file");
        const std::span<const uint8_t> body = r.b.subspan(r.pos, len);
        r.pos += len;
        if (code == 0)
            return;
        Reader b{body};
        switch (code) {
        case 12:
            actionNames(body, out, where + " frame actions");
            break;
        case 59:
            b.u16();
            actionNames(body.subspan(2), out, where + " init actions");
            break;
        case 39: {
            const uint16_t id = b.u16();
            b.u16();
            tags(b, out, where + " sprite " + std::to_string(id));
            break;
        }
        case 56: {
            const uint16_t n = b.u16();
            for (uint16_t i = 0; i < n; ++i) {
                b.u16();
                std::string name = b.str();
                out.exports.insert(name);
                out.defined.insert(name);
            }
            break;
        }
        case 26: case 70: {  // PlaceObject2/3: the instance name is the movie's own
            const uint8_t flags = b.u8();
            const uint8_t flags2 = code == 70 ? b.u8() : 0;
            if (flags & 0x80 || flags2 & 0x07) {
                out.errors.push_back(where + ": placements with clip actions or classes are not read");
                break;
            }
            if (!(flags & 0x20))
                break;
            // Skip depth, character, matrix and colour transform to reach the name.
            b.u16();
            if (flags & 0x02)
                b.u16();
            if (flags & 0x04)
                skipMatrix(b);
            if (flags & 0x08)
                skipColorTransform(b);
            if (flags & 0x10)
                b.u16();
            out.defined.insert(b.str());
            break;
        }
        case 34: case 7:
            out.errors.push_back(where + ": button actions are not read");
            break;
        default:
            break;
        }
    }
}

}  // namespace

void actionNames(std::span<const uint8_t> actions, MovieNames& out, const std::string& where)
{
    try {
        Walk(out, where).run(actions);
    } catch (const std::exception& e) {
        out.errors.push_back(where + ": " + e.what());
    }
}

MovieNames movieNames(std::span<const uint8_t> swf)
{
    MovieNames out;
    try {
        std::vector<uint8_t> plain = swf.size() >= 3 && swf[0] == 'C' ? refplayer::swfwriter::decompressSwf(swf)
                                                                      : std::vector<uint8_t>(swf.begin(), swf.end());
        Reader r{plain};
        r.skip(8);
        const uint8_t nbits = r.u8() >> 3;
        r.pos += (5 + 4 * nbits + 7) / 8 - 1;
        r.skip(4);  // frame rate, frame count
        tags(r, out, "movie");
    } catch (const std::exception& e) {
        out.errors.push_back(std::string("movie: ") + e.what());
    }
    return out;
}

}  // namespace enginetest
