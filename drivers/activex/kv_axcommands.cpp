// Playback and scripting: each operation is one call on the control's main
// interface, through its virtual table. A failure result raises.
#include <windows.h>

#include "framework/winstreams.h"
#include "kv_axinternal.h"
#include "kv_driver_activex.h"

namespace {

// The control's main interface for one operation, released when it ends.
class TControlCall {
public:
    explicit TControlCall(TkvFlashDriverActiveX* driver) : busy_(driver)
    {
        if (!driver->NoControl)
            intf_ = driver->GetControlInterface();
    }
    ~TControlCall()
    {
        if (intf_)
            intf_->Release();
    }
    TControlCall(const TControlCall&) = delete;
    TControlCall& operator=(const TControlCall&) = delete;
    explicit operator bool() const { return intf_ != nullptr; }
    IkvFlashPlayer* operator->() const { return intf_; }

private:
    TkvDriverBusy busy_;
    IkvFlashPlayer* intf_ = nullptr;
};

class TBStr {
public:
    explicit TBStr(const WideString& text)
        : s_(text.empty() ? nullptr : SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
    }
    TBStr() = default;
    ~TBStr() { SysFreeString(s_); }
    TBStr(const TBStr&) = delete;
    TBStr& operator=(const TBStr&) = delete;
    operator BSTR() const { return s_; }
    BSTR* Out()
    {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    WideString Text() const { return s_ ? WideString(s_, SysStringLen(s_)) : WideString(); }

private:
    BSTR s_ = nullptr;
};

bool HasExternalCalls(const TControlCall& call)
{
    return kvax::HasPlayer8Methods(call.operator->());
}

}  // namespace

void TkvFlashDriverActiveX::Play()
{
    if (TControlCall c{this})
        OleCheck(c->Play());
}

void TkvFlashDriverActiveX::StopPlay()
{
    if (TControlCall c{this})
        OleCheck(c->StopPlay());
}

void TkvFlashDriverActiveX::Rewind()
{
    if (TControlCall c{this})
        OleCheck(c->Rewind());
}

void TkvFlashDriverActiveX::Forward()
{
    if (TControlCall c{this})
        OleCheck(c->Forward());
}

void TkvFlashDriverActiveX::Back()
{
    if (TControlCall c{this})
        OleCheck(c->Back());
}

bool TkvFlashDriverActiveX::GetLoop()
{
    VARIANT_BOOL v = VARIANT_FALSE;
    if (TControlCall c{this})
        OleCheck(c->get_Loop(&v));
    return v != 0;
}

void TkvFlashDriverActiveX::SetLoop(bool Value)
{
    if (TControlCall c{this})
        OleCheck(c->put_Loop(Value ? VARIANT_TRUE : VARIANT_FALSE));
}

bool TkvFlashDriverActiveX::GetIsPlaying()
{
    VARIANT_BOOL v = VARIANT_FALSE;
    if (TControlCall c{this})
        OleCheck(c->IsPlaying(&v));
    return v != 0;
}

int TkvFlashDriverActiveX::GetCurrentFrame()
{
    LONG v = 0;
    if (TControlCall c{this})
        OleCheck(c->CurrentFrame(&v));
    return v;
}

int TkvFlashDriverActiveX::GetTotalFrames()
{
    LONG v = 0;
    if (TControlCall c{this})
        OleCheck(c->get_TotalFrames(&v));
    return v;
}

void TkvFlashDriverActiveX::SetCurrentFrame(int Value)
{
    if (TControlCall c{this})
        OleCheck(c->put_FrameNum(Value));
}

void TkvFlashDriverActiveX::SetVariable(const WideString& Name, const WideString& Value)
{
    if (TControlCall c{this}) {
        TBStr name(Name), value(Value);
        OleCheck(c->SetVariable(name, value));
    }
}

WideString TkvFlashDriverActiveX::GetVariable(const WideString& Name)
{
    TBStr result;
    if (TControlCall c{this}) {
        TBStr name(Name);
        OleCheck(c->GetVariable(name, result.Out()));
    }
    return result.Text();
}

WideString TkvFlashDriverActiveX::CallFunction(const WideString& Request)
{
    TBStr result;
    if (TControlCall c{this}) {
        if (!HasExternalCalls(c))
            return {};
        TBStr request(Request);
        OleCheck(c->CallFunction(request, result.Out()));
    }
    return result.Text();
}

void TkvFlashDriverActiveX::SetReturnValue(const WideString& Value)
{
    if (TControlCall c{this}) {
        if (!HasExternalCalls(c))
            return;
        TBStr value(Value);
        OleCheck(c->SetReturnValue(value));
    }
}
