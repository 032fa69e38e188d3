// Generic, late-bound access to the control's properties and methods, the
// way a property inspector reads and writes them. The package itself uses
// none of it; applications may.
#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <cwchar>

#include "framework/sysutils.h"
#include "framework/winstreams.h"
#include "kv_axinternal.h"
#include "kv_driver_activex.h"

namespace {

// Releases what the type information hands out, whatever happens.
struct TTypeAttr {
    ITypeInfo* info;
    TYPEATTR* attr = nullptr;
    explicit TTypeAttr(ITypeInfo* i) : info(i) { OleCheck(info->GetTypeAttr(&attr)); }
    ~TTypeAttr() { info->ReleaseTypeAttr(attr); }
};
struct TVarDesc {
    ITypeInfo* info;
    VARDESC* desc = nullptr;
    TVarDesc(ITypeInfo* i, UINT index) : info(i) { OleCheck(info->GetVarDesc(index, &desc)); }
    ~TVarDesc() { info->ReleaseVarDesc(desc); }
};
struct TFuncDesc {
    ITypeInfo* info;
    FUNCDESC* desc = nullptr;
    TFuncDesc(ITypeInfo* i, UINT index) : info(i) { OleCheck(info->GetFuncDesc(index, &desc)); }
    ~TFuncDesc() { info->ReleaseFuncDesc(desc); }
};
using TInfoRef = kv::ComPtr<ITypeInfo>;

AnsiString Narrow(BSTR s) { return s ? WideToAnsi(std::wstring_view(s, SysStringLen(s))) : AnsiString(); }

AnsiString Format(int value, const AnsiString& name) { return std::to_string(value) + " - " + name; }

// The predefined strings of a property with their cookies, freed with the
// memory the control handed out.
bool PredefinedStrings(IPerPropertyBrowsing* browsing, DISPID id, TStringList& strings)
{
    strings.Clear();
    if (!browsing)
        return false;
    CALPOLESTR texts{};
    CADWORD cookies{};
    if (FAILED(browsing->GetPredefinedStrings(id, &texts, &cookies)))
        return false;
    struct Free {
        CALPOLESTR& t;
        CADWORD& c;
        ~Free()
        {
            for (ULONG i = 0; i < t.cElems; ++i)
                CoTaskMemFree(t.pElems[i]);
            CoTaskMemFree(t.pElems);
            CoTaskMemFree(c.pElems);
        }
    } release{texts, cookies};
    for (ULONG i = 0; i < texts.cElems; ++i) {
        const DWORD cookie = i < cookies.cElems ? cookies.pElems[i] : 0;
        strings.AddObject(texts.pElems[i] ? WideString(texts.pElems[i]) : WideString(),
                          reinterpret_cast<TObject*>(static_cast<std::uintptr_t>(cookie)));
    }
    return true;
}

// Offers one type: an enumeration becomes a descriptor of the property.
void OfferType(ITypeInfo* info, const TYPEDESC& type, MEMBERID id, std::vector<std::unique_ptr<TEnumPropDesc>>& list)
{
    if (type.vt != VT_USERDEFINED)
        return;
    TInfoRef ref;
    OleCheck(info->GetRefTypeInfo(type.hreftype, ref.put()));
    TTypeAttr attr(ref.get());
    if (attr.attr->typekind == TKIND_ENUM)
        list.push_back(std::make_unique<TEnumPropDesc>(id, attr.attr->cVars, ref.get()));
}

bool HasDescriptor(const std::vector<std::unique_ptr<TEnumPropDesc>>& list, MEMBERID id)
{
    for (const auto& d : list)
        if (d->DispID == id)
            return true;
    return false;
}

void ProcessTypeInfo(ITypeInfo* info, std::vector<std::unique_ptr<TEnumPropDesc>>& list)
{
    TTypeAttr attr(info);
    if (IsEqualGUID(attr.attr->guid, IID_IDispatch))
        return;
    const bool interfaceLike = attr.attr->typekind == TKIND_INTERFACE || (attr.attr->wTypeFlags & TYPEFLAG_FDUAL);
    if (interfaceLike && (attr.attr->wTypeFlags & TYPEFLAG_FNONEXTENSIBLE)) {
        HREFTYPE ref = 0;
        OleCheck(info->GetRefTypeOfImplType(0, &ref));
        TInfoRef base;
        OleCheck(info->GetRefTypeInfo(ref, base.put()));
        ProcessTypeInfo(base.get(), list);
    }
    for (UINT i = 0; i < attr.attr->cVars; ++i) {
        TVarDesc v(info, i);
        OfferType(info, v.desc->elemdescVar.tdesc, v.desc->memid, list);
    }
    for (UINT i = 0; i < attr.attr->cFuncs; ++i) {
        TFuncDesc f(info, i);
        const FUNCDESC& d = *f.desc;
        if (HasDescriptor(list, d.memid))
            continue;
        if (d.invkind == INVOKE_PROPERTYGET) {
            OfferType(info, d.elemdescFunc.tdesc, d.memid, list);
        } else if (d.invkind == INVOKE_PROPERTYPUT && d.cParams > 0) {
            OfferType(info, d.lprgelemdescParam[d.cParams - 1].tdesc, d.memid, list);
        } else if (d.invkind == INVOKE_PROPERTYPUTREF && d.cParams > 0) {
            const TYPEDESC& last = d.lprgelemdescParam[d.cParams - 1].tdesc;
            if (last.vt == VT_PTR && last.lptdesc)
                OfferType(info, *last.lptdesc, d.memid, list);
        }
    }
}

template <class I>
I* CreateHelper(const GUID& clsid, const IID& iid, const AnsiString* machine)
{
    I* out = nullptr;
    if (!machine) {
        OleCheck(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, iid,
                                  reinterpret_cast<void**>(&out)));
    } else {
        WideString name = AnsiToWide(*machine);
        COSERVERINFO server{};
        server.pwszName = name.data();
        MULTI_QI qi{&iid, nullptr, S_OK};
        OleCheck(CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER | CLSCTX_LOCAL_SERVER, &server, 1, &qi));
        OleCheck(qi.hr);
        out = static_cast<I*>(static_cast<void*>(qi.pItf));
    }
    if (!out)
        OleCheck(E_NOINTERFACE);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Enumerations
