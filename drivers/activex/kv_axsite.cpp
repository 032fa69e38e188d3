// The driver as the control's container: finding and creating the control,
// the activation handshake, the site interfaces, ambient properties, events
// and teardown.
#include <windows.h>

#include <ole2.h>
#include <olectl.h>

#include <cmath>
#include <string>
#include <utility>

#include "framework/forms.h"
#include "framework/winstreams.h"
#include "kv_axinternal.h"
#include "kv_boundary.h"
#include "kv_driver_activex.h"
#include "kv_pendingstreams.h"

const GUID CLASS_kvFlashPlayer = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID CLASS_FlashObjectInterface = {0xD27CDB71, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID CLASS_FlashProp = {0x1171A62F, 0x05D2, 0x11D1, {0x83, 0xFC, 0x00, 0xA0, 0xC9, 0x08, 0x9C, 0x5A}};

TkvControlDescription ControlDescription = {
    CLASS_kvFlashPlayer,
    {0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}},
    {-609, 1958, 150, 197},
    0,
    nullptr,
};

namespace {

bool g_checked = false;
bool g_oleStarted = false;
bool g_available = false;
int g_unitStarts = 0;
HMODULE g_urlmon = nullptr;
TURLOpenPullStreamW g_urlOpenPullStream = nullptr;

constexpr DWORD kCreateContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;

// References the controls hold on their drivers' site objects, over every
// driver: each driver's own count ends with the driver, this one keeps what
// a control never gave back.
int g_siteReferences = 0;

// The framework's OLE error for a failed call.
void Check(HRESULT hr)
{
    OleCheck(hr);
}

// Asks the control for an interface the driver cannot do without. A control
// that answers success but hands back nothing is refused like one that fails.
template <class I>
void QueryRequired(IUnknown* object, REFIID iid, I*& out)
{
    void* p = nullptr;
    Check(object->QueryInterface(iid, &p));
    if (!p)
        throw EOleSysError(L"The Flash control answered a query with no interface", E_NOINTERFACE);
    out = static_cast<I*>(p);
}

}  // namespace

using kv::ReleaseAndClear;

// The framework's dispatch error, from what the control reported.
void RaiseDispatchError(HRESULT hr, EXCEPINFO& info)
{
    if (info.pfnDeferredFillIn)
        info.pfnDeferredFillIn(&info);
    // The texts are ours to free, whatever happens next.
    const kv::Bstr source = kv::Bstr::Attach(std::exchange(info.bstrSource, nullptr));
    const kv::Bstr description = kv::Bstr::Attach(std::exchange(info.bstrDescription, nullptr));
    const kv::Bstr helpFile = kv::Bstr::Attach(std::exchange(info.bstrHelpFile, nullptr));
    WideString text(description.view());
    const HRESULT code = info.scode ? info.scode : hr;
    if (text.empty())
        text = L"The Flash control refused the call (" + IntToHex(static_cast<std::uint32_t>(code), 8) + L")";
    throw EOleSysError(text, code);
}


// ---------------------------------------------------------------------------
// Unit
// ---------------------------------------------------------------------------

void CheckFlashActiveX()
{
    if (g_checked)
        return;
    kv::ComPtr<IOleObject> probe;
    if (SUCCEEDED(CoCreateInstance(CLASS_kvFlashPlayer, nullptr, kCreateContext, IID_IOleObject, probe.putVoid())) &&
        probe) {
        DefaultFlashDriverClass = &TkvFlashDriverActiveX::ClassRef();
        g_available = true;
    }
    g_checked = true;
}

bool ActiveXChecked() { return g_checked; }
bool ActiveXAvailable() { return g_available; }

namespace {
bool CheckFlashActiveXHook()
{
    CheckFlashActiveX();
    return g_available;
}
}  // namespace

