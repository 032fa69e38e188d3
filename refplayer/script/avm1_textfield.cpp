// TextField: the fields the timeline places and those MovieClip.createTextField
// makes, as one script object per field whose members read and write the
// engine's field through avm1::TextField. The object outlives its field only
// as a husk: once the engine unlinks it every member reads undefined and
// every assignment is dropped.
#include <cmath>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

struct TextFieldLink : NativeData {
    explicit TextFieldLink(TextField* f) : field(f) {}
    TextField* field;
};

TextField* self(NativeCall& c) { return textFieldOf(c.thisValue); }

// --- settings ------------------------------------------------------------------------

template <bool TextFieldSettings::*Member>
Value getFlag(State&, NativeCall& c) {
    TextField* f = self(c);
    return f ? Value::boolean(f->settings().*Member) : Value();
}
template <bool TextFieldSettings::*Member>
Value setFlag(State& s, NativeCall& c) {
    const bool on = s.toBoolean(c.arg(0));
    if (TextField* f = self(c)) {
        TextFieldSettings settings = f->settings();
        if (settings.*Member == on) return {};
        settings.*Member = on;
        f->setSettings(settings);
    }
    return {};
}

template <uint32_t TextFieldSettings::*Member>
Value getColor(State&, NativeCall& c) {
    TextField* f = self(c);
    return f ? Value::number(f->settings().*Member) : Value();
}
template <uint32_t TextFieldSettings::*Member>
Value setColor(State& s, NativeCall& c) {
    const double n = s.toNumber(c.arg(0));
    if (!std::isfinite(n)) return {};
    const uint32_t rgb = static_cast<uint32_t>(s.toInt32(c.arg(0))) & 0xFFFFFFu;
    if (TextField* f = self(c)) {
        TextFieldSettings settings = f->settings();
        settings.*Member = rgb;
        f->setSettings(settings);
    }
    return {};
}

Value getAutoSize(State& s, NativeCall& c) {
    TextField* f = self(c);
    return f ? s.str(f->settings().autoSize) : Value();
}
Value setAutoSize(State& s, NativeCall& c) {
    // true and false stand for "left" and "none"; other texts are ignored.
    const Value& v = c.arg(0);
    std::string mode;
    if (v.isBoolean()) {
        mode = v.boolValue() ? "left" : "none";
    } else {
        const std::string asked = lowerAscii(s.toString(v));
        for (std::string_view known : {"none", "left", "center", "right"})
            if (asked == known) mode = asked;
        if (mode.empty()) return {};
    }
    if (TextField* f = self(c)) {
        TextFieldSettings settings = f->settings();
        settings.autoSize = mode;
        f->setSettings(settings);
    }
    return {};
}

Value getType(State& s, NativeCall& c) {
    TextField* f = self(c);
    if (!f) return {};
    return s.str(f->settings().input ? "input" : "dynamic");
}
Value setType(State& s, NativeCall& c) {
    const std::string asked = lowerAscii(s.toString(c.arg(0)));
    if (asked != "input" && asked != "dynamic") return {};
    if (TextField* f = self(c)) {
        TextFieldSettings settings = f->settings();
        settings.input = asked == "input";
        f->setSettings(settings);
    }
    return {};
}

Value getRestrict(State& s, NativeCall& c) {
    TextField* f = self(c);
    if (!f) return {};
    const TextFieldSettings settings = f->settings();
    return settings.restrict ? s.str(*settings.restrict) : Value::null();
}
Value setRestrict(State& s, NativeCall& c) {
    // null (or undefined) lets anything be typed; "" lets nothing be.
    std::optional<std::string> restrict;
    if (!c.arg(0).isNullish()) restrict = s.toString(c.arg(0));
    if (TextField* f = self(c)) {
        TextFieldSettings settings = f->settings();
        settings.restrict = std::move(restrict);
        f->setSettings(settings);
    }
    return {};
}

