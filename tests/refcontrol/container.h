// A small generic OLE container for testing the reference control on its own:
// a client site with a windowless in-place site that records repaint
// requests, an ambient-property dispatch, a service provider whose bind host
// serves movie bytes from memory (whole, in pieces, later, or not at all),
// and an event sink. It creates the control by its class id, as any
// container would, and drives it through its published interfaces only.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
#include <urlmon.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kv_flashocx.h"
#include "refcontrol_seams.h"

namespace controltest {

template <typename T>
class Ptr {
public:
    Ptr() = default;
    Ptr(const Ptr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    Ptr& operator=(const Ptr& o)
    {
        Ptr copy(o);
        std::swap(p_, copy.p_);
        return *this;
    }
    ~Ptr() { reset(); }
    void reset()
    {
        if (p_)
            p_->Release();
        p_ = nullptr;
    }
    T** put()
    {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// A 32-bit pixel buffer selected into a memory DC: a top-down DIB section, or
// a device bitmap for the path the control cannot blend into itself.
class Surface {
public:
    Surface(int width, int height, bool dib = true);
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    HDC dc() const { return dc_; }
    void fill(uint32_t argb);
    uint32_t pixel(int x, int y) const;

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
};

// How the bind host hands a URL's bytes to the control's callback.
enum class Delivery {
    AtOnce,      // inside BindToStorage, one OnDataAvailable
    InPieces,    // inside BindToStorage, several OnDataAvailable with growing sizes
    Later,       // kept; deliverPending() sends it in one piece
    Fail,        // OnStopBinding with an error, no data
};

struct EventRecord {
    DISPID id;
    std::vector<std::wstring> strings;
    std::vector<LONG> numbers;
};

class Container {
public:
    Container();
    ~Container();
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    // ---- the site's state, as the control left it ----
    std::vector<RECT> invalidations;
    std::vector<std::wstring> monikerNames;  // CreateMoniker, in order
    bool windowlessActivated = false;
    bool deactivated = false;
    bool bscbHolderWasOurs = false;         // the bind context held an IBindStatusCallback under _BSCB_Holder_
    HWND siteWindow = nullptr;              // what GetWindow answers
    int siteReferences() const;             // references the control holds on the site objects
    std::vector<EventRecord> events;
    // Called inside a FlashCall event, with the request text.
    std::function<void(const std::wstring&)> onFlashCall;
    // Called inside an FSCommand event.
    std::function<void(const std::wstring&, const std::wstring&)> onFSCommand;
    // Called inside each InvalidateRect (the control may be drawn there).
    std::function<void(const RECT&)> onInvalidate;

    // ---- the bind host ----
    void serve(const std::wstring& url, std::vector<uint8_t> bytes, Delivery how = Delivery::AtOnce);
    HRESULT createMonikerAnswer = S_OK;  // a failure makes CreateMoniker refuse
    void deliverPending();

    // ---- the control ----
    HRESULT create();  // CoCreateInstance(CLSID_kvFlashPlayer) for IOleObject
    // The hosting sequence of a real container: misc status, client site,
    // InitNew, event connections, in-place activation windowless at
    // (x, y, x + width, y + height), and SetObjectRects.
    HRESULT createAndActivate(int width, int height, int x = 0, int y = 0);
    void destroy();  // Close, disconnect, SetClientSite(null), release
    IOleObject* object() const { return object_.get(); }
    template <typename T>
    Ptr<T> query(REFIID iid) const
    {
        Ptr<T> out;
        if (object_)
            object_->QueryInterface(iid, out.putVoid());
        return out;
    }
    IkvFlashPlayer* player() const { return player_.get(); }
    HRESULT draw(HDC dc, RECT bounds, DWORD aspect = DVASPECT_CONTENT);
    HRESULT message(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result = nullptr);
    // Loads `bytes` as the movie "http://movies/<name>" and steps no frame.
    HRESULT loadMovie(const std::wstring& name, std::vector<uint8_t> bytes, Delivery how = Delivery::AtOnce);

    // Property ids the control announced through IPropertyNotifySink.
    std::vector<DISPID> changedProperties() const;

    struct Site;  // the COM objects
    Site* site() const { return site_; }

private:
    Site* site_;
    Ptr<IOleObject> object_;
    Ptr<IkvFlashPlayer> player_;
    DWORD eventCookie_ = 0, notifyCookie_ = 0;
    Ptr<IConnectionPoint> eventPoint_, notifyPoint_;
};

// The control module's seams, resolved after the first control was created.
struct Seams {
    RefControl_StepFramesFunc stepFrames = nullptr;
    RefControl_SetManualClockFunc setManualClock = nullptr;
    RefControl_EnableLogFunc enableLog = nullptr;
    RefControl_ClearLogFunc clearLog = nullptr;
    RefControl_ReadLogFunc readLog = nullptr;
    RefControl_InstanceCountFunc instanceCount = nullptr;
    RefControl_ObjectCountFunc objectCount = nullptr;
    bool resolve();
    std::string log() const;
};

// The settings key of the control (tests that write it hold a lock).
void setConfigDword(const wchar_t* name, DWORD value);
void setConfigString(const wchar_t* name, const wchar_t* value);
void setFailure(const char* method, HRESULT hr);
void clearConfig();

std::wstring bstrText(BSTR b);
std::vector<std::string> lines(const std::string& log, const std::string& prefix);

}  // namespace controltest