void kv_driver_activex_Start()
{
    if (g_unitStarts++ > 0)
        return;
    // The control lives in this (the GUI) thread's apartment.
    const HRESULT ole = OleInitialize(nullptr);
    g_oleStarted = ole == S_OK || ole == S_FALSE;
    g_urlmon = LoadLibraryA("urlmon.dll");
    if (g_urlmon)
        g_urlOpenPullStream =
            reinterpret_cast<TURLOpenPullStreamW>(reinterpret_cast<void*>(GetProcAddress(g_urlmon, "URLOpenPullStreamW")));
    ActiveXDriverClass = &TkvFlashDriverActiveX::ClassRef();
    CheckFlashActiveXProc = &CheckFlashActiveXHook;
}

void kv_driver_activex_Stop()
{
    if (g_unitStarts == 0 || --g_unitStarts > 0)
        return;
    CheckFlashActiveXProc = nullptr;
    ActiveXDriverClass = nullptr;
    g_urlOpenPullStream = nullptr;
    if (g_urlmon) {
        FreeLibrary(g_urlmon);
        g_urlmon = nullptr;
    }
    // A later start probes again: the control may have been installed since.
    g_checked = false;
    g_available = false;
    if (g_oleStarted) {
        OleUninitialize();
        g_oleStarted = false;
    }
}

TURLOpenPullStreamW ActiveXURLOpenPullStream() { return g_urlOpenPullStream; }

// ---------------------------------------------------------------------------
// Construction and teardown
// ---------------------------------------------------------------------------

TkvFlashDriverActiveX::TkvFlashDriverActiveX() = default;

const TClassInfo& TkvFlashDriverActiveX::StaticClass()
{
    static const TClassInfo info = TClassBuilder<TkvFlashDriverActiveX>(L"TkvFlashDriverActiveX").Build();
    return info;
}

const TkvFlashDriverClass& TkvFlashDriverActiveX::ClassRef()
{
    static const TkvDriverClassOf<TkvFlashDriverActiveX> ref(L"TkvFlashDriverActiveX");
    return ref;
}

bool TkvFlashDriverActiveX::PluginExists() { return g_available; }

void TkvFlashDriverActiveX::InitControlData() { ControlData = &ControlDescription; }

bool TkvFlashDriverActiveX::SuppressException(const std::exception& E)
{
    return dynamic_cast<const EOleSysError*>(&E) != nullptr;
}

void TkvFlashDriverActiveX::Construct(int AWidth, int AHeight, std::uint32_t ABackground)
{
    TkvFlashDriver::Construct(AWidth, AHeight, ABackground);
    InitControlData();
    ++ControlData->InstanceCount;
    EventDispatch = new TEventDispatch(this);
    TkvDriverBusy busy(this);
    CreateInstance();
    if (NoControl)
        return;
    Check(OleObject->GetMiscStatus(DVASPECT_CONTENT, &MiscStatus));
    if (MiscStatus & OLEMISC_SETCLIENTSITEFIRST)
        Check(OleObject->SetClientSite(ClientSite()));
    QueryRequired(OleObject, IID_IPersistStreamInit, PersistStream);
    // The control is told to draw windowless with transparency before it is
    // activated; this write also connects it (CreateControl).
    SetWideStringProp(133, L"Transparent");
    CreateControl();
    if (!(MiscStatus & OLEMISC_INVISIBLEATRUNTIME)) {
        RECT r{0, 0, Width, Height};  // the buffer's, at least 1 x 1
        // Activation calls back into the site (and paints, running the
        // application's paint handler); the guard above keeps the driver whole.
        OleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, ClientSite(), 0, nullptr, &r);
    }
    if (WindowlessObject) {
        RECT r{0, 0, AWidth, AHeight};
        WindowlessObject->SetObjectRects(&r, &r);
    }
    kv::ComPtr<IOleClientSite> site;
    const HRESULT hr = OleObject->GetClientSite(site.put());
    if (FAILED(hr) || !site)
        Check(OleObject->SetClientSite(ClientSite()));
    if (OleControl)
        OleControl->OnAmbientPropertyChange(DISPID_UNKNOWN);
    // DisableLocalSecurity sits past the end of an older control's table.
    if (ControlInterface && kvax::HasPlayer8Methods(ControlInterface))
        Check(ControlInterface->DisableLocalSecurity());
    FSCommandSlot = TkvFlashPlayerFSCommand(this, &TkvFlashDriverActiveX::IntfFSCommand);
    FlashCallSlot = TkvFlashPlayerFlashCall(this, &TkvFlashDriverActiveX::IntfFlashPlayerFlashCall);
}

