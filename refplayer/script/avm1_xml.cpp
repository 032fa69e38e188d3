// XML and XMLNode: a document tree kept by the nodes themselves, the parser
// with the player's status codes, serialisation, and loading through the host.
#include <algorithm>
#include <string>
#include <vector>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

constexpr int kElement = 1;
constexpr int kText = 3;
constexpr int kMaxDepth = 256;  // deeper documents are refused as malformed

// A node's place in its tree. Every XMLNode and XML object carries one; a
// document is an element node without a name.
struct NodeData : Loadable {
    int type = kElement;
    std::optional<std::string> name;   // elements; none for a document
    std::optional<std::string> value;  // text nodes
    Object* attributes = nullptr;
    Object* parent = nullptr;
    std::vector<Object*> children;

    void markValues(void (*mark)(void*, const Value&), void* context) const override {
        mark(context, Value::object(attributes));
        mark(context, Value::object(parent));
        for (Object* child : children) mark(context, Value::object(child));
    }
};

// Status codes as XML.status reports them.
enum Status {
    Ok = 0,
    CdataOpen = -2,
    DeclarationOpen = -3,
    DoctypeOpen = -4,
    CommentOpen = -5,
    MalformedElement = -6,
    AttributeOpen = -8,
    StartNotClosed = -9,
    EndWithoutStart = -10,
};

struct Protos {
    Object* node = nullptr;
    Object* xml = nullptr;
};

// The XMLNode constructor carries the prototypes the parser gives new nodes,
// so a script that replaces the globals does not change what parsing makes.
struct Holder : NativeData {
    Protos p;
    void markValues(void (*mark)(void*, const Value&), void* context) const override {
        mark(context, Value::object(p.node));
        mark(context, Value::object(p.xml));
    }
};

Protos& protos(State& s) { return static_cast<Holder*>(kept(s, "XMLNode")->nativeData())->p; }

NodeData* nodeOf(const Value& v) {
    Object* o = v.objectValue();
    return o ? dynamic_cast<NodeData*>(o->nativeData()) : nullptr;
}
NodeData* nodeOf(Object* o) { return o ? dynamic_cast<NodeData*>(o->nativeData()) : nullptr; }

Object* newNode(State& s, Object* proto, int type, std::optional<std::string> nameOrValue) {
    Object* o = s.newObject(proto);
    auto data = std::make_unique<NodeData>();
    data->type = type;
    if (type == kText) data->value = std::move(nameOrValue);
    else data->name = std::move(nameOrValue);
    data->attributes = s.newObject(s.objectProto);
    s.chargeBytes(sizeof(NodeData));
    o->setNativeData(std::move(data));
    return o;
}

void detach(Object* child) {
    NodeData* c = nodeOf(child);
    if (!c || !c->parent) return;
    NodeData* p = nodeOf(c->parent);
    if (p) std::erase(p->children, child);
    c->parent = nullptr;
}

// Whether `node` is `ancestor` or lies below it: such a move would make a cycle.
bool within(Object* node, Object* ancestor) {
    for (int depth = 0; node && depth < 100000; ++depth) {
        if (node == ancestor) return true;
        NodeData* d = nodeOf(node);
        node = d ? d->parent : nullptr;
    }
    return false;
}

void insert(Object* parent, Object* child, size_t at) {
    detach(child);
    NodeData* p = nodeOf(parent);
    at = std::min(at, p->children.size());
    p->children.insert(p->children.begin() + static_cast<ptrdiff_t>(at), child);
    nodeOf(child)->parent = parent;
}

// --- text ------------------------------------------------------------------------------

std::string escapeText(std::string_view text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += ch;
        }
    }
    return out;
}

