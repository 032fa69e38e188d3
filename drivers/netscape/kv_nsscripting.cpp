// The scripting bridge: movie operations as calls on the instance's
// scriptable object, and the plug-in's calls into the page (FSCommand and
// ExternalInterface) as application events.
#include <cstring>
#include <string>

#include "kv_boundary.h"
#include "kv_nsinternal.h"
#include "kv_nsscript.h"

using namespace kvns;

bool TkvFlashDriverNS::Invoke(const char* method, const NPVariant* args, std::uint32_t count, NPVariant& result)
{
    result = VoidVariant();
    if (!Ready())
        return false;
    // The movie's scripts run inside, and may release the driver through an
    // application handler; callers that go on check Released().
    return ScriptInvoke(method, args, count, result).Result;
}

void TkvFlashDriverNS::InvokeCommand(const char* method, const NPVariant* args, std::uint32_t count)
{
    NPVariant r;
    Invoke(method, args, count, r);
    ReleaseVariant(r);
}

namespace {

// Calls a method and answers its result converted by `read`; the result's
// storage goes back to the plug-in's allocator.
template <class R, class Read>
R Call(TkvFlashDriverNS& d, bool (TkvFlashDriverNS::*invoke)(const char*, const NPVariant*, std::uint32_t, NPVariant&),
       const char* method, const NPVariant* args, std::uint32_t count, R fallback, Read read)
{
    NPVariant result;
    const bool ok = (d.*invoke)(method, args, count, result);
    R value = ok ? read(result) : fallback;
    ReleaseVariant(result);
    return value;
}

}  // namespace

void TkvFlashDriverNS::Play()
{
    InvokeCommand("Play");
}

void TkvFlashDriverNS::StopPlay()
{
    InvokeCommand("StopPlay");
}

void TkvFlashDriverNS::Rewind()
{
    InvokeCommand("Rewind");
}

void TkvFlashDriverNS::Forward()
{
    InvokeCommand("Forward");
}

void TkvFlashDriverNS::Back()
{
    InvokeCommand("Back");
}

bool TkvFlashDriverNS::GetLoop()
{
    return Call<bool>(*this, &TkvFlashDriverNS::Invoke, "GetLoop", nullptr, 0, false, VariantToBool);
}

bool TkvFlashDriverNS::GetIsPlaying()
{
    return Call<bool>(*this, &TkvFlashDriverNS::Invoke, "IsPlaying", nullptr, 0, false, VariantToBool);
}

int TkvFlashDriverNS::GetCurrentFrame()
{
    return Call<int>(*this, &TkvFlashDriverNS::Invoke, "CurrentFrame", nullptr, 0, 0, VariantToInt);
}

int TkvFlashDriverNS::GetTotalFrames()
{
    return Call<int>(*this, &TkvFlashDriverNS::Invoke, "TotalFrames", nullptr, 0, 0, VariantToInt);
}

void TkvFlashDriverNS::SetLoop(bool Value)
{
    if (!Ready())
        return;
    NPVariant v{};
    v.type = NPVariantType_Bool;
    v.value.boolValue = Value;
    ScriptSetProperty("Loop", v);
}

void TkvFlashDriverNS::SetCurrentFrame(int Value)
{
    NPVariant arg{};
    arg.type = NPVariantType_Int32;
    arg.value.intValue = Value;
    InvokeCommand("GotoFrame", &arg, 1);
}

void TkvFlashDriverNS::SetVariable(const WideString& Name, const WideString& Value)
{
    const std::string name = ToUtf8(Name), value = ToUtf8(Value);
    const NPVariant args[2] = {StringVariant(name), StringVariant(value)};
    // The player sometimes refuses a variable while it is still setting up
    // the movie; one more try is what it takes.
    for (int attempt = 0; attempt < 2; ++attempt) {
        NPVariant r;
        const bool ok = Invoke("SetVariable", args, 2, r);
        ReleaseVariant(r);
        if (ok || !ScriptObject)
            break;
    }
}

WideString TkvFlashDriverNS::GetVariable(const WideString& Name)
{
    const std::string name = ToUtf8(Name);
    const NPVariant arg = StringVariant(name);
    const std::string v = Call<std::string>(*this, &TkvFlashDriverNS::Invoke, "GetVariable", &arg, 1, std::string(),
                                            VariantToUtf8);
    return FromUtf8(v.data(), v.size());
}

WideString TkvFlashDriverNS::CallFunction(const WideString& Request)
{
    const std::string request = ToUtf8(Request);
    const NPVariant arg = StringVariant(request);
    const std::string v = Call<std::string>(*this, &TkvFlashDriverNS::Invoke, "CallFunction", &arg, 1,
                                            std::string(), VariantToUtf8);
    return FromUtf8(v.data(), v.size());
}

void TkvFlashDriverNS::SetReturnValue(const WideString& Value)
{
    ReturnValue = Value;
}

namespace kvns {

bool Invoke(NPP npp, NPObject* /*obj*/, NPIdentifier method, const NPVariant* args, std::uint32_t count,
            NPVariant* result) noexcept
{
    // Whatever happens the plug-in hears true: its calls into the page never
    // fail (a failing handler went to the application already).
    return kv::Entry("NPN_Invoke", true, [&] {
        // The plug-in hands every result back through NPN_ReleaseVariantValue:
        // it must hold something we can release, also when nothing is answered.
        if (result)
            *result = VoidVariant();
        const char* name = IdentifierName(method);
        TkvFlashDriverNS* driver = TkvFlashDriverNS::FromInstance(npp);
        if (name && driver && std::strcmp(name, "_DoFSCommand") == 0) {
            auto arg = [&](std::uint32_t i) {
                const std::string s = (args && i < count) ? VariantToUtf8(args[i]) : std::string();
                return FromUtf8(s.data(), s.size());
            };
            const WideString command = arg(0), parameters = arg(1);
            TkvDriverBusy busy(driver);
            GuardedCall(driver, [&] { driver->DoFSCommand(command, parameters); });
            return true;
        }
        if (result)
            *result = OwnedStringVariant(std::string());
        return true;
    });
}

bool Evaluate(NPP npp, NPObject* /*obj*/, NPString* script, NPVariant* result) noexcept
{
    return kv::Entry("NPN_Evaluate", true, [&] {
        if (result)
            *result = OwnedStringVariant(std::string());
        TkvFlashDriverNS* driver = TkvFlashDriverNS::FromInstance(npp);
        if (!script || !script->UTF8Characters || !driver)
            return true;
        const WideString text = FromUtf8(script->UTF8Characters, script->UTF8Length);
        WideString request;
        if (!FlashCallScriptToRequest(text, request))
            return true;
        TkvDriverBusy busy(driver);
        driver->ReturnValue.clear();
        GuardedCall(driver, [&] { driver->DoFlashCall(request); });
        if (result) {
            ReleaseVariant(*result);
            *result = OwnedStringVariant(ToUtf8(driver->ReturnValue));
        }
        return true;
    });
}

}  // namespace kvns
