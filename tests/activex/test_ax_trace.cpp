// The package's trace: with KV_TRACE set, what its edges caught reaches the
// debugger's output; without it, nothing does. The switch is read once per
// process, so each setting runs in a child copy of this program (started
// with --provoke), which provokes the failures and records every line given
// to OutputDebugString in its own process.
#include <gtest/gtest.h>

#include <windows.h>

#include <ocidl.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "framework/sysutils.h"
#include "kv_driver_activex.h"
#include "kv_package.h"

namespace {

// ---------------------------------------------------------------------------
// The child: provokes, and records what the process said
// ---------------------------------------------------------------------------

std::vector<std::string> g_said;

// OutputDebugString raises DBG_PRINTEXCEPTION_C, debugger or not, and a
// vectored handler sees it before the function's own handler takes it back.
LONG CALLBACK Record(EXCEPTION_POINTERS* e)
{
    const EXCEPTION_RECORD* r = e->ExceptionRecord;
    if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2 && r->ExceptionInformation[1]) {
        std::string line(reinterpret_cast<const char*>(r->ExceptionInformation[1]),
                         static_cast<size_t>(r->ExceptionInformation[0]));
        while (!line.empty() && (line.back() == '\0' || line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        g_said.push_back(line);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// A driver for a class registered nowhere (its control cannot be created)
// whose change handler fails, as a descendant's may.
class TRefusingDriver : public TkvFlashDriverActiveX {
public:
    void InitControlData() override
    {
        static TkvControlDescription d = [] {
            TkvControlDescription c = ControlDescription;
            c.ClassID = {0x2E5F0C11, 0x7A40, 0x4B1D, {0x8C, 0x33, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60}};
            return c;
        }();
        ControlData = &d;
    }
    HRESULT OnChangedImpl(DISPID) override { throw EOleSysError(L"the change was refused", E_UNEXPECTED); }
};

int Provoke(const char* recordPath)
{
    PVOID handler = AddVectoredExceptionHandler(1, Record);
    KvPackageStart();
    OutputDebugStringA("probe: start\n");  // shows the recording works, switch or not
    HRESULT answer = E_FAIL;
    {
        TRefusingDriver d;
        d.Construct(20, 20, 0xFF000000u);  // no control: said when tracing
        IPropertyNotifySink* sink = nullptr;
        if (SUCCEEDED(d.QueryInterface(IID_IPropertyNotifySink, reinterpret_cast<void**>(&sink))) && sink) {
            answer = sink->OnChanged(133);  // as the control calls it
            sink->Release();
        }
    }
    KvPackageStop();
    OutputDebugStringA("probe: end\n");
    RemoveVectoredExceptionHandler(handler);
    std::ofstream out(recordPath, std::ios::binary);
    for (const std::string& line : g_said)
        out << "said " << line << "\n";
    char hr[16];
    std::snprintf(hr, sizeof hr, "%08lX", static_cast<unsigned long>(answer));
    out << "answer " << hr << "\n";
    return out ? 0 : 1;
}

// ---------------------------------------------------------------------------
// The parent: runs the child with one setting of the switch
// ---------------------------------------------------------------------------

struct ChildRun {
    DWORD exitCode = 0;
    std::vector<std::string> said;  // what the child's process told the debugger
    std::string answer;             // what the control heard from the failing method
};

// Runs the child with KV_TRACE set to `value` (nullptr: not set at all).
ChildRun RunChild(const wchar_t* value, const std::string& name)
{
    ChildRun run;
    wchar_t self[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string record =
        std::string(temp) + "kvtrace-" + std::to_string(GetCurrentProcessId()) + "-" + name + ".txt";
    DeleteFileA(record.c_str());
    std::wstring command = L"\"" + std::wstring(self) + L"\" --provoke \"" +
                           std::wstring(record.begin(), record.end()) + L"\"";

    // The child inherits this environment; ours is put back at once.
    wchar_t previous[64] = {};
    const bool had = GetEnvironmentVariableW(L"KV_TRACE", previous, 64) > 0;
    SetEnvironmentVariableW(L"KV_TRACE", value);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started =
        CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(L"KV_TRACE", had ? previous : nullptr);
    if (!started) {
        ADD_FAILURE() << "the child did not start: " << GetLastError();
        return run;
    }
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 99);
        ADD_FAILURE() << "the child did not end";
    }
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    std::ifstream in(record, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("said ", 0) == 0)
            run.said.push_back(line.substr(5));
        else if (line.rfind("answer ", 0) == 0)
            run.answer = line.substr(7);
    }
    in.close();
    DeleteFileA(record.c_str());
    return run;
}

bool Has(const std::vector<std::string>& lines, const std::string& start)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

std::string Listed(const std::vector<std::string>& lines)
{
    std::string s;
    for (const std::string& l : lines)
        s += "  " + l + "\n";
    return s;
}

TEST(PackageTrace, WhatTheEdgesCaughtIsSaidWhenTheSwitchIsOn)
{
    const ChildRun on = RunChild(L"1", "on");
    ASSERT_EQ(on.exitCode, 0u);
    ASSERT_TRUE(Has(on.said, "probe: start")) << "nothing recorded\n" << Listed(on.said);
    EXPECT_TRUE(Has(on.said, "korvel: no Flash control: 0x80040154")) << Listed(on.said);
    EXPECT_TRUE(Has(on.said, "korvel: IPropertyNotifySink::OnChanged failed: the change was refused; answers "))
        << Listed(on.said);
    EXPECT_EQ(on.answer, "00000000") << "the control is told the change is fine";
    EXPECT_TRUE(Has(on.said, "probe: end"));
}

TEST(PackageTrace, NothingIsSaidWhenTheSwitchIsOffOrZero)
{
    for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L"0"}) {
        const ChildRun off = RunChild(value, value ? "zero" : "unset");
        SCOPED_TRACE(value ? "KV_TRACE=0" : "KV_TRACE unset");
        ASSERT_EQ(off.exitCode, 0u);
        ASSERT_TRUE(Has(off.said, "probe: start")) << "nothing recorded\n" << Listed(off.said);
        EXPECT_TRUE(Has(off.said, "probe: end"));
        EXPECT_FALSE(Has(off.said, "korvel:")) << Listed(off.said);
        EXPECT_EQ(off.answer, "00000000") << "the failure is caught all the same";
    }
}

}  // namespace

// The program is its own child: with --provoke it only provokes and records.
int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--provoke")
        return Provoke(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