// Entities and character references; an unknown entity stays as written.
std::string unescapeText(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const size_t semi = text.find(';', i);
        if (semi == std::string_view::npos || semi - i > 12) {
            out += '&';
            continue;
        }
        const std::string_view entity = text.substr(i + 1, semi - i - 1);
        std::optional<char32_t> c;
        if (entity == "lt") c = '<';
        else if (entity == "gt") c = '>';
        else if (entity == "amp") c = '&';
        else if (entity == "quot") c = '"';
        else if (entity == "apos") c = '\'';
        else if (entity.size() > 1 && entity[0] == '#') {
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const double n = parseIntPrefix(entity.substr(hex ? 2 : 1), hex ? 16 : 10);
            if (n > 0 && n <= 0x10FFFF) c = static_cast<char32_t>(n);
        }
        if (!c) {
            out += '&';
            continue;
        }
        appendUtf8(out, *c);
        i = semi;
    }
    return out;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool allBlank(std::string_view text) {
    for (char c : text)
        if (!isBlank(c)) return false;
    return true;
}

// --- parsing ---------------------------------------------------------------------------

struct Parser {
    Parser(State& state, std::string_view text) : s(state), in(text) {}
    State& s;
    std::string_view in;
    size_t pos = 0;
    bool ignoreWhite = false;
    std::string xmlDecl;
    std::string docTypeDecl;

    void text(Object* parent, std::string_view raw, bool cdata) {
        if (raw.empty()) return;
        if (!cdata && ignoreWhite && allBlank(raw)) return;
        const NodeData* p = nodeOf(parent);
        insert(parent, newNode(s, protos(s).node, kText, cdata ? std::string(raw) : unescapeText(raw)),
               p->children.size());
    }

    // Reads the document's nodes into `doc`; answers the status.
    int parse(Object* doc) {
        std::vector<Object*> open = {doc};
        while (pos < in.size()) {
            s.charge(1);
            const size_t lt = in.find('<', pos);
            if (lt == std::string_view::npos) {
                text(open.back(), in.substr(pos), false);
                pos = in.size();
                break;
            }
            text(open.back(), in.substr(pos, lt - pos), false);
            pos = lt;
            const std::string_view rest = in.substr(pos);
            if (rest.starts_with("<!--")) {
                const size_t end = in.find("-->", pos + 4);
                if (end == std::string_view::npos) return CommentOpen;
                pos = end + 3;
            } else if (rest.starts_with("<![CDATA[")) {
                const size_t end = in.find("]]>", pos + 9);
                if (end == std::string_view::npos) return CdataOpen;
                text(open.back(), in.substr(pos + 9, end - pos - 9), true);
                pos = end + 3;
            } else if (rest.starts_with("<?")) {
                const size_t end = in.find("?>", pos + 2);
                if (end == std::string_view::npos) return DeclarationOpen;
                xmlDecl += in.substr(pos, end + 2 - pos);
                pos = end + 2;
            } else if (rest.starts_with("<!")) {
                const size_t end = in.find('>', pos + 2);
                if (end == std::string_view::npos) return DoctypeOpen;
                docTypeDecl += in.substr(pos, end + 1 - pos);
                pos = end + 1;
            } else if (rest.starts_with("</")) {
                const size_t end = in.find('>', pos + 2);
                if (end == std::string_view::npos) return MalformedElement;
                std::string_view name = in.substr(pos + 2, end - pos - 2);
                while (!name.empty() && isBlank(name.back())) name.remove_suffix(1);
                if (open.size() < 2) return EndWithoutStart;
                if (*nodeOf(open.back())->name != name) return StartNotClosed;
                open.pop_back();
                pos = end + 1;
            } else {
                const int status = element(open);
                if (status != Ok) return status;
            }
        }
        return open.size() > 1 ? StartNotClosed : Ok;
    }

