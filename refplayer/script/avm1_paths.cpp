// Clips and target paths: a clip's properties and members by name, slash and
// dot paths, _levelN, and the variables a frame sees through its scope chain.
#include <cmath>
#include <limits>
#include <new>

#include "avm1_internal.h"
#include "eixml.h"
#include "int_conv.h"

namespace refplayer::avm1 {

namespace {
constexpr int kMaxClipNesting = 1000;

bool levelNumber(std::string_view name, bool caseSensitive, int& level) {
    if (name.size() <= 6 || name.size() > 12) return false;
    std::string_view head = name.substr(0, 6);
    if (caseSensitive ? head != "_level" : !equalsIgnoreCase(head, "_level")) return false;
    int n = 0;
    for (char c : name.substr(6)) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
        if (n > 1'000'000) return false;
    }
    level = n;
    return true;
}

bool nameIs(std::string_view name, std::string_view word, bool caseSensitive) {
    return caseSensitive ? name == word : equalsIgnoreCase(name, word);
}
}  // namespace

// --- clips and paths -------------------------------------------------------------------

std::string Vm::State::targetPath(Clip& c) {
    std::vector<std::string> names;
    Clip* p = &c;
    for (int depth = 0; p->parent() && depth < kMaxClipNesting; ++depth) {
        names.push_back(p->name());
        p = p->parent();
    }
    std::string path = "_level" + std::to_string(p->level());
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += "." + *it;
    return path;
}

std::string Vm::State::slashPath(Clip& c) {
    std::vector<std::string> names;
    Clip* p = &c;
    for (int depth = 0; p->parent() && depth < kMaxClipNesting; ++depth) {
        names.push_back(p->name());
        p = p->parent();
    }
    std::string path = p->level() == 0 ? "" : "_level" + std::to_string(p->level());
    if (names.empty()) return path.empty() ? "/" : path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += "/" + *it;
    return path;
}

Clip* Vm::State::rootOf(Clip* c) {
    for (int depth = 0; c && c->parent() && depth < kMaxClipNesting; ++depth) c = c->parent();
    return c;
}

Value Vm::State::clipValue(Clip& c) { return Value::clip(Str(targetPath(c))); }

Clip* Vm::State::resolveClipPath(std::string_view path) {
    size_t dot = path.find('.');
    int level;
    if (!levelNumber(path.substr(0, dot), true, level)) return nullptr;
    Clip* c = host.level(level);
    while (c && dot != std::string_view::npos) {
        path.remove_prefix(dot + 1);
        dot = path.find('.');
        c = c->childByName(path.substr(0, dot), true);
    }
    return c;
}

Clip* Vm::State::resolveClip(const Value& v) { return v.isClip() ? resolveClipPath(v.stringValue().view()) : nullptr; }

Value Vm::State::getClipProperty(Clip& c, ClipProperty p) {
    switch (p) {
    case ClipProperty::CurrentFrame: return Value::number(c.currentFrame() + 1);
    case ClipProperty::TotalFrames:
    case ClipProperty::FramesLoaded: return Value::number(c.totalFrames());
    case ClipProperty::Target: return str(slashPath(c));
    case ClipProperty::Name: return str(c.name());
    case ClipProperty::HighQuality: return Value::number(highQuality);
    case ClipProperty::FocusRect: return focusRect;
    case ClipProperty::SoundBufTime: return Value::number(soundBufTime);
    case ClipProperty::Quality: return str(quality);
    default: break;
    }
    const PropertyValue answer = c.getProperty(p);
    if (const double* n = std::get_if<double>(&answer)) return Value::number(*n);
    if (const bool* b = std::get_if<bool>(&answer)) return version() >= 5 ? Value::boolean(*b) : Value::number(*b ? 1 : 0);
    if (const std::string* t = std::get_if<std::string>(&answer)) return str(*t);
    return {};
}

void Vm::State::setClipProperty(Clip& c, ClipProperty p, const Value& v) {
    switch (p) {
    case ClipProperty::X: case ClipProperty::Y: case ClipProperty::XScale: case ClipProperty::YScale:
    case ClipProperty::Alpha: case ClipProperty::Width: case ClipProperty::Height: case ClipProperty::Rotation: {
        const double n = toNumber(v);
        if (std::isfinite(n)) c.setProperty(p, n);
        return;
    }
    case ClipProperty::Visible:
        c.setProperty(p, v.isNumber() || v.isBoolean() ? toNumber(v) != 0 : toBoolean(v));
        return;
    case ClipProperty::Name: c.setProperty(p, toString(v)); return;
    case ClipProperty::HighQuality: {
        const double n = toNumber(v);
        if (std::isfinite(n)) highQuality = n;
        return;
    }
    case ClipProperty::SoundBufTime: {
        const double n = toNumber(v);
        if (std::isfinite(n)) soundBufTime = n;
        return;
    }
    case ClipProperty::FocusRect: focusRect = v; return;
    case ClipProperty::Quality: quality = toString(v); return;
    default: return;  // read-only
    }
}