// ---------------------------------------------------------------------------

TEnumPropDesc::TEnumPropDesc(DISPID ADispID, int AValueCount, ITypeInfo* TypeInfo)
    : DispID(ADispID), ValueCount(AValueCount)
{
    Values.reserve(AValueCount > 0 ? static_cast<size_t>(AValueCount) : 0);
    for (int i = 0; i < AValueCount; ++i) {
        TVarDesc v(TypeInfo, static_cast<UINT>(i));
        TEnumValue e{};
        if (v.desc->varkind == VAR_CONST && v.desc->lpvarValue) {
            kv::Variant n;
            if (SUCCEEDED(VariantChangeType(n.put(), v.desc->lpvarValue, 0, VT_I4)))
                e.Value = V_I4(&n.get());
        }
        kv::Bstr name;
        if (SUCCEEDED(TypeInfo->GetDocumentation(v.desc->memid, name.put(), nullptr, nullptr, nullptr)))
            e.Name = Narrow(name);
        while (e.Name.size() >= 2 && e.Name[0] == '_')
            e.Name.erase(0, 1);
        Values.push_back(std::move(e));
    }
}

void TEnumPropDesc::GetStrings(const std::function<void(const AnsiString&)>& Proc) const
{
    for (const TEnumValue& v : Values)
        Proc(Format(v.Value, v.Name));
}

AnsiString TEnumPropDesc::ValueToString(int V) const
{
    for (const TEnumValue& v : Values)
        if (v.Value == V)
            return Format(v.Value, v.Name);
    return std::to_string(V);
}

int TEnumPropDesc::StringToValue(const AnsiString& S) const
{
    size_t digits = 0;
    while (digits < S.size() && ((S[digits] >= '0' && S[digits] <= '9') || S[digits] == '-'))
        ++digits;
    if (digits > 0) {
        const int n = StrToInt(AnsiToWide(S.substr(0, digits)));
        for (const TEnumValue& v : Values)
            if (v.Value == n)
                return n;
    } else {
        for (const TEnumValue& v : Values)
            if (SameText(AnsiToWide(v.Name), AnsiToWide(S)))
                return v.Value;
    }
    throw EOleError(L"Invalid property value: '" + AnsiToWide(S) + L"'");
}

void TkvFlashDriverActiveX::CreateEnumPropDescs()
{
    if (NoControl)
        return;
    CreateControl();
    if (!ControlDispatch)
        return;
    DestroyEnumPropDescs();
    ControlData->EnumPropDescs = new std::vector<std::unique_ptr<TEnumPropDesc>>();
    try {
        TInfoRef info;
        OleCheck(ControlDispatch->GetTypeInfo(0, 0, info.put()));
        if (!info.get())
            OleCheck(E_NOINTERFACE);
        ProcessTypeInfo(info.get(), *ControlData->EnumPropDescs);
    } catch (...) {
        DestroyEnumPropDescs();
        throw;
    }
}