    int element(std::vector<Object*>& open) {
        ++pos;  // '<'
        const size_t nameStart = pos;
        while (pos < in.size() && !isBlank(in[pos]) && in[pos] != '>' && in[pos] != '/') ++pos;
        if (pos == nameStart || pos >= in.size()) return MalformedElement;
        Object* node = newNode(s, protos(s).node, kElement, std::string(in.substr(nameStart, pos - nameStart)));
        NodeData* data = nodeOf(node);
        for (;;) {
            s.charge(1);
            while (pos < in.size() && isBlank(in[pos])) ++pos;
            if (pos >= in.size()) return MalformedElement;
            if (in[pos] == '>' || in.substr(pos).starts_with("/>")) break;
            const size_t attrStart = pos;
            while (pos < in.size() && in[pos] != '=' && !isBlank(in[pos]) && in[pos] != '>' && in[pos] != '/') ++pos;
            const std::string name(in.substr(attrStart, pos - attrStart));
            while (pos < in.size() && isBlank(in[pos])) ++pos;
            if (name.empty() || pos >= in.size() || in[pos] != '=') return MalformedElement;
            ++pos;
            while (pos < in.size() && isBlank(in[pos])) ++pos;
            if (pos >= in.size() || (in[pos] != '"' && in[pos] != '\'')) return MalformedElement;
            const char quote = in[pos++];
            const size_t end = in.find(quote, pos);
            if (end == std::string_view::npos) return AttributeOpen;
            const std::string value = unescapeText(in.substr(pos, end - pos));
            s.chargeBytes(name.size() + value.size() + sizeof(Property));
            data->attributes->setOwn(name, s.str(value));
            pos = end + 1;
        }
        Object* parent = open.back();
        insert(parent, node, nodeOf(parent)->children.size());
        if (in[pos] == '/') {
            pos += 2;
        } else {
            ++pos;
            if (open.size() > kMaxDepth) return MalformedElement;
            open.push_back(node);
        }
        return Ok;
    }
};

void clearChildren(Object* node) {
    NodeData* d = nodeOf(node);
    for (Object* child : d->children) nodeOf(child)->parent = nullptr;
    d->children.clear();
}

void parseInto(State& s, Object* doc, std::string_view text) {
    clearChildren(doc);
    Parser p{s, text};
    p.ignoreWhite = s.toBoolean(s.getMember(Value::object(doc), "ignoreWhite"));
    const int status = p.parse(doc);
    const Value self = Value::object(doc);
    s.setMember(self, "status", Value::number(status));
    if (!p.xmlDecl.empty()) s.setMember(self, "xmlDecl", s.str(p.xmlDecl));
    if (!p.docTypeDecl.empty()) s.setMember(self, "docTypeDecl", s.str(p.docTypeDecl));
}

// --- serialising -----------------------------------------------------------------------

void serialise(State& s, Object* node, std::string& out, int depth) {
    s.charge(1);
    s.checkStringSize(out.size());
    const NodeData* d = nodeOf(node);
    if (!d || depth > kMaxDepth) return;
    if (d->type == kText) {
        if (d->value) out += escapeText(*d->value);
        return;
    }
    if (d->name) {
        out += '<';
        out += *d->name;
        d->attributes->forEachOwn([&](std::string_view key, const Property& p) {
            if ((p.flags & kDontEnum) || p.isAccessor()) return;
            out += ' ';
            out += key;
            out += "=\"";
            out += escapeText(s.toString(p.value));
            out += '"';
        });
        if (d->children.empty()) {
            out += " />";
            return;
        }
        out += '>';
    }
    for (Object* child : std::vector<Object*>(d->children)) serialise(s, child, out, depth + 1);
    if (d->name) {
        out += "</";
        out += *d->name;
        out += '>';
    }
}

std::string documentText(State& s, Object* o) {
    std::string out;
    const NodeData* d = nodeOf(o);
    if (d && !d->name && d->type == kElement) {
        // A document starts with its declarations.
        const Value decl = s.getMember(Value::object(o), "xmlDecl");
        if (!decl.isNullish()) out += s.toString(decl);
        const Value doctype = s.getMember(Value::object(o), "docTypeDecl");
        if (!doctype.isNullish()) out += s.toString(doctype);
    }
    serialise(s, o, out, 0);
    return out;
}

