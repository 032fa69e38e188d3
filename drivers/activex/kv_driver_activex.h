// The ActiveX back-end: plays movies through the Flash Player ActiveX control
// installed on the machine, activated in place as a windowless object whose
// container is the driver itself. The control draws into the driver's
// off-screen buffer and asks the driver for every URL it needs.
#pragma once

#include <windows.h>

#include <ocidl.h>
#include <oleidl.h>
#include <servprov.h>
#include <urlmon.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kv_flashocx.h"
#include "kv_flashplayer.h"

// ---------------------------------------------------------------------------
// The control's identifiers, under the names the package exports
// ---------------------------------------------------------------------------
extern const GUID CLASS_kvFlashPlayer;          // {D27CDB6E-AE6D-11CF-96B8-444553540000}
extern const GUID CLASS_FlashObjectInterface;   // {D27CDB71-AE6D-11CF-96B8-444553540000}
extern const GUID CLASS_FlashProp;              // {1171A62F-05D2-11D1-83FC-00A0C9089C5A}
// IID_IkvFlashPlayer, DIID__IkvFlashPlayerEvents, LIBID_kvFlashPlayerObjects,
// IID_IFlashFactory and IID_IFlashObjectInterface come with the contract header;
// IID_IDispatchEx, IID_IServiceProvider and IID_IBindHost with the system's.

// The control's dispatch-only view and the event interface's older name.
using IkvFlashPlayerDisp = IkvFlashPlayer;
using DShockwaveFlashEvents = _IkvFlashPlayerEvents;

// The control's events, as method pointers.
using TkvFlashPlayerOnReadyStateChange = TEvent<TObject* /*ASender*/, int /*newState*/>;
using TkvFlashPlayerOnProgress = TEvent<TObject* /*ASender*/, int /*percentDone*/>;
using TkvFlashPlayerFSCommand = TEvent<TObject* /*ASender*/, const WideString& /*command*/, const WideString& /*args*/>;
using TkvFlashPlayerFlashCall = TEvent<TObject* /*ASender*/, const WideString& /*request*/>;

// One enumeration-typed property of the control: its members in the order
// of the type information.
class TEnumPropDesc {
public:
    struct TEnumValue {
        int Value;
        AnsiString Name;
    };
    // Reads ValueCount members of the enumeration TypeInfo describes.
    TEnumPropDesc(DISPID DispID, int ValueCount, ITypeInfo* TypeInfo);
    DISPID DispID;
    int ValueCount;
    std::vector<TEnumValue> Values;
    // "<value> - <name>" for each member, in order.
    void GetStrings(const std::function<void(const AnsiString&)>& Proc) const;
    // A number that is a member's value, or a member's name in any letter case;
    // anything else raises EOleError.
    int StringToValue(const AnsiString& S) const;
    // "<value> - <name>" of the first member with that value, else the number.
    AnsiString ValueToString(int V) const;
};

// What every driver of the control shares: its class, its event interface,
// the events the driver routes, how many drivers are alive and the
// enumerated properties (made on demand, freed with the last driver).
struct TkvControlDescription {
    GUID ClassID;
    GUID EventIID;
    DISPID EventDispIDs[4];  // ready state, progress, FSCommand, FlashCall
    int InstanceCount;
    std::vector<std::unique_ptr<TEnumPropDesc>>* EnumPropDescs;
};

// A late-bound call: the member, how it is invoked, its arguments in
// declaration order, and the type its result is stored as (VT_EMPTY: kept as
// returned; VT_VOID: dropped).
struct TkvDispCall {
    DISPID DispID = DISPID_UNKNOWN;
    WORD Flags = DISPATCH_METHOD;
    VARTYPE ResultType = VT_EMPTY;
    std::vector<VARIANT> Args;
};

// Creators of the control's helper classes.
struct CoFlashProp {
    static IUnknown* Create();
    static IUnknown* CreateRemote(const AnsiString& MachineName);
};
struct CoFlashObjectInterface {
    static IFlashObjectInterface* Create();
    static IFlashObjectInterface* CreateRemote(const AnsiString& MachineName);
};
extern TkvControlDescription ControlDescription;

class TkvFlashDriverActiveX;

// Receives the control's events and hands them to its driver.
class TEventDispatch final : public IDispatch {
public:
    explicit TEventDispatch(TkvFlashDriverActiveX* owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) noexcept override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS* pDispParams,
                                     VARIANT*, EXCEPINFO*, UINT*) noexcept override;

private:
    TkvFlashDriverActiveX* owner_;
};

// The in-place frame and UI window the control is given. A separate object
// because its window query answers differently from the site's.
class TkvInPlaceFrame final : public IOleInPlaceFrame {
public:
    explicit TkvInPlaceFrame(TkvFlashDriverActiveX* owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) noexcept override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) noexcept override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) noexcept override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR) noexcept override;
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) noexcept override { return S_FALSE; }

