// The control's registered type library against the control's published
// interface: the package calls the main interface through its vtable and the
// events arrive by DISPID, so both must be the published ones, whatever the
// IDL the package is built from says.
#include <gtest/gtest.h>

#include <windows.h>

#include <oleauto.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

// Identifiers as published, written out here rather than taken from the
// package's contract header.
constexpr GUID kLibrary = {0xD27CDB6B, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID kMain = {0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID kEvents = {0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

constexpr INVOKEKIND Get = INVOKE_PROPERTYGET;
constexpr INVOKEKIND Put = INVOKE_PROPERTYPUT;
constexpr INVOKEKIND Call = INVOKE_FUNC;

struct Member {
    const wchar_t* name;
    INVOKEKIND kind;
    MEMBERID id;
    short params;  // the [out, retval] parameter included
};

// The main interface (IShockwaveFlash, {D27CDB6C-AE6D-11CF-96B8-444553540000})
// in vtable order after IDispatch's seven entries, with each member's DISPID.
// Written from the control's published interface listing: the type library of
// Flash Player 9's control (Flash9e.ocx) as the OLE/COM Object Viewer prints
// it, a copy of which is public in the CasparCG server repository
// (modules/flash/interop/Flash9e.IDL).
const Member kMainInterface[] = {
    {L"ReadyState", Get, -525, 1},
    {L"TotalFrames", Get, 0x7C, 1},
    {L"Playing", Get, 0x7D, 1},
    {L"Playing", Put, 0x7D, 1},
    {L"Quality", Get, 0x69, 1},
    {L"Quality", Put, 0x69, 1},
    {L"ScaleMode", Get, 0x78, 1},
    {L"ScaleMode", Put, 0x78, 1},
    {L"AlignMode", Get, 0x79, 1},
    {L"AlignMode", Put, 0x79, 1},
    {L"BackgroundColor", Get, 0x7B, 1},
    {L"BackgroundColor", Put, 0x7B, 1},
    {L"Loop", Get, 0x6A, 1},
    {L"Loop", Put, 0x6A, 1},
    {L"Movie", Get, 0x66, 1},
    {L"Movie", Put, 0x66, 1},
    {L"FrameNum", Get, 0x6B, 1},
    {L"FrameNum", Put, 0x6B, 1},
    {L"SetZoomRect", Call, 0x6D, 4},
    {L"Zoom", Call, 0x76, 1},
    {L"Pan", Call, 0x77, 3},
    {L"Play", Call, 0x70, 0},
    {L"Stop", Call, 0x71, 0},
    {L"Back", Call, 0x72, 0},
    {L"Forward", Call, 0x73, 0},
    {L"Rewind", Call, 0x74, 0},
    {L"StopPlay", Call, 0x7E, 0},
    {L"GotoFrame", Call, 0x7F, 1},
    {L"CurrentFrame", Call, 0x80, 1},
    {L"IsPlaying", Call, 0x81, 1},
    {L"PercentLoaded", Call, 0x82, 1},
    {L"FrameLoaded", Call, 0x83, 2},
    {L"FlashVersion", Call, 0x84, 1},
    {L"WMode", Get, 0x85, 1},
    {L"WMode", Put, 0x85, 1},
    {L"SAlign", Get, 0x86, 1},
    {L"SAlign", Put, 0x86, 1},
    {L"Menu", Get, 0x87, 1},
    {L"Menu", Put, 0x87, 1},
    {L"Base", Get, 0x88, 1},
    {L"Base", Put, 0x88, 1},
    {L"Scale", Get, 0x89, 1},
    {L"Scale", Put, 0x89, 1},
    {L"DeviceFont", Get, 0x8A, 1},
    {L"DeviceFont", Put, 0x8A, 1},
    {L"EmbedMovie", Get, 0x8B, 1},
    {L"EmbedMovie", Put, 0x8B, 1},
    {L"BGColor", Get, 0x8C, 1},
    {L"BGColor", Put, 0x8C, 1},
    {L"Quality2", Get, 0x8D, 1},
    {L"Quality2", Put, 0x8D, 1},
    {L"LoadMovie", Call, 0x8E, 2},
    {L"TGotoFrame", Call, 0x8F, 2},
    {L"TGotoLabel", Call, 0x90, 2},
    {L"TCurrentFrame", Call, 0x91, 2},
    {L"TCurrentLabel", Call, 0x92, 2},
    {L"TPlay", Call, 0x93, 1},
    {L"TStopPlay", Call, 0x94, 1},
    {L"SetVariable", Call, 0x97, 2},
    {L"GetVariable", Call, 0x98, 2},
    {L"TSetProperty", Call, 0x99, 3},
    {L"TGetProperty", Call, 0x9A, 3},
    {L"TCallFrame", Call, 0x9B, 2},
    {L"TCallLabel", Call, 0x9C, 2},
    {L"TSetPropertyNum", Call, 0x9D, 3},
    {L"TGetPropertyNum", Call, 0x9E, 3},
    {L"TGetPropertyAsNumber", Call, 0xAC, 3},
    {L"SWRemote", Get, 0x9F, 1},
    {L"SWRemote", Put, 0x9F, 1},
    {L"FlashVars", Get, 0xAA, 1},
    {L"FlashVars", Put, 0xAA, 1},
    {L"AllowScriptAccess", Get, 0xAB, 1},
    {L"AllowScriptAccess", Put, 0xAB, 1},
    {L"MovieData", Get, 0xBE, 1},
    {L"MovieData", Put, 0xBE, 1},
    {L"InlineData", Get, 0xBF, 1},
    {L"InlineData", Put, 0xBF, 1},
    {L"SeamlessTabbing", Get, 0xC0, 1},
    {L"SeamlessTabbing", Put, 0xC0, 1},
    {L"EnforceLocalSecurity", Call, 0xC1, 0},
    {L"Profile", Get, 0xC2, 1},
    {L"Profile", Put, 0xC2, 1},
    {L"ProfileAddress", Get, 0xC3, 1},
    {L"ProfileAddress", Put, 0xC3, 1},
    {L"ProfilePort", Get, 0xC4, 1},
    {L"ProfilePort", Put, 0xC4, 1},
    {L"CallFunction", Call, 0xC6, 2},
    {L"SetReturnValue", Call, 0xC7, 1},
    {L"DisableLocalSecurity", Call, 0xC8, 0},
    {L"AllowNetworking", Get, 0xC9, 1},
    {L"AllowNetworking", Put, 0xC9, 1},
    {L"AllowFullScreen", Get, 0xCA, 1},
    {L"AllowFullScreen", Put, 0xCA, 1},
};

// The event interface (_IShockwaveFlashEvents, a dispinterface), from the
// same listing.
const Member kEventInterface[] = {
    {L"OnReadyStateChange", Call, -609, 1},
    {L"OnProgress", Call, 0x7A6, 1},
    {L"FSCommand", Call, 0x96, 2},
    {L"FlashCall", Call, 0xC5, 1},
};

std::wstring NameOf(ITypeInfo* info, MEMBERID id)
{
    BSTR name = nullptr;
    if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr)) || !name)
        return L"<no name>";
    std::wstring out(name, SysStringLen(name));
    SysFreeString(name);
    return out;
}