// --- XMLNode members -------------------------------------------------------------------

Value nodeCtor(State& s, NativeCall& c) {
    // new XMLNode(type, text): the fresh object becomes the node. An object
    // that carries native data already (called on Stage, say) is left alone.
    Object* self = c.thisValue.objectValue();
    if (!self || self->nativeData()) return {};
    auto data = std::make_unique<NodeData>();
    data->type = s.toNumber(c.arg(0)) == kText ? kText : kElement;
    if (data->type == kText) data->value = s.toString(c.arg(1));
    else data->name = s.toString(c.arg(1));
    data->attributes = s.newObject(s.objectProto);
    self->setNativeData(std::move(data));
    return {};
}

Value nodeType(State&, NativeCall& c) {
    NodeData* d = nodeOf(c.thisValue);
    return d ? Value::number(d->type) : Value();
}

Value nodeName(State& s, NativeCall& c) {
    NodeData* d = nodeOf(c.thisValue);
    return d && d->name ? s.str(*d->name) : Value::null();
}
Value setNodeName(State& s, NativeCall& c) {
    if (NodeData* d = nodeOf(c.thisValue); d && d->type == kElement)
        d->name = c.arg(0).isNullish() ? std::nullopt : std::optional(s.toString(c.arg(0)));
    return {};
}

Value nodeValue(State& s, NativeCall& c) {
    NodeData* d = nodeOf(c.thisValue);
    return d && d->value ? s.str(*d->value) : Value::null();
}
Value setNodeValue(State& s, NativeCall& c) {
    if (NodeData* d = nodeOf(c.thisValue); d && d->type == kText)
        d->value = c.arg(0).isNullish() ? std::nullopt : std::optional(s.toString(c.arg(0)));
    return {};
}

Value attributes(State&, NativeCall& c) {
    NodeData* d = nodeOf(c.thisValue);
    return d ? Value::object(d->attributes) : Value();
}
Value setAttributes(State&, NativeCall& c) {
    NodeData* d = nodeOf(c.thisValue);
    if (Object* o = c.arg(0).objectValue(); d && o) d->attributes = o;
    return {};
}

Value parentNode(State&, NativeCall& c) {
    NodeData* d = nodeOf(c.thisValue);
    return d && d->parent ? Value::object(d->parent) : Value::null();
}

Value childNodes(State& s, NativeCall& c) {
    NodeData* d = nodeOf(c.thisValue);
    if (!d) return {};
    std::vector<Value> children;
    for (Object* child : d->children) children.push_back(Value::object(child));
    return Value::object(s.newArray(std::move(children)));
}

Value firstChild(State&, NativeCall& c) {
    NodeData* d = nodeOf(c.thisValue);
    return d && !d->children.empty() ? Value::object(d->children.front()) : Value::null();
}
Value lastChild(State&, NativeCall& c) {
    NodeData* d = nodeOf(c.thisValue);
    return d && !d->children.empty() ? Value::object(d->children.back()) : Value::null();
}

Value sibling(NativeCall& c, int step) {
    Object* self = c.thisValue.objectValue();
    NodeData* d = nodeOf(self);
    NodeData* p = d ? nodeOf(d->parent) : nullptr;
    if (!p) return Value::null();
    for (size_t i = 0; i < p->children.size(); ++i) {
        if (p->children[i] != self) continue;
        const size_t at = i + static_cast<size_t>(step);
        return at < p->children.size() ? Value::object(p->children[at]) : Value::null();
    }
    return Value::null();
}
Value nextSibling(State&, NativeCall& c) { return sibling(c, 1); }
Value previousSibling(State&, NativeCall& c) { return sibling(c, -1); }