private:
    TkvFlashDriverActiveX* owner_;
};

// The site as a plain in-place site (IOleInPlaceSite asked for by its own id):
// the driver's site, except that its window query always answers no window.
class TkvPlainInPlaceSite final : public IOleInPlaceSite {
public:
    explicit TkvPlainInPlaceSite(TkvFlashDriverActiveX* owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) noexcept override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() noexcept override;
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() noexcept override;
    HRESULT STDMETHODCALLTYPE OnUIActivate() noexcept override;
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                               LPRECT lprcPosRect, LPRECT lprcClipRect,
                                               LPOLEINPLACEFRAMEINFO lpFrameInfo) noexcept override;
    HRESULT STDMETHODCALLTYPE Scroll(SIZE scrollExtent) noexcept override;
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL fUndoable) noexcept override;
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() noexcept override;
    HRESULT STDMETHODCALLTYPE DiscardUndoState() noexcept override;
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() noexcept override;
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT lprcPosRect) noexcept override;

private:
    TkvFlashDriverActiveX* owner_;
};

class TkvFlashDriverActiveX : public TkvFlashDriver,
                              public IOleClientSite,
                              public IOleControlSite,
                              public IOleInPlaceSiteWindowless,
                              public IDispatch,
                              public IPropertyNotifySink,
                              public IServiceProvider,
                              public IBindHost,
                              public IMoniker {
    KV_CLASS(TkvFlashDriverActiveX, TkvFlashDriver)
public:
    TkvFlashDriverActiveX();
    ~TkvFlashDriverActiveX() override;

    static const TkvFlashDriverClass& ClassRef();
    const TkvFlashDriverClass& DriverClass() const override { return ClassRef(); }
    static bool PluginExists();

    // --- fields ---------------------------------------------------------------
    TkvControlDescription* ControlData = nullptr;
    int RefCount = 0;
    TEventDispatch* EventDispatch = nullptr;
    HGLOBAL ObjectData = nullptr;
    IOleObject* OleObject = nullptr;
    IPersistStreamInit* PersistStream = nullptr;
    IDispatch* ControlDispatch = nullptr;
    IPerPropertyBrowsing* PropBrowsing = nullptr;
    IViewObject* ViewObject = nullptr;
    DWORD PropConnection = 0;
    DWORD EventsConnection = 0;
    DWORD MiscStatus = 0;
    IOleInPlaceObjectWindowless* WindowlessObject = nullptr;
    IOleControl* OleControl = nullptr;
    IOleWindow* OleWindow = nullptr;
    IOleInPlaceObject* InPlaceObject = nullptr;
    IOleInPlaceActiveObject* InPlaceActiveObject = nullptr;
    bool NoControl = false;
    bool ReportParentWindow = false;
    TkvFlashPlayerOnReadyStateChange OnReadyStateChangeSlot;
    TkvFlashPlayerOnProgress OnProgressSlot;
    TkvFlashPlayerFSCommand FSCommandSlot;
    TkvFlashPlayerFlashCall FlashCallSlot;
    WideString PendingURL;
    IkvFlashPlayer* ControlInterface = nullptr;

    // --- operations added to the driver, in their order ---------------------
    virtual void InvokeEvent(DISPID DispID, const DISPPARAMS& Params);
    virtual void InitControlData();
    virtual bool SuppressException(const std::exception& E);
    virtual HRESULT OnChangedImpl(DISPID) { return S_OK; }
    virtual HRESULT OnRequestEditImpl(DISPID) { return S_OK; }

    // --- overrides of the driver base ----------------------------------------
    void SetName(const WideString& NewName) override;
    void CreateBuffer() override;
    void FreeBuffer() override;
    void ResizeBuffer() override;
    void Construct(int AWidth, int AHeight, std::uint32_t ABackground) override;
    void ForceUpdate() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseWheel(TShiftState Shift, int X, int Y, int WheelDelta, bool& Handled) override;
    void KeyDown(std::uint16_t& Key, TShiftState Shift) override;
    void KeyPress(wchar_t& Key, TShiftState Shift) override;
    void KeyUp(std::uint16_t& Key, TShiftState Shift) override;
    void LoadMovie(const WideString& URL) override;
    void LoadMovieFromStream(TStream* Stream) override;
    WideString GetVariable(const WideString& Name) override;
    void SetVariable(const WideString& Name, const WideString& Value) override;
    WideString CallFunction(const WideString& Request) override;
    void SetReturnValue(const WideString& Value) override;
    void Play() override;
    void StopPlay() override;
    void Rewind() override;
    void Forward() override;
    void Back() override;
    bool GetLoop() override;
    bool GetIsPlaying() override;
    int GetCurrentFrame() override;
    int GetTotalFrames() override;
    void SetLoop(bool Value) override;
    void SetCurrentFrame(int Value) override;

    // --- the control ----------------------------------------------------------
    bool GetIsFlashAvailable() const { return !NoControl; }
    void CreateInstance();
    void CreateControl();
    void DestroyControl();
    void CreateStorage();
    void DestroyStorage();
    // The control's main interface with one added reference (release it).
    IkvFlashPlayer* GetControlInterface();
    bool GetEventMethod(DISPID DispID, int& Slot) const;
    void IntfFSCommand(TObject* Sender, const WideString& command, const WideString& args);
    void IntfFlashPlayerFlashCall(TObject* Sender, const WideString& request);

    // Property access through the control's IDispatch.
    void GetProperty(DISPID DispID, VARIANT& Value);
    void SetProperty(DISPID DispID, const VARIANT& Value);
    void SetWideStringProp(DISPID DispID, const WideString& Value);
    // Connects the control if needed; false when there is no dispatch to call.
    bool DispatchReady();

    // Typed property access through the control's IDispatch.
    int GetIntegerProp(DISPID DispID);
    std::uint16_t GetWordProp(DISPID DispID);
    bool GetOleBoolProp(DISPID DispID);
    bool GetWordBoolProp(DISPID DispID);
    float GetSingleProp(DISPID DispID);
    AnsiString GetStringProp(DISPID DispID);
    WideString GetWideStringProp(DISPID DispID);
    void GetVariantProp(DISPID DispID, VARIANT& Value);
    void GetOleVariantProp(DISPID DispID, VARIANT& Value);
    IDispatch* GetIDispatchProp(DISPID DispID);  // one added reference
    IUnknown* GetIUnknownProp(DISPID DispID);    // one added reference
    void SetIntegerProp(DISPID DispID, int Value);
    void SetWordProp(DISPID DispID, std::uint16_t Value);
    void SetWordBoolProp(DISPID DispID, bool Value);
    void SetOleBoolProp(DISPID DispID, bool Value);
    void SetSingleProp(DISPID DispID, float Value);
    void SetStringProp(DISPID DispID, const AnsiString& Value);
    void SetVariantProp(DISPID DispID, const VARIANT& Value);
    void SetIDispatchProp(DISPID DispID, IDispatch* Value);
    void SetIUnknownProp(DISPID DispID, IUnknown* Value);
    void SetOleVariantProp(DISPID DispID, const VARIANT& Value);

    // Display strings, as a property inspector shows them.
    AnsiString GetPropDisplayString(DISPID DispID);
    void GetPropDisplayStrings(DISPID DispID, TStringList& Strings);
    void SetPropDisplayString(DISPID DispID, const AnsiString& Value);

    // The enumeration-typed properties, shared by every driver.
    void CreateEnumPropDescs();
    void DestroyEnumPropDescs();

    // Late binding.
    void InvokeMethod(const TkvDispCall& DispInfo, VARIANT& Result);
    void GetOleObject(VARIANT& Result);
    IDispatch* GetDefaultDispatch();  // one added reference

    // Draws the control into the buffer for the update rectangle.
    void Repaint(const RECT& Rect);

    // --- IUnknown (one identity for every interface of the driver) ----------
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;

    // --- IOleClientSite -------------------------------------------------------
    HRESULT STDMETHODCALLTYPE SaveObject() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** ppmk) noexcept override;
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** ppContainer) noexcept override;
    HRESULT STDMETHODCALLTYPE ShowObject() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() noexcept override { return S_OK; }

    // --- IOleControlSite ------------------------------------------------------
    HRESULT STDMETHODCALLTYPE OnControlInfoChanged() noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch** ppDisp) noexcept override;
    HRESULT STDMETHODCALLTYPE TransformCoords(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags) noexcept override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, DWORD) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnFocus(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ShowPropertyFrame() noexcept override { return E_NOTIMPL; }

    // --- IOleWindow / IOleInPlaceSite / Ex / Windowless ----------------------
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) noexcept override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() noexcept override;
    HRESULT STDMETHODCALLTYPE OnUIActivate() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                               LPRECT lprcPosRect, LPRECT lprcClipRect,
                                               LPOLEINPLACEFRAMEINFO lpFrameInfo) noexcept override;
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() noexcept override;
    HRESULT STDMETHODCALLTYPE DiscardUndoState() noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() noexcept override;
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT lprcPosRect) noexcept override;
    HRESULT STDMETHODCALLTYPE OnInPlaceActivateEx(BOOL* pfNoRedraw, DWORD dwFlags) noexcept override;
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivateEx(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestUIActivate() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CanWindowlessActivate() noexcept override { return S_OK; }
    // The control holds the mouse from its SetCapture(TRUE) to its
    // SetCapture(FALSE) (or its deactivation): it asks during a drag whether
    // it still does.
    HRESULT STDMETHODCALLTYPE GetCapture() noexcept override { return ControlCaptured ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetCapture(BOOL fCapture) noexcept override
    {
        ControlCaptured = fCapture != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFocus() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetFocus(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetDC(LPCRECT pRect, DWORD grfFlags, HDC* phDC) noexcept override;
    HRESULT STDMETHODCALLTYPE ReleaseDC(HDC hDC) noexcept override;
    HRESULT STDMETHODCALLTYPE InvalidateRect(LPCRECT pRect, BOOL fErase) noexcept override;
    HRESULT STDMETHODCALLTYPE InvalidateRgn(HRGN hRGN, BOOL fErase) noexcept override;
    HRESULT STDMETHODCALLTYPE ScrollRect(INT, INT, LPCRECT, LPCRECT) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AdjustRect(LPRECT) noexcept override { return S_OK; }
    // No window procedure stands behind the control: nothing handles the
    // message by default.
    HRESULT STDMETHODCALLTYPE OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT* plResult) noexcept override
    {
        if (plResult)
            *plResult = 0;
        return S_FALSE;
    }

    // --- IDispatch: the ambient properties ------------------------------------
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) noexcept override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                     UINT* puArgErr) noexcept override;

    // --- IPropertyNotifySink --------------------------------------------------
    HRESULT STDMETHODCALLTYPE OnChanged(DISPID dispID) noexcept override;
    HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID dispID) noexcept override;

    // --- IServiceProvider -----------------------------------------------------
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID guidService, REFIID riid, void** ppvObject) noexcept override;

    // --- IBindHost --------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE CreateMoniker(LPOLESTR szName, IBindCtx* pBC, IMoniker** ppmk,
                                            DWORD dwReserved) noexcept override;
    HRESULT STDMETHODCALLTYPE MonikerBindToStorage(IMoniker* pMk, IBindCtx* pBC, IBindStatusCallback* pBSC,
                                                   REFIID riid, void** ppvObj) noexcept override;
    HRESULT STDMETHODCALLTYPE MonikerBindToObject(IMoniker* pMk, IBindCtx* pBC, IBindStatusCallback* pBSC,
                                                  REFIID riid, void** ppvObj) noexcept override;

    // --- IMoniker (with IPersist and IPersistStream) ---------------------------
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDirty() noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Load(IStream*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID, void**) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riid,
                                            void** ppvObj) noexcept override;
    HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker** ppmkReduced) noexcept override;
    HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, BOOL, IMoniker** ppmkComposite) noexcept override;
    HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker** ppenumMoniker) noexcept override;
    HRESULT STDMETHODCALLTYPE IsEqual(IMoniker*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Hash(DWORD*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Inverse(IMoniker** ppmk) noexcept override;
    HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker** ppmkPrefix) noexcept override;
    HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker** ppmkRelPath) noexcept override;
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker** ppmkOut) noexcept override;
    HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD*) noexcept override { return E_NOTIMPL; }

    IUnknown* Identity() { return static_cast<IOleClientSite*>(this); }
    IOleClientSite* ClientSite() { return this; }