void TkvFlashDriverActiveX::CreateInstance()
{
    // A control that cannot be created leaves the driver without one, quietly
    // (NoControl says so); the trace tells why.
    const HRESULT hr = kv::ComEntry("CoCreateInstance of the control", [&] {
        return CoCreateInstance(ControlData->ClassID, nullptr, kCreateContext, IID_IOleObject,
                                reinterpret_cast<void**>(&OleObject));
    });
    if (FAILED(hr) || !OleObject) {
        kv::Trace("no Flash control: 0x" + WideToUtf8(IntToHex(static_cast<std::uint32_t>(hr), 8)));
        OleObject = nullptr;
        NoControl = true;
    }
}

void TkvFlashDriverActiveX::CreateControl()
{
    if (!OleObject)
        return;
    if (!OleControl) {
        try {
            kv::ComPtr<IOleClientSite> site;
            const HRESULT hr = OleObject->GetClientSite(site.put());
            if (FAILED(hr) || !site)
                Check(OleObject->SetClientSite(ClientSite()));
            if (!PersistStream)
                QueryRequired(OleObject, IID_IPersistStreamInit, PersistStream);
            if (ObjectData) {
                {
                    // The stream goes before the block it reads from.
                    kv::ComPtr<IStream> stream;
                    Check(CreateStreamOnHGlobal(ObjectData, FALSE, stream.put()));
                    Check(PersistStream->Load(stream.get()));
                }
                DestroyStorage();
            } else {
                Check(PersistStream->InitNew());
            }
            QueryRequired(OleObject, IID_IOleControl, OleControl);
            QueryRequired(OleObject, IID_IDispatch, ControlDispatch);
            if (FAILED(OleObject->QueryInterface(IID_IPerPropertyBrowsing, reinterpret_cast<void**>(&PropBrowsing))))
                PropBrowsing = nullptr;
            InterfaceConnect(OleObject, IID_IPropertyNotifySink, Identity(), PropConnection);
            InterfaceConnect(OleObject, ControlData->EventIID, EventDispatch, EventsConnection);
            OleControl->OnAmbientPropertyChange(DISPID_UNKNOWN);
        } catch (...) {
            DestroyControl();
            throw;
        }
    }
    if (!ControlInterface) {
        if (FAILED(OleObject->QueryInterface(IID_IkvFlashPlayer, reinterpret_cast<void**>(&ControlInterface))) ||
            !ControlInterface) {
            ControlInterface = nullptr;
            throw EOleSysError(L"The Flash control does not offer its main interface", E_NOINTERFACE);
        }
    }
}

void TkvFlashDriverActiveX::DestroyControl()
{
    if (OleObject)
        OleObject->Close(OLECLOSE_NOSAVE);
    if (OleObject) {
        InterfaceDisconnect(OleObject, ControlData->EventIID, EventsConnection);
        InterfaceDisconnect(OleObject, IID_IPropertyNotifySink, PropConnection);
    }
    ReleaseAndClear(PropBrowsing);
    ReleaseAndClear(ControlDispatch);
    ReleaseAndClear(OleControl);
}

void TkvFlashDriverActiveX::CreateStorage()
{
    DestroyStorage();
    if (!PersistStream)
        throw EOleSysError(L"The Flash control has no persistence interface", E_NOINTERFACE);
    kv::GlobalMem block(GlobalAlloc(GMEM_MOVEABLE, 0));
    if (!block)
        throw EOutOfMemory(L"Out of memory");
    {
        // The stream goes before the block it writes into is handed on.
        kv::ComPtr<IStream> stream;
        Check(CreateStreamOnHGlobal(block.get(), FALSE, stream.put()));
        Check(PersistStream->Save(stream.get(), TRUE));
    }
    ObjectData = block.detach();
}

void TkvFlashDriverActiveX::DestroyStorage()
{
    if (ObjectData) {
        GlobalFree(ObjectData);
        ObjectData = nullptr;
    }
}