Value getMaxChars(State&, NativeCall& c) {
    TextField* f = self(c);
    if (!f) return {};
    const int max = f->settings().maxChars;
    return max > 0 ? Value::number(max) : Value::null();
}
Value setMaxChars(State& s, NativeCall& c) {
    const double n = s.toNumber(c.arg(0));
    const int max = std::isfinite(n) && n >= 1 ? static_cast<int>(std::min(n, 2147483647.0)) : 0;
    if (TextField* f = self(c)) {
        TextFieldSettings settings = f->settings();
        settings.maxChars = max;
        f->setSettings(settings);
    }
    return {};
}

Value getVariable(State& s, NativeCall& c) {
    TextField* f = self(c);
    if (!f) return {};
    const std::string variable = f->settings().variable;
    return variable.empty() ? Value::null() : s.str(variable);
}
Value setVariable(State& s, NativeCall& c) {
    const std::string variable = c.arg(0).isNullish() ? std::string() : s.toString(c.arg(0));
    if (TextField* f = self(c)) {
        TextFieldSettings settings = f->settings();
        settings.variable = variable;
        f->setSettings(settings);
    }
    return {};
}

// --- text --------------------------------------------------------------------------

Value getText(State& s, NativeCall& c) {
    TextField* f = self(c);
    return f ? s.str(f->contents(false)) : Value();
}
Value setText(State& s, NativeCall& c) {
    const std::string text = s.toString(c.arg(0));
    if (TextField* f = self(c)) f->setContents(text, false);
    return {};
}
Value getHtmlText(State& s, NativeCall& c) {
    TextField* f = self(c);
    return f ? s.str(f->contents(true)) : Value();
}
Value setHtmlText(State& s, NativeCall& c) {
    const std::string text = s.toString(c.arg(0));
    if (TextField* f = self(c)) f->setContents(text, true);
    return {};
}
Value getLength(State&, NativeCall& c) {
    TextField* f = self(c);
    return f ? Value::number(static_cast<double>(decodeUtf8(f->contents(false)).size())) : Value();
}

Value getTextWidth(State&, NativeCall& c) {
    TextField* f = self(c);
    return f ? Value::number(f->metrics().textWidth) : Value();
}
Value getTextHeight(State&, NativeCall& c) {
    TextField* f = self(c);
    return f ? Value::number(f->metrics().textHeight) : Value();
}

// --- scrolling -----------------------------------------------------------------------

int maxScroll(const TextFieldMetrics& m) { return std::max(1, m.lines - m.visibleLines + 1); }

Value getScroll(State&, NativeCall& c) {
    TextField* f = self(c);
    return f ? Value::number(f->scroll()) : Value();
}
Value setScroll(State& s, NativeCall& c) {
    const double n = s.toNumber(c.arg(0));
    if (!std::isfinite(n)) return {};
    if (TextField* f = self(c)) f->setScroll(static_cast<int>(std::clamp(n, 1.0, 1e9)));
    return {};
}
Value getMaxScroll(State&, NativeCall& c) {
    TextField* f = self(c);
    return f ? Value::number(maxScroll(f->metrics())) : Value();
}
Value getBottomScroll(State&, NativeCall& c) {
    TextField* f = self(c);
    if (!f) return {};
    const TextFieldMetrics m = f->metrics();
    return Value::number(std::min(m.lines, f->scroll() + m.visibleLines - 1));
}

// --- clip-like properties ----------------------------------------------------------

template <ClipProperty P>
Value getPlacement(State& s, NativeCall& c) {
    TextField* f = self(c);
    if (!f) return {};
    const PropertyValue answer = f->getProperty(P);
    if (const double* n = std::get_if<double>(&answer)) return Value::number(*n);
    if (const bool* b = std::get_if<bool>(&answer)) return Value::boolean(*b);
    if (const std::string* t = std::get_if<std::string>(&answer)) return s.str(*t);
    return {};
}
template <ClipProperty P>
Value setPlacement(State& s, NativeCall& c) {
    if (P == ClipProperty::Visible) {
        const Value& v = c.arg(0);
        const bool on = v.isNumber() || v.isBoolean() ? s.toNumber(v) != 0 : s.toBoolean(v);
        if (TextField* f = self(c)) f->setProperty(P, on);
        return {};
    }
    const double n = s.toNumber(c.arg(0));
    if (!std::isfinite(n)) return {};
    if (TextField* f = self(c)) f->setProperty(P, n);
    return {};
}