bool Vm::State::clipMember(Clip& c, const Value& self, std::string_view key, Value& out) {
    const bool cs = caseSensitive();
    if (!key.empty() && key[0] == '_') {
        if (auto p = clipPropertyByName(key)) {
            out = getClipProperty(c, *p);
            return true;
        }
        if (nameIs(key, "_parent", cs)) {
            Clip* parent = c.parent();
            out = parent ? clipValue(*parent) : Value();
            return true;
        }
        if (nameIs(key, "_root", cs)) {
            out = clipValue(*rootOf(&c));
            return true;
        }
    }
    if (Clip* child = c.childByName(key, cs)) {
        out = clipValue(*child);
        return true;
    }
    if (TextField* field = c.textFieldByName(key, cs)) {
        out = Value::object(field->scriptObject());
        return true;
    }
    if (Object* video = c.videoByName(key, cs)) {
        out = Value::object(video);
        return true;
    }
    if (Object* vars = c.variables()) {
        if (Property* p = findProperty(vars, key)) {
            out = readProperty(self, p);
            return true;
        }
    }
    return false;
}

void Vm::State::setClipMember(Clip& c, const Value& self, std::string_view key, const Value& value) {
    if (!key.empty() && key[0] == '_') {
        if (auto p = clipPropertyByName(key)) {
            setClipProperty(c, *p, value);
            return;
        }
    }
    if (Object* vars = c.variables()) setObjectMember(*this, vars, self, key, value);
}

namespace {
// Splits a target path into names: '/' and '.' separate them and ".." names
// the parent in slash syntax. `absolute` is set for a leading '/'.
std::vector<std::string_view> splitPath(std::string_view path, bool& absolute) {
    std::vector<std::string_view> names;
    size_t i = 0;
    absolute = !path.empty() && path[0] == '/';
    if (absolute) i = 1;
    while (i < path.size()) {
        size_t j = i;
        if (path.compare(i, 2, "..") == 0 && (i + 2 == path.size() || path[i + 2] == '/')) {
            j = i + 2;
        } else {
            while (j < path.size() && path[j] != '/' && path[j] != '.') ++j;
        }
        if (j > i) names.push_back(path.substr(i, j - i));
        i = j < path.size() ? j + 1 : j;
    }
    return names;
}
}  // namespace

bool Vm::State::lookupName(Frame& f, std::string_view name, Value& out) {
    const bool cs = f.caseSensitive();
    if (!name.empty() && (name[0] == '_' || name[0] == 't' || name[0] == 'T' || name[0] == 's' || name[0] == 'S')) {
        if (nameIs(name, "this", cs)) {
            out = f.thisValue;
            return true;
        }
        if (nameIs(name, "_global", cs)) {
            out = Value::object(global);
            return true;
        }
        if (nameIs(name, "_root", cs)) {
            Clip* root = rootOf(resolveClip(f.target));
            if (!root) root = host.level(0);
            out = root ? clipValue(*root) : Value();
            return true;
        }
        if (nameIs(name, "_parent", cs)) {
            Clip* c = resolveClip(f.target);
            Clip* parent = c ? c->parent() : nullptr;
            out = parent ? clipValue(*parent) : Value();
            return true;
        }
        if (nameIs(name, "super", cs)) {
            out = superFor(f);
            return true;
        }
        int level;
        if (levelNumber(name, cs, level)) {
            Clip* c = host.level(level);
            out = c ? clipValue(*c) : Value();
            return true;
        }
    }
    for (size_t i = f.scope.size(); i-- > 0;) {
        const Value& entry = f.scope[i];
        if (Object* o = entry.objectValue()) {
            if (Property* p = findProperty(o, name)) {
                out = readProperty(entry, p);
                return true;
            }
        } else if (Clip* c = resolveClip(entry)) {
            if (clipMember(*c, entry, name, out)) return true;
        }
    }
    if (Clip* c = resolveClip(f.target))
        if (clipMember(*c, f.target, name, out)) return true;
    if (Property* p = findProperty(global, name)) {
        out = readProperty(Value::object(global), p);
        return true;
    }
    return false;
}