TkvFlashDriverActiveX::~TkvFlashDriverActiveX()
{
    kvpending::DropOwnedBy(this);
    // The control may call back while it closes; nothing here may throw,
    // and a failure only leaves a trace. DestroyControl closes it: a
    // container closes its object once.
    kv::Entry("closing the control", [&] { DestroyControl(); });
    DestroyStorage();
    ReleaseAndClear(PersistStream);
    if (OleObject)
        OleObject->SetClientSite(nullptr);
    ReleaseAndClear(OleObject);
    if (ControlData && --ControlData->InstanceCount == 0)
        DestroyEnumPropDescs();
    ReleaseAndClear(ControlInterface);
    ReleaseInPlaceInterfaces();
    // Only now: a control whose event connection could not be undone still
    // holds the sink, and lets it go when its last reference (one of those
    // just released) goes.
    delete EventDispatch;
    EventDispatch = nullptr;
    if (RefCount != 0)
        kv::Trace("the control keeps " + std::to_string(RefCount) + " references on a site that is going");
}

void TkvFlashDriverActiveX::ReleaseInPlaceInterfaces()
{
    ControlCaptured = false;
    DCLent = false;
    ReleaseAndClear(InPlaceActiveObject);
    ReleaseAndClear(InPlaceObject);
    ReleaseAndClear(WindowlessObject);
    ReleaseAndClear(ViewObject);
    ReleaseAndClear(OleWindow);
}

IkvFlashPlayer* TkvFlashDriverActiveX::GetControlInterface()
{
    CreateControl();
    if (ControlInterface)
        ControlInterface->AddRef();
    return ControlInterface;
}

void TkvFlashDriverActiveX::SetName(const WideString& NewName)
{
    TkvFlashDriver::SetName(NewName);
    if (OleControl)
        OleControl->OnAmbientPropertyChange(DISPID_AMBIENT_DISPLAYNAME);
}

// ---------------------------------------------------------------------------
// Property access
// ---------------------------------------------------------------------------

bool TkvFlashDriverActiveX::DispatchReady()
{
    if (NoControl)
        return false;
    CreateControl();
    return ControlDispatch != nullptr;
}

void TkvFlashDriverActiveX::GetProperty(DISPID DispID, VARIANT& Value)
{
    VariantClear(&Value);
    if (!DispatchReady())
        return;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO info{};
    IDispatch* const dispatch = ControlDispatch;
    // A property read may run the movie's scripts (and application handlers).
    const HRESULT hr = CallPlayerWith(this, [&] {
                           return dispatch->Invoke(DispID, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &Value, &info,
                                                   nullptr);
                       }).Result;
    if (FAILED(hr))
        RaiseDispatchError(hr, info);
}

void TkvFlashDriverActiveX::SetProperty(DISPID DispID, const VARIANT& Value)
{
    if (!DispatchReady())
        return;
    VARIANT arg = Value;  // the callee only reads it
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    EXCEPINFO info{};
    const WORD flags = V_VT(&Value) == VT_DISPATCH ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
    IDispatch* const dispatch = ControlDispatch;
    // A property write may run the movie's scripts (and application handlers).
    const HRESULT hr = CallPlayerWith(this, [&] {
                           return dispatch->Invoke(DispID, GUID_NULL, 0, flags, &params, nullptr, &info, nullptr);
                       }).Result;
    if (FAILED(hr))
        RaiseDispatchError(hr, info);
}

void TkvFlashDriverActiveX::SetWideStringProp(DISPID DispID, const WideString& Value)
{
    // A BSTR made from the caller's text; an empty text is the null BSTR.
    const kv::Bstr text(Value);
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = text.get();  // lent: SetProperty only reads it
    SetProperty(DispID, v);
}

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

bool TkvFlashDriverActiveX::GetEventMethod(DISPID DispID, int& Slot) const
{
    const TkvControlDescription& d = ControlData ? *ControlData : ControlDescription;
    for (int i = 0; i < 4; ++i) {
        if (d.EventDispIDs[i] != DispID)
            continue;
        const bool assigned = (i == 0 && OnReadyStateChangeSlot.Assigned()) ||
                              (i == 1 && OnProgressSlot.Assigned()) || (i == 2 && FSCommandSlot.Assigned()) ||
                              (i == 3 && FlashCallSlot.Assigned());
        if (!assigned)
            return false;
        Slot = i;
        return true;
    }
    return false;
}