Value appendChild(State&, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    Object* child = c.arg(0).objectValue();
    if (!nodeOf(self) || !nodeOf(child) || within(self, child)) return {};
    insert(self, child, SIZE_MAX);
    return {};
}

Value insertBefore(State&, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    Object* child = c.arg(0).objectValue();
    Object* before = c.arg(1).objectValue();
    NodeData* d = nodeOf(self);
    if (!d || !nodeOf(child) || within(self, child) || child == before) return {};
    detach(child);
    const auto it = std::find(d->children.begin(), d->children.end(), before);
    if (it == d->children.end()) return {};
    insert(self, child, static_cast<size_t>(it - d->children.begin()));
    return {};
}

Value removeNode(State&, NativeCall& c) {
    detach(c.thisValue.objectValue());
    return {};
}

Value hasChildNodes(State&, NativeCall& c) {
    NodeData* d = nodeOf(c.thisValue);
    return Value::boolean(d && !d->children.empty());
}

Object* cloneNode(State& s, Object* o, bool deep, int depth) {
    s.charge(1);
    const NodeData* d = nodeOf(o);
    Object* copy = newNode(s, o->proto(), d->type, d->type == kText ? d->value : d->name);
    NodeData* cd = nodeOf(copy);
    cd->name = d->name;
    cd->value = d->value;
    d->attributes->forEachOwn([&](std::string_view key, const Property& p) {
        if (!(p.flags & kDontEnum) && !p.isAccessor()) cd->attributes->setOwn(key, p.value);
    });
    if (deep && depth < kMaxDepth)
        for (Object* child : std::vector<Object*>(d->children))
            insert(copy, cloneNode(s, child, true, depth + 1), SIZE_MAX);
    return copy;
}

Value cloneNodeFn(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    if (!nodeOf(self)) return {};
    return Value::object(cloneNode(s, self, s.toBoolean(c.arg(0)), 0));
}

Value nodeToString(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    if (!nodeOf(self)) return s.str("[object Object]");
    return s.str(documentText(s, self));
}

// --- XML members -------------------------------------------------------------------------

Value xmlCtor(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    if (!self) return {};
    if (!self->nativeData()) {
        auto data = std::make_unique<NodeData>();
        data->attributes = s.newObject(s.objectProto);
        self->setNativeData(std::move(data));
    }
    if (!nodeOf(self)) return {};  // another class's object: not made a document
    if (!c.arg(0).isNullish()) parseInto(s, self, s.toString(c.arg(0)));
    return {};
}

Value parseXml(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    if (nodeOf(self)) parseInto(s, self, s.toString(c.arg(0)));
    return {};
}

Value createElement(State& s, NativeCall& c) {
    return Value::object(newNode(s, protos(s).node, kElement, s.toString(c.arg(0))));
}
Value createTextNode(State& s, NativeCall& c) {
    return Value::object(newNode(s, protos(s).node, kText, s.toString(c.arg(0))));
}

Value load(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    if (!nodeOf(self) || c.arg(0).isNullish()) return Value::boolean(false);
    s.setMember(c.thisValue, "loaded", Value::boolean(false));
    startLoad(s, self, dataRequest(s, s.toString(c.arg(0)), Value(), {}, false));
    return Value::boolean(true);
}

Value sendAndLoad(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    Object* target = c.arg(1).objectValue();
    if (!nodeOf(self) || !nodeOf(target) || c.arg(0).isNullish()) return Value::boolean(false);
    s.setMember(c.arg(1), "loaded", Value::boolean(false));
    startLoad(s, target, dataRequest(s, s.toString(c.arg(0)), c.arg(2), documentText(s, self), true));
    return Value::boolean(true);
}

Value send(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    if (!nodeOf(self) || c.arg(0).isNullish()) return Value::boolean(false);
    UrlRequest r = dataRequest(s, s.toString(c.arg(0)), c.arg(2), documentText(s, self), true);
    r.window = c.arg(1).isUndefined() ? std::string() : s.toString(c.arg(1));
    s.host.getUrl(r);
    return Value::boolean(true);
}