void TkvFlashDriverActiveX::DestroyEnumPropDescs()
{
    if (ControlData && ControlData->EnumPropDescs) {
        delete ControlData->EnumPropDescs;
        ControlData->EnumPropDescs = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Typed properties
// ---------------------------------------------------------------------------

using TVariant = kv::Variant;

int TkvFlashDriverActiveX::GetIntegerProp(DISPID DispID)
{
    TVariant r;
    GetProperty(DispID, r.get());
    return V_I4(&r.get());
}

std::uint16_t TkvFlashDriverActiveX::GetWordProp(DISPID DispID)
{
    TVariant r;
    GetProperty(DispID, r.get());
    return V_UI2(&r.get());
}

bool TkvFlashDriverActiveX::GetOleBoolProp(DISPID DispID)
{
    TVariant r;
    GetProperty(DispID, r.get());
    return V_BOOL(&r.get()) != 0;
}

bool TkvFlashDriverActiveX::GetWordBoolProp(DISPID DispID) { return GetOleBoolProp(DispID); }

float TkvFlashDriverActiveX::GetSingleProp(DISPID DispID)
{
    TVariant r;
    GetProperty(DispID, r.get());
    return V_R4(&r.get());
}

AnsiString TkvFlashDriverActiveX::GetStringProp(DISPID DispID)
{
    TVariant r;
    GetVariantProp(DispID, r.get());
    if (V_VT(&r.get()) == VT_EMPTY || V_VT(&r.get()) == VT_NULL)
        return {};
    TVariant text;
    OleCheck(VariantChangeType(&text.get(), &r.get(), 0, VT_BSTR));
    return Narrow(V_BSTR(&text.get()));
}

WideString TkvFlashDriverActiveX::GetWideStringProp(DISPID DispID)
{
    TVariant r;
    GetProperty(DispID, r.get());
    if (V_VT(&r.get()) != VT_BSTR || !V_BSTR(&r.get()))
        return {};
    return WideString(V_BSTR(&r.get()), SysStringLen(V_BSTR(&r.get())));
}

void TkvFlashDriverActiveX::GetVariantProp(DISPID DispID, VARIANT& Value) { GetProperty(DispID, Value); }

void TkvFlashDriverActiveX::GetOleVariantProp(DISPID DispID, VARIANT& Value) { GetProperty(DispID, Value); }

IDispatch* TkvFlashDriverActiveX::GetIDispatchProp(DISPID DispID)
{
    TVariant r;
    GetProperty(DispID, r.get());
    IDispatch* p = V_VT(&r.get()) == VT_DISPATCH ? V_DISPATCH(&r.get()) : nullptr;
    if (p)
        p->AddRef();
    return p;
}

IUnknown* TkvFlashDriverActiveX::GetIUnknownProp(DISPID DispID)
{
    TVariant r;
    GetProperty(DispID, r.get());
    IUnknown* p = (V_VT(&r.get()) == VT_UNKNOWN || V_VT(&r.get()) == VT_DISPATCH) ? V_UNKNOWN(&r.get()) : nullptr;
    if (p)
        p->AddRef();
    return p;
}

void TkvFlashDriverActiveX::SetIntegerProp(DISPID DispID, int Value)
{
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = Value;
    SetProperty(DispID, v);
}

void TkvFlashDriverActiveX::SetWordProp(DISPID DispID, std::uint16_t Value) { SetIntegerProp(DispID, Value); }

void TkvFlashDriverActiveX::SetWordBoolProp(DISPID DispID, bool Value)
{
    VARIANT v;
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = Value ? VARIANT_TRUE : VARIANT_FALSE;
    SetProperty(DispID, v);
}

void TkvFlashDriverActiveX::SetOleBoolProp(DISPID DispID, bool Value) { SetWordBoolProp(DispID, Value); }

void TkvFlashDriverActiveX::SetSingleProp(DISPID DispID, float Value)
{
    VARIANT v;
    V_VT(&v) = VT_R4;
    V_R4(&v) = Value;
    SetProperty(DispID, v);
}

void TkvFlashDriverActiveX::SetStringProp(DISPID DispID, const AnsiString& Value)
{
    SetWideStringProp(DispID, AnsiToWide(Value));
}

void TkvFlashDriverActiveX::SetVariantProp(DISPID DispID, const VARIANT& Value)
{
    // Only what automation can carry goes to the control.
    TVariant v;
    OleCheck(VariantCopyInd(&v.get(), const_cast<VARIANT*>(&Value)));
    SetProperty(DispID, v.get());
}

void TkvFlashDriverActiveX::SetIDispatchProp(DISPID DispID, IDispatch* Value)
{
    VARIANT v;
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = Value;
    SetProperty(DispID, v);
}

void TkvFlashDriverActiveX::SetIUnknownProp(DISPID DispID, IUnknown* Value)
{
    VARIANT v;
    V_VT(&v) = VT_UNKNOWN;
    V_UNKNOWN(&v) = Value;
    SetProperty(DispID, v);
}

void TkvFlashDriverActiveX::SetOleVariantProp(DISPID DispID, const VARIANT& Value) { SetProperty(DispID, Value); }

// ---------------------------------------------------------------------------
// Display strings
// ---------------------------------------------------------------------------

AnsiString TkvFlashDriverActiveX::GetPropDisplayString(DISPID DispID)
{
    if (NoControl)
        return {};
    CreateControl();
    if (PropBrowsing) {
        kv::Bstr text;
        if (SUCCEEDED(PropBrowsing->GetDisplayString(DispID, text.put())))
            return Narrow(text);
    }
    return GetStringProp(DispID);
}

void TkvFlashDriverActiveX::GetPropDisplayStrings(DISPID DispID, TStringList& Strings)
{
    Strings.Clear();
    if (NoControl)
        return;
    CreateControl();
    PredefinedStrings(PropBrowsing, DispID, Strings);
}

void TkvFlashDriverActiveX::SetPropDisplayString(DISPID DispID, const AnsiString& Value)
{
    if (NoControl)
        return;
    CreateControl();
    TStringList strings;
    if (PredefinedStrings(PropBrowsing, DispID, strings)) {
        const WideString wanted = AnsiToWide(Value);
        for (int i = 0; i < strings.Count(); ++i) {
            if (!SameText(strings.Strings(i), wanted))
                continue;
            const DWORD cookie = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(strings.Objects(i)));
            TVariant v;
            OleCheck(PropBrowsing->GetPredefinedValue(DispID, cookie, &v.get()));
            SetProperty(DispID, v.get());
            return;
        }
    }
    SetStringProp(DispID, Value);
}

// ---------------------------------------------------------------------------
// Late binding
// ---------------------------------------------------------------------------

void TkvFlashDriverActiveX::InvokeMethod(const TkvDispCall& DispInfo, VARIANT& Result)
{
    VariantClear(&Result);
    if (!DispatchReady())
        return;
    // DISPPARAMS keeps the arguments last-first.
    std::vector<VARIANT> args(DispInfo.Args.rbegin(), DispInfo.Args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = DispInfo.Flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    DISPPARAMS params{args.empty() ? nullptr : args.data(), put ? &named : nullptr, static_cast<UINT>(args.size()),
                      put ? 1u : 0u};
    EXCEPINFO info{};
    TVariant returned;
    IDispatch* const dispatch = ControlDispatch;
    // A method may run the movie's scripts, and through them application
    // handlers that release the driver; nothing of it is used afterwards.
    const HRESULT hr = CallPlayerWith(this, [&] {
                           return dispatch->Invoke(DispInfo.DispID, GUID_NULL, 0, DispInfo.Flags, &params,
                                                   put ? nullptr : &returned.get(), &info, nullptr);
                       }).Result;
    if (FAILED(hr))
        RaiseDispatchError(hr, info);
    if (DispInfo.ResultType == VT_VOID)
        return;
    if (DispInfo.ResultType == VT_EMPTY || DispInfo.ResultType == V_VT(&returned.get())) {
        returned.moveTo(Result);
        return;
    }
    OleCheck(VariantChangeType(&Result, &returned.get(), 0, DispInfo.ResultType));
}

void TkvFlashDriverActiveX::GetOleObject(VARIANT& Result)
{
    VariantClear(&Result);
    if (IDispatch* d = GetDefaultDispatch()) {
        V_VT(&Result) = VT_DISPATCH;
        V_DISPATCH(&Result) = d;
    }
}

IDispatch* TkvFlashDriverActiveX::GetDefaultDispatch()
{
    if (NoControl)
        return nullptr;
    CreateControl();
    if (!OleObject)
        return nullptr;
    IDispatch* d = nullptr;
    OleCheck(OleObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)));
    return d;
}

// ---------------------------------------------------------------------------
// Creators
// ---------------------------------------------------------------------------

IUnknown* CoFlashProp::Create() { return CreateHelper<IUnknown>(CLASS_FlashProp, IID_IUnknown, nullptr); }

IUnknown* CoFlashProp::CreateRemote(const AnsiString& MachineName)
{
    return CreateHelper<IUnknown>(CLASS_FlashProp, IID_IUnknown, &MachineName);
}

IFlashObjectInterface* CoFlashObjectInterface::Create()
{
    return CreateHelper<IFlashObjectInterface>(CLASS_FlashObjectInterface, IID_IFlashObjectInterface, nullptr);
}

IFlashObjectInterface* CoFlashObjectInterface::CreateRemote(const AnsiString& MachineName)
{
    return CreateHelper<IFlashObjectInterface>(CLASS_FlashObjectInterface, IID_IFlashObjectInterface, &MachineName);
}