namespace {

// Argument `index` in declaration order (DISPPARAMS keeps them last-first).
const VARIANT* Arg(const DISPPARAMS& p, UINT index)
{
    if (!p.rgvarg || index >= p.cArgs)
        return nullptr;
    return &p.rgvarg[p.cArgs - 1 - index];
}

WideString TextArg(const DISPPARAMS& p, UINT index)
{
    const VARIANT* v = Arg(p, index);
    if (!v)
        return {};
    if (V_VT(v) == VT_BSTR)
        return V_BSTR(v) ? WideString(V_BSTR(v), SysStringLen(V_BSTR(v))) : WideString();
    if (V_VT(v) == (VT_BSTR | VT_BYREF) && V_BSTRREF(v) && *V_BSTRREF(v))
        return WideString(*V_BSTRREF(v), SysStringLen(*V_BSTRREF(v)));
    kv::Variant text;
    WideString out;
    if (SUCCEEDED(VariantChangeType(text.put(), const_cast<VARIANT*>(v), 0, VT_BSTR)) && V_BSTR(&text.get()))
        out.assign(V_BSTR(&text.get()), SysStringLen(V_BSTR(&text.get())));
    return out;
}

int IntArg(const DISPPARAMS& p, UINT index)
{
    const VARIANT* v = Arg(p, index);
    if (!v)
        return 0;
    kv::Variant n;
    int out = 0;
    if (SUCCEEDED(VariantChangeType(n.put(), const_cast<VARIANT*>(v), 0, VT_I4)))
        out = V_I4(&n.get());
    return out;
}

}  // namespace

void TkvFlashDriverActiveX::InvokeEvent(DISPID DispID, const DISPPARAMS& Params)
{
    int slot = -1;
    if (!GetEventMethod(DispID, slot))
        return;
    TkvDriverBusy busy(this);
    // An application handler runs here: its failure goes to the application.
    GuardedCall(this, [&] {
        switch (slot) {
            case 0: OnReadyStateChangeSlot(this, IntArg(Params, 0)); break;
            case 1: OnProgressSlot(this, IntArg(Params, 0)); break;
            case 2: FSCommandSlot(this, TextArg(Params, 0), TextArg(Params, 1)); break;
            case 3: FlashCallSlot(this, TextArg(Params, 0)); break;
        }
    });
}

void TkvFlashDriverActiveX::IntfFSCommand(TObject*, const WideString& command, const WideString& args)
{
    DoFSCommand(command, args);
}

void TkvFlashDriverActiveX::IntfFlashPlayerFlashCall(TObject*, const WideString& request) { DoFlashCall(request); }

HRESULT TEventDispatch::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) ||
        IsEqualGUID(riid, ControlDescription.EventIID)) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG TEventDispatch::AddRef() noexcept { return owner_->AddRef(); }
ULONG TEventDispatch::Release() noexcept { return owner_->Release(); }

// Both dispatch objects of the container describe nothing about themselves.
namespace {
HRESULT NoTypeInfoCount(UINT* pctinfo)
{
    if (pctinfo)
        *pctinfo = 0;
    return S_OK;
}

HRESULT NoTypeInfo(ITypeInfo** ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = nullptr;
    return E_NOTIMPL;
}
}  // namespace

HRESULT TEventDispatch::GetTypeInfoCount(UINT* pctinfo) noexcept { return NoTypeInfoCount(pctinfo); }

HRESULT TEventDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept { return NoTypeInfo(ppTInfo); }

HRESULT TEventDispatch::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept { return E_NOTIMPL; }

HRESULT TEventDispatch::Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                               EXCEPINFO*, UINT*) noexcept
{
    // Handlers' exceptions went to the application already (InvokeEvent);
    // whatever is left (no memory for an argument's text) is traced, and the
    // control hears S_OK as for every event.
    return kv::Entry("event sink Invoke", S_OK, [&] {
        static const DISPPARAMS none{nullptr, nullptr, 0, 0};
        owner_->InvokeEvent(dispIdMember, pDispParams ? *pDispParams : none);
        return S_OK;
    });
}