Value getName(State& s, NativeCall& c) {
    TextField* f = self(c);
    return f ? s.str(f->name()) : Value();
}
Value setName(State& s, NativeCall& c) {
    const std::string name = s.toString(c.arg(0));
    if (TextField* f = self(c)) f->setName(name);
    return {};
}
Value getParent(State& s, NativeCall& c) {
    TextField* f = self(c);
    Clip* parent = f ? f->parent() : nullptr;
    return parent ? s.clipValue(*parent) : Value();
}
Value getTarget(State& s, NativeCall& c) {
    TextField* f = self(c);
    Clip* parent = f ? f->parent() : nullptr;
    if (!parent) return {};
    std::string path = s.slashPath(*parent);
    if (path.empty() || path.back() != '/') path += '/';
    return s.str(path + f->name());
}

// A field converts to its dot target path, as clips do.
Value fieldToString(State& s, NativeCall& c) {
    TextField* f = self(c);
    Clip* parent = f ? f->parent() : nullptr;
    if (!parent) return s.str("[object Object]");
    return s.str(s.targetPath(*parent) + "." + f->name());
}

Value removeTextField(State&, NativeCall& c) {
    if (TextField* f = self(c)) f->remove();
    return {};
}

// MovieClip.createTextField(name, depth, x, y, width, height): the new field.
Value createTextField(State& s, NativeCall& c) {
    const std::string name = s.toString(c.arg(0));
    double n[5];
    for (size_t i = 0; i < 5; ++i) {
        n[i] = s.toNumber(c.arg(i + 1));
        if (!std::isfinite(n[i])) return {};
    }
    if (std::fabs(n[0]) > 1048575) return {};
    // Sizes the player takes as they come, but no field is larger than the
    // coordinates twips can hold.
    for (size_t i = 1; i < 5; ++i) n[i] = std::clamp(n[i], -100000.0, 100000.0);
    Clip* clip = s.resolveClip(c.thisValue);
    if (!clip || name.empty()) return {};
    TextField* made = clip->createTextField(name, static_cast<int>(n[0]), n[1], n[2], std::max(0.0, n[3]),
                                            std::max(0.0, n[4]));
    return made ? Value::object(made->scriptObject()) : Value();
}

Value textFieldCtor(State&, NativeCall& c) { return c.thisValue; }

// Calls `event` on the field's own object, then on its other listeners.
void fieldEvent(State& s, TextField& field, std::string_view event, std::span<const Value> args) {
    Object* o = field.scriptObject();
    if (!o) return;
    const Value self = Value::object(o);
    const Value handler = s.getMember(self, event);
    if (Object* fn = handler.objectValue(); fn && fn->isFunction()) s.call(handler, self, args);
    // The field may have gone meanwhile; its listeners still hear of it.
    broadcast(s, o, event, args);
}

}  // namespace

TextField* textFieldOf(const Value& v) {
    Object* o = v.objectValue();
    auto* link = o ? dynamic_cast<TextFieldLink*>(o->nativeData()) : nullptr;
    return link && link->field && link->field->alive() ? link->field : nullptr;
}