private:
    friend class TkvInPlaceFrame;
    TkvInPlaceFrame frame_{this};
    TkvPlainInPlaceSite plainSite_{this};
    void SendMouse(UINT message, WPARAM wParam, int X, int Y);
    // A window message for the windowless control (E_FAIL without one).
    TkvPlayerCall<HRESULT> SendMessageToControl(UINT message, WPARAM wParam, LPARAM lParam);
    void DrawInto(HDC dc, const RECT& clip);
    void LoadControlMovie(const WideString& url);
    void SetVideoVariables(const WideString& first, const WideString& firstValue);
    void ReleaseInPlaceInterfaces();
    bool ControlCaptured = false;
    // The part of the buffer the control drew into itself through GetDC;
    // repainted when the DC comes back.
    bool DCLent = false;
    RECT LentRect{0, 0, 0, 0};
};

// Probes for the control once per process; makes the ActiveX driver the
// default when it can be created.
void CheckFlashActiveX();
bool ActiveXChecked();
bool ActiveXAvailable();

// Raises the framework's dispatch error from a failed IDispatch call; frees
// the texts in Info.
[[noreturn]] void RaiseDispatchError(HRESULT hr, EXCEPINFO& Info);

void kv_driver_activex_Start();
void kv_driver_activex_Stop();
// URLOpenPullStreamW of urlmon.dll, or nullptr when the system lacks it.
using TURLOpenPullStreamW = HRESULT(WINAPI*)(IUnknown*, LPCWSTR, DWORD, IBindStatusCallback*);
TURLOpenPullStreamW ActiveXURLOpenPullStream();