std::string Narrow(const std::wstring& w)
{
    return std::string(w.begin(), w.end());  // the names are ASCII
}

class ControlTypeLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The library as the control's registration left it, not the file.
        ASSERT_EQ(LoadRegTypeLib(kLibrary, 1, 0, LOCALE_NEUTRAL, &lib), S_OK)
            << "the reference control's type library is not registered in this prefix";
        ASSERT_EQ(lib->GetTypeInfoOfGuid(kMain, &dispatch), S_OK);
        // A dual interface: its vtable half is the implemented type -1.
        HREFTYPE ref = 0;
        ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK) << "not a dual interface";
        ASSERT_EQ(dispatch->GetRefTypeInfo(ref, &vtable), S_OK);
        ASSERT_EQ(lib->GetTypeInfoOfGuid(kEvents, &events), S_OK);
    }
    void TearDown() override
    {
        for (ITypeInfo* i : {events, vtable, dispatch})
            if (i)
                i->Release();
        if (lib)
            lib->Release();
    }
    // The members of a type description in its own order.
    static std::vector<FUNCDESC> Functions(ITypeInfo* info, TYPEKIND expectedKind)
    {
        std::vector<FUNCDESC> out;
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr)))
            return out;
        EXPECT_EQ(attr->typekind, expectedKind);
        const UINT count = attr->cFuncs;
        info->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < count; ++i) {
            FUNCDESC* f = nullptr;
            if (FAILED(info->GetFuncDesc(i, &f)))
                continue;
            out.push_back(*f);  // the scalar fields outlive the description
            info->ReleaseFuncDesc(f);
        }
        return out;
    }
    ITypeLib* lib = nullptr;
    ITypeInfo* dispatch = nullptr;
    ITypeInfo* vtable = nullptr;
    ITypeInfo* events = nullptr;
};

TEST_F(ControlTypeLibrary, TheMainInterfacesVtableOrderAndDispidsAreThePublishedOnes)
{
    const std::vector<FUNCDESC> funcs = Functions(vtable, TKIND_INTERFACE);
    ASSERT_EQ(funcs.size(), std::size(kMainInterface)) << "members added or missing";
    for (size_t i = 0; i < funcs.size(); ++i) {
        const Member& want = kMainInterface[i];
        const FUNCDESC& got = funcs[i];
        SCOPED_TRACE("vtable entry " + std::to_string(7 + i) + ": " + Narrow(want.name));
        EXPECT_EQ(NameOf(vtable, got.memid), want.name);
        EXPECT_EQ(got.invkind, want.kind);
        EXPECT_EQ(got.memid, want.id);
        EXPECT_EQ(got.cParams, want.params);
        EXPECT_EQ(got.oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << "its slot in the table";
        EXPECT_EQ(got.callconv, CC_STDCALL);
    }
}

TEST_F(ControlTypeLibrary, LateBoundNamesFindThePublishedDispids)
{
    for (const Member& m : kMainInterface) {
        LPOLESTR name = const_cast<LPOLESTR>(m.name);
        MEMBERID id = MEMBERID_NIL;
        EXPECT_EQ(dispatch->GetIDsOfNames(&name, 1, &id), S_OK) << Narrow(m.name);
        EXPECT_EQ(id, m.id) << Narrow(m.name);
    }
}

TEST_F(ControlTypeLibrary, TheEventInterfaceCarriesThePublishedDispids)
{
    const std::vector<FUNCDESC> funcs = Functions(events, TKIND_DISPATCH);
    ASSERT_EQ(funcs.size(), std::size(kEventInterface));
    for (size_t i = 0; i < funcs.size(); ++i) {
        const Member& want = kEventInterface[i];
        SCOPED_TRACE(Narrow(want.name));
        EXPECT_EQ(NameOf(events, funcs[i].memid), want.name);
        EXPECT_EQ(funcs[i].memid, want.id);
        EXPECT_EQ(funcs[i].invkind, want.kind);
        EXPECT_EQ(funcs[i].cParams, want.params);
    }
}

}  // namespace