// ---------------------------------------------------------------------------
// IUnknown
// ---------------------------------------------------------------------------

HRESULT TkvFlashDriverActiveX::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IOleClientSite))
        *ppv = static_cast<IOleClientSite*>(this);
    else if (IsEqualGUID(riid, IID_IServiceProvider))
        *ppv = static_cast<IServiceProvider*>(this);
    else if (IsEqualGUID(riid, IID_IBindHost))
        *ppv = static_cast<IBindHost*>(this);
    else if (IsEqualGUID(riid, IID_IMoniker))
        *ppv = static_cast<IMoniker*>(this);
    else if (IsEqualGUID(riid, IID_IPropertyNotifySink))
        *ppv = static_cast<IPropertyNotifySink*>(this);
    else if (IsEqualGUID(riid, IID_IOleInPlaceUIWindow) || IsEqualGUID(riid, IID_IOleInPlaceFrame) ||
             IsEqualGUID(riid, IID_IOleWindow))
        *ppv = static_cast<IOleInPlaceFrame*>(&frame_);
    else if (IsEqualGUID(riid, IID_IDispatch))
        *ppv = static_cast<IDispatch*>(this);
    else if (IsEqualGUID(riid, IID_IOleInPlaceSiteWindowless))
        *ppv = static_cast<IOleInPlaceSiteWindowless*>(this);
    else if (IsEqualGUID(riid, IID_IOleInPlaceSite))
        *ppv = static_cast<IOleInPlaceSite*>(&plainSite_);
    else if (IsEqualGUID(riid, IID_IOleControlSite))
        *ppv = static_cast<IOleControlSite*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG TkvFlashDriverActiveX::AddRef() noexcept
{
    ++g_siteReferences;
    return static_cast<ULONG>(++RefCount);
}

ULONG TkvFlashDriverActiveX::Release() noexcept
{
    --g_siteReferences;
    return static_cast<ULONG>(--RefCount);
}

int kvax::SiteReferences() { return g_siteReferences; }

HRESULT TkvInPlaceFrame::QueryInterface(REFIID riid, void** ppv) noexcept { return owner_->QueryInterface(riid, ppv); }
ULONG TkvInPlaceFrame::AddRef() noexcept { return owner_->AddRef(); }
ULONG TkvInPlaceFrame::Release() noexcept { return owner_->Release(); }

HRESULT TkvInPlaceFrame::GetWindow(HWND* phwnd) noexcept { return kvax::NoWindow(phwnd); }

HRESULT TkvInPlaceFrame::SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR) noexcept
{
    kv::ReplaceField(owner_->InPlaceActiveObject, pActiveObject);
    return S_OK;
}

HRESULT TkvPlainInPlaceSite::QueryInterface(REFIID riid, void** ppv) noexcept { return owner_->QueryInterface(riid, ppv); }
ULONG TkvPlainInPlaceSite::AddRef() noexcept { return owner_->AddRef(); }
ULONG TkvPlainInPlaceSite::Release() noexcept { return owner_->Release(); }

HRESULT TkvPlainInPlaceSite::GetWindow(HWND* phwnd) noexcept { return kvax::NoWindow(phwnd); }

HRESULT TkvPlainInPlaceSite::CanInPlaceActivate() noexcept { return owner_->CanInPlaceActivate(); }
HRESULT TkvPlainInPlaceSite::OnInPlaceActivate() noexcept { return owner_->OnInPlaceActivate(); }
HRESULT TkvPlainInPlaceSite::OnUIActivate() noexcept { return owner_->OnUIActivate(); }
HRESULT TkvPlainInPlaceSite::GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                              LPRECT lprcPosRect, LPRECT lprcClipRect,
                                              LPOLEINPLACEFRAMEINFO lpFrameInfo) noexcept
{
    return owner_->GetWindowContext(ppFrame, ppDoc, lprcPosRect, lprcClipRect, lpFrameInfo);
}
HRESULT TkvPlainInPlaceSite::Scroll(SIZE scrollExtent) noexcept { return owner_->Scroll(scrollExtent); }
HRESULT TkvPlainInPlaceSite::OnUIDeactivate(BOOL fUndoable) noexcept { return owner_->OnUIDeactivate(fUndoable); }
HRESULT TkvPlainInPlaceSite::OnInPlaceDeactivate() noexcept { return owner_->OnInPlaceDeactivate(); }
HRESULT TkvPlainInPlaceSite::DiscardUndoState() noexcept { return owner_->DiscardUndoState(); }
HRESULT TkvPlainInPlaceSite::DeactivateAndUndo() noexcept { return owner_->DeactivateAndUndo(); }
HRESULT TkvPlainInPlaceSite::OnPosRectChange(LPCRECT lprcPosRect) noexcept { return owner_->OnPosRectChange(lprcPosRect); }