void installTextField(State& s) {
    Object* p = defineClass(s, "TextField", [&s](NativeCall& c) { return textFieldCtor(s, c); });
    s.textFieldProto = p;
    using T = TextFieldSettings;
    accessor(s, p, "text", getText, setText);
    accessor(s, p, "htmlText", getHtmlText, setHtmlText);
    accessor(s, p, "html", getFlag<&T::html>, setFlag<&T::html>);
    accessor(s, p, "length", getLength);
    accessor(s, p, "autoSize", getAutoSize, setAutoSize);
    accessor(s, p, "wordWrap", getFlag<&T::wordWrap>, setFlag<&T::wordWrap>);
    accessor(s, p, "multiline", getFlag<&T::multiline>, setFlag<&T::multiline>);
    accessor(s, p, "password", getFlag<&T::password>, setFlag<&T::password>);
    accessor(s, p, "selectable", getFlag<&T::selectable>, setFlag<&T::selectable>);
    accessor(s, p, "border", getFlag<&T::border>, setFlag<&T::border>);
    accessor(s, p, "background", getFlag<&T::background>, setFlag<&T::background>);
    accessor(s, p, "textColor", getColor<&T::textColor>, setColor<&T::textColor>);
    accessor(s, p, "borderColor", getColor<&T::borderColor>, setColor<&T::borderColor>);
    accessor(s, p, "backgroundColor", getColor<&T::backgroundColor>, setColor<&T::backgroundColor>);
    accessor(s, p, "type", getType, setType);
    accessor(s, p, "restrict", getRestrict, setRestrict);
    accessor(s, p, "maxChars", getMaxChars, setMaxChars);
    accessor(s, p, "variable", getVariable, setVariable);
    accessor(s, p, "scroll", getScroll, setScroll);
    accessor(s, p, "maxscroll", getMaxScroll);
    accessor(s, p, "bottomScroll", getBottomScroll);
    accessor(s, p, "textWidth", getTextWidth);
    accessor(s, p, "textHeight", getTextHeight);
    using P = ClipProperty;
    accessor(s, p, "_x", getPlacement<P::X>, setPlacement<P::X>);
    accessor(s, p, "_y", getPlacement<P::Y>, setPlacement<P::Y>);
    accessor(s, p, "_xscale", getPlacement<P::XScale>, setPlacement<P::XScale>);
    accessor(s, p, "_yscale", getPlacement<P::YScale>, setPlacement<P::YScale>);
    accessor(s, p, "_width", getPlacement<P::Width>, setPlacement<P::Width>);
    accessor(s, p, "_height", getPlacement<P::Height>, setPlacement<P::Height>);
    accessor(s, p, "_rotation", getPlacement<P::Rotation>, setPlacement<P::Rotation>);
    accessor(s, p, "_alpha", getPlacement<P::Alpha>, setPlacement<P::Alpha>);
    accessor(s, p, "_visible", getPlacement<P::Visible>, setPlacement<P::Visible>);
    accessor(s, p, "_xmouse", getPlacement<P::XMouse>);
    accessor(s, p, "_ymouse", getPlacement<P::YMouse>);
    accessor(s, p, "_name", getName, setName);
    accessor(s, p, "_parent", getParent);
    accessor(s, p, "_target", getTarget);
    method(s, p, "removeTextField", removeTextField);
    method(s, p, "toString", fieldToString);
    method(s, s.movieClipProto, "createTextField", createTextField);
}

ObjectRef Vm::newTextFieldObject(TextField& field) {
    State& s = *state_;
    Object* o = s.heap->allocate(Object::Kind::Plain);
    o->setProto(s.textFieldProto);
    ObjectRef ref(s.heap, o);
    o->setNativeData(std::make_unique<TextFieldLink>(&field));
    // The field hears its own events through its listener list, as
    // AsBroadcaster's objects do.
    makeBroadcaster(s, o);
    return ref;
}

void Vm::unlinkTextField(Object* object) {
    if (!object) return;
    if (auto* link = dynamic_cast<TextFieldLink*>(object->nativeData())) link->field = nullptr;
}

void Vm::textFieldChanged(TextField& field) {
    State& s = *state_;
    // The field's object is pinned by the field, so collecting first is safe.
    playerEvent(s, [&] {
        Object* o = field.scriptObject();
        if (!o) return;
        const Value arg = Value::object(o);
        fieldEvent(s, field, "onChanged", {&arg, 1});
    });
}

void Vm::focusChanged(TextField* oldFocus, TextField* newFocus) {
    State& s = *state_;
    playerEvent(s, [&] {
        // Objects first: a handler may remove either field.
        const Value oldValue = oldFocus ? Value::object(oldFocus->scriptObject()) : Value::null();
        const Value newValue = newFocus ? Value::object(newFocus->scriptObject()) : Value::null();
        if (TextField* f = textFieldOf(oldValue)) fieldEvent(s, *f, "onKillFocus", {&newValue, 1});
        if (TextField* f = textFieldOf(newValue)) fieldEvent(s, *f, "onSetFocus", {&oldValue, 1});
        selectionFocusChanged(s, oldValue, newValue);
    });
}

}  // namespace refplayer::avm1
