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
            intf_.attach(driver->GetControlInterface());
    }
    TControlCall(const TControlCall&) = delete;
    TControlCall& operator=(const TControlCall&) = delete;
    explicit operator bool() const { return static_cast<bool>(intf_); }
    // The driver was not released during the call (its handlers run inside).
    bool Survived() const { return !busy_.Released(); }
    IkvFlashPlayer* operator->() const { return intf_.get(); }

private:
    TkvDriverBusy busy_;
    kv::ComPtr<IkvFlashPlayer> intf_;
};

WideString Text(const kv::Bstr& b)
{
    return WideString(b.view());
}

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
        const kv::Bstr name(Name), value(Value);
        OleCheck(c->SetVariable(name, value));
    }
}

WideString TkvFlashDriverActiveX::GetVariable(const WideString& Name)
{
    kv::Bstr result;
    if (TControlCall c{this}) {
        const kv::Bstr name(Name);
        OleCheck(c->GetVariable(name, result.put()));
    }
    return Text(result);
}

WideString TkvFlashDriverActiveX::CallFunction(const WideString& Request)
{
    kv::Bstr result;
    if (TControlCall c{this}) {
        if (!HasExternalCalls(c))
            return {};
        const kv::Bstr request(Request);
        OleCheck(c->CallFunction(request, result.put()));
    }
    return Text(result);
}

void TkvFlashDriverActiveX::SetReturnValue(const WideString& Value)
{
    if (TControlCall c{this}) {
        if (!HasExternalCalls(c))
            return;
        const kv::Bstr value(Value);
        OleCheck(c->SetReturnValue(value));
    }
}