// ---------------------------------------------------------------------------
// Client and control site
// ---------------------------------------------------------------------------

HRESULT TkvFlashDriverActiveX::GetMoniker(DWORD, DWORD, IMoniker** ppmk) noexcept
{
    if (ppmk)
        *ppmk = nullptr;
    return E_NOTIMPL;
}

HRESULT TkvFlashDriverActiveX::GetContainer(IOleContainer** ppContainer) noexcept
{
    if (ppContainer)
        *ppContainer = nullptr;
    return E_NOINTERFACE;
}

HRESULT TkvFlashDriverActiveX::GetExtendedControl(IDispatch** ppDisp) noexcept
{
    if (ppDisp)
        *ppDisp = nullptr;
    return E_NOTIMPL;
}

HRESULT TkvFlashDriverActiveX::TransformCoords(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags) noexcept
{
    if (!pPtlHimetric || !pPtfContainer)
        return E_POINTER;
    const kv::ScreenDC screen;
    const int ppi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 96;
    if (dwFlags & XFORMCOORDS_HIMETRICTOCONTAINER) {
        pPtfContainer->x = static_cast<float>(MulDiv(pPtlHimetric->x, ppi, 2540));
        pPtfContainer->y = static_cast<float>(MulDiv(pPtlHimetric->y, ppi, 2540));
    } else {
        // Rounded half to even, as the framework's rounding does.
        pPtlHimetric->x = static_cast<LONG>(std::nearbyint(static_cast<double>(pPtfContainer->x) * 2540.0 / ppi));
        pPtlHimetric->y = static_cast<LONG>(std::nearbyint(static_cast<double>(pPtfContainer->y) * 2540.0 / ppi));
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// In-place site
// ---------------------------------------------------------------------------

HRESULT TkvFlashDriverActiveX::GetWindow(HWND* phwnd) noexcept
{
    if (!phwnd)
        return E_POINTER;
    *phwnd = nullptr;
    if (!ReportParentWindow)
        return E_FAIL;
    ReportParentWindow = false;
    *phwnd = GetParentHandle();
    return *phwnd ? S_OK : E_FAIL;
}

HRESULT TkvFlashDriverActiveX::OnInPlaceActivate() noexcept
{
    if (!OleObject)
        return S_OK;
    ReleaseAndClear(InPlaceActiveObject);
    ReleaseAndClear(InPlaceObject);
    ReleaseAndClear(WindowlessObject);
    ReleaseAndClear(ViewObject);
    OleObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&InPlaceObject));
    OleObject->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&InPlaceActiveObject));
    OleObject->QueryInterface(IID_IOleInPlaceObjectWindowless, reinterpret_cast<void**>(&WindowlessObject));
    OleObject->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&ViewObject));
    return S_OK;
}

HRESULT TkvFlashDriverActiveX::OnInPlaceActivateEx(BOOL*, DWORD) noexcept
{
    if (!OleObject)
        return S_OK;
    OnInPlaceActivate();
    ReleaseAndClear(OleWindow);
    OleObject->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&OleWindow));
    return S_OK;
}

HRESULT TkvFlashDriverActiveX::OnInPlaceDeactivate() noexcept
{
    ReleaseInPlaceInterfaces();
    return S_OK;
}