// What an answer does unless the movie replaces onData: parse it and report.
Value onData(State& s, NativeCall& c) {
    const Value self = c.thisValue;
    if (c.arg(0).isUndefined()) {
        s.setMember(self, "loaded", Value::boolean(false));
        const Value result = Value::boolean(false);
        s.call(s.getMember(self, "onLoad"), self, std::span<const Value>(&result, 1));
        return {};
    }
    if (Object* o = self.objectValue(); nodeOf(o)) parseInto(s, o, s.toString(c.arg(0)));
    s.setMember(self, "loaded", Value::boolean(true));
    const Value result = Value::boolean(true);
    s.call(s.getMember(self, "onLoad"), self, std::span<const Value>(&result, 1));
    return {};
}

Value nothing(State&, NativeCall&) { return {}; }

}  // namespace

void installXml(Vm::State& s) {
    Object* nodeClass = nullptr;
    Object* nodeProto = defineClass(s, "XMLNode", [&s](NativeCall& c) { return nodeCtor(s, c); }, nullptr, &nodeClass);
    auto holder = std::make_unique<Holder>();
    holder->p.node = nodeProto;
    Object* xmlProto = defineClass(s, "XML", [&s](NativeCall& c) { return xmlCtor(s, c); }, nodeProto);
    holder->p.xml = xmlProto;
    // The constructors keep both prototypes alive; the record finds them.
    nodeClass->setNativeData(std::move(holder));
    keep(s, "XMLNode", nodeClass);

    accessor(s, nodeProto, "nodeType", nodeType);
    accessor(s, nodeProto, "nodeName", nodeName, setNodeName);
    accessor(s, nodeProto, "nodeValue", nodeValue, setNodeValue);
    accessor(s, nodeProto, "attributes", attributes, setAttributes);
    accessor(s, nodeProto, "parentNode", parentNode);
    accessor(s, nodeProto, "childNodes", childNodes);
    accessor(s, nodeProto, "firstChild", firstChild);
    accessor(s, nodeProto, "lastChild", lastChild);
    accessor(s, nodeProto, "nextSibling", nextSibling);
    accessor(s, nodeProto, "previousSibling", previousSibling);
    method(s, nodeProto, "appendChild", appendChild);
    method(s, nodeProto, "insertBefore", insertBefore);
    method(s, nodeProto, "removeNode", removeNode);
    method(s, nodeProto, "hasChildNodes", hasChildNodes);
    method(s, nodeProto, "cloneNode", cloneNodeFn);
    method(s, nodeProto, "toString", nodeToString);

    method(s, xmlProto, "parseXML", parseXml);
    method(s, xmlProto, "createElement", createElement);
    method(s, xmlProto, "createTextNode", createTextNode);
    method(s, xmlProto, "load", load);
    method(s, xmlProto, "sendAndLoad", sendAndLoad);
    method(s, xmlProto, "send", send);
    method(s, xmlProto, "onData", onData);
    method(s, xmlProto, "onLoad", nothing);
    method(s, xmlProto, "getBytesLoaded", bytesLoaded);
    method(s, xmlProto, "getBytesTotal", bytesTotal);
    method(s, xmlProto, "addRequestHeader", nothing);
    xmlProto->setOwn("ignoreWhite", Value::boolean(false), kDontEnum);
    xmlProto->setOwn("contentType", s.str("application/x-www-form-urlencoded"), kDontEnum);
    xmlProto->setOwn("status", Value::number(0), kDontEnum);
    xmlProto->setOwn("loaded", Value(), kDontEnum);
    xmlProto->setOwn("xmlDecl", Value(), kDontEnum);
    xmlProto->setOwn("docTypeDecl", Value(), kDontEnum);
}

}  // namespace refplayer::avm1