Value Vm::State::resolvePath(Frame& f, std::string_view path) {
    if (path.empty()) return f.target;
    bool absolute = false;
    const std::vector<std::string_view> names = splitPath(path, absolute);
    const bool slash = path.find('/') != std::string_view::npos;
    Value current;
    size_t i = 0;
    if (absolute) {
        Clip* root = rootOf(resolveClip(f.target));
        if (!root) root = host.level(0);
        if (!root) return {};
        current = clipValue(*root);
    } else if (!names.empty()) {
        if (names[0] == "..") {
            Clip* c = resolveClip(f.target);
            Clip* parent = c ? c->parent() : nullptr;
            if (!parent) return {};
            current = clipValue(*parent);
        } else if (slash && !nameIs(names[0], "this", f.caseSensitive()) && names[0][0] != '_') {
            // Slash syntax names children of the target.
            current = getMember(f.target, names[0]);
        } else if (!lookupName(f, names[0], current)) {
            return {};
        }
        i = 1;
    }
    for (; i < names.size(); ++i) {
        charge(1);
        if (current.isNullish()) return {};
        if (names[i] == "..") {
            Clip* c = resolveClip(current);
            Clip* parent = c ? c->parent() : nullptr;
            if (!parent) return {};
            current = clipValue(*parent);
        } else {
            current = getMember(current, names[i]);
        }
    }
    return current;
}

Value Vm::State::getVariable(Frame& f, std::string_view name) {
    if (const size_t colon = name.rfind(':'); colon != std::string_view::npos) {
        const Value owner = colon == 0 ? f.target : resolvePath(f, name.substr(0, colon));
        return getMember(owner, name.substr(colon + 1));
    }
    if (name.find_first_of("./") != std::string_view::npos && name != "." && name != "..")
        return resolvePath(f, name);
    Value out;
    lookupName(f, name, out);
    return out;
}

void Vm::State::setVariable(Frame& f, std::string_view name, const Value& value) {
    size_t split = name.rfind(':');
    if (split == std::string_view::npos) split = name.find_last_of("./");
    if (split != std::string_view::npos) {
        const Value owner = split == 0 ? (name[0] == '/' ? resolvePath(f, "/") : f.target)
                                       : resolvePath(f, name.substr(0, split));
        setMember(owner, name.substr(split + 1), value);
        return;
    }
    for (size_t i = f.scope.size(); i-- > 0;) {
        const Value entry = f.scope[i];
        if (Object* o = entry.objectValue()) {
            if (findProperty(o, name)) {
                setMember(entry, name, value);
                return;
            }
        } else if (Clip* c = resolveClip(entry)) {
            Object* vars = c->variables();
            if (vars && findProperty(vars, name)) {
                setClipMember(*c, entry, name, value);
                return;
            }
        }
    }
    if (Clip* c = resolveClip(f.target)) setClipMember(*c, f.target, name, value);
}

bool Vm::State::deleteVariable(Frame& f, std::string_view name) {
    const bool cs = f.caseSensitive();
    for (size_t i = f.scope.size(); i-- > 0;) {
        if (Object* o = f.scope[i].objectValue(); o && o->findOwn(name, cs)) return deleteMember(f.scope[i], name);
    }
    if (Clip* c = resolveClip(f.target)) {
        Object* vars = c->variables();
        if (vars && vars->findOwn(name, cs)) return deleteMember(f.target, name);
    }
    if (global->findOwn(name, cs)) return deleteMember(Value::object(global), name);
    return false;
}

void Vm::State::defineLocal(Frame& f, std::string_view name, const Value& value) {
    if (f.activation) {
        chargeBytes(name.size() + sizeof(Property));
        f.activation->setOwn(name, value, 0, f.caseSensitive());
        return;
    }
    if (name.find_first_of(":./") != std::string_view::npos) {
        setVariable(f, name, value);
        return;
    }
    if (Clip* c = resolveClip(f.target)) setClipMember(*c, f.target, name, value);
}

Value Vm::State::superFor(Frame& f) {
    if (!f.home) return {};
    return Value::object(newSuper(f.thisValue, f.home));
}

std::string Vm::State::encodeVariables(const Value& clip) {
    std::string out;
    Clip* c = resolveClip(clip);
    Object* vars = c ? c->variables() : clip.objectValue();
    if (!vars) return out;
    vars->forEachOwn([&](std::string_view key, const Property& p) {
        if ((p.flags & kDontEnum) || p.isAccessor() || !p.value.isPrimitive()) return;
        charge(1);
        if (!out.empty()) out += '&';
        out += urlEscape(key);
        out += '=';
        out += urlEscape(toString(p.value));
        checkStringSize(out.size());
    });
    return out;
}

LoadTarget Vm::State::loadTarget(Frame& f, const Value& target) {
    LoadTarget t;
    if (Clip* c = resolveClip(target)) {
        if (!c->parent()) t.level = c->level();
        else t.clip = c, t.path = targetPath(*c);
        return t;
    }
    const std::string text = toString(target);
    int level;
    if (levelNumber(text, f.caseSensitive(), level)) {
        t.level = level;
        return t;
    }
    const Value v = resolvePath(f, text);
    if (Clip* c = resolveClip(v)) {
        if (!c->parent()) {
            t.level = c->level();
        } else {
            t.clip = c;
            t.path = targetPath(*c);
        }
    }
    return t;
}

}  // namespace refplayer::avm1