HRESULT TkvFlashDriverActiveX::GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                                LPRECT lprcPosRect, LPRECT lprcClipRect,
                                                LPOLEINPLACEFRAMEINFO lpFrameInfo) noexcept
{
    if (ppFrame) {
        *ppFrame = &frame_;
        frame_.AddRef();
    }
    if (ppDoc)
        *ppDoc = nullptr;
    if (lprcPosRect)
        SetRect(lprcPosRect, 0, 0, Width, Height);
    if (lprcClipRect)
        SetRect(lprcClipRect, 0, 0, 32767, 32767);
    if (lpFrameInfo) {
        lpFrameInfo->fMDIApp = FALSE;
        lpFrameInfo->hwndFrame = nullptr;
        lpFrameInfo->haccel = nullptr;
        lpFrameInfo->cAccelEntries = 0;
    }
    return S_OK;
}

HRESULT TkvFlashDriverActiveX::DeactivateAndUndo() noexcept
{
    if (InPlaceObject)
        InPlaceObject->UIDeactivate();
    return S_OK;
}

HRESULT TkvFlashDriverActiveX::OnPosRectChange(LPCRECT lprcPosRect) noexcept
{
    // The component decides where the control sits and how large it is: a
    // control that asks for another place (its movie's own size) is given the
    // buffer's rectangle again, so it keeps filling the component.
    if (InPlaceObject && lprcPosRect) {
        RECT pos{0, 0, Width, Height};
        RECT clip{0, 0, 32767, 32767};
        InPlaceObject->SetObjectRects(&pos, &clip);
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// Ambient properties
// ---------------------------------------------------------------------------

HRESULT TkvFlashDriverActiveX::GetTypeInfoCount(UINT* pctinfo) noexcept { return NoTypeInfoCount(pctinfo); }

HRESULT TkvFlashDriverActiveX::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept { return NoTypeInfo(ppTInfo); }

HRESULT TkvFlashDriverActiveX::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept { return E_NOTIMPL; }

HRESULT TkvFlashDriverActiveX::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS*,
                                      VARIANT* pVarResult, EXCEPINFO*, UINT*) noexcept
{
    if (!(wFlags & DISPATCH_PROPERTYGET) || !pVarResult)
        return DISP_E_MEMBERNOTFOUND;
    VARIANT& r = *pVarResult;
    VariantInit(&r);
    auto boolean = [&r](bool b) {
        V_VT(&r) = VT_BOOL;
        V_BOOL(&r) = b ? VARIANT_TRUE : VARIANT_FALSE;
    };
    switch (dispIdMember) {
        case DISPID_AMBIENT_AUTOCLIP:
        case DISPID_AMBIENT_SUPPORTSMNEMONICS:
        case DISPID_AMBIENT_USERMODE:
        case DISPID_AMBIENT_MESSAGEREFLECT:
            boolean(true);
            return S_OK;
        case DISPID_AMBIENT_SHOWHATCHING:
        case DISPID_AMBIENT_SHOWGRABHANDLES:
            boolean(false);
            return S_OK;
        case DISPID_AMBIENT_UIDEAD:
            boolean(ComponentState().Contains(csDesigning));
            return S_OK;
        case DISPID_AMBIENT_LOCALEID:
            V_VT(&r) = VT_I4;
            V_I4(&r) = static_cast<LONG>(GetUserDefaultLCID());
            return S_OK;
        case DISPID_AMBIENT_DISPLAYNAME: {
            const WideString name = Name();
            V_VT(&r) = VT_BSTR;
            V_BSTR(&r) = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
            return S_OK;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT TkvFlashDriverActiveX::OnChanged(DISPID dispID) noexcept
{
    // A descendant's failure is traced; the control is told the change is fine.
    return kv::Entry("IPropertyNotifySink::OnChanged", S_OK, [&] { return OnChangedImpl(dispID); });
}

HRESULT TkvFlashDriverActiveX::OnRequestEdit(DISPID dispID) noexcept
{
    return kv::Entry("IPropertyNotifySink::OnRequestEdit", S_OK, [&] { return OnRequestEditImpl(dispID); });
}

HRESULT TkvFlashDriverActiveX::QueryService(REFGUID, REFIID riid, void** ppvObject) noexcept
{
    return QueryInterface(riid, ppvObject);
}
