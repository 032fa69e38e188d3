#include "resource_meter.h"

#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <vector>
#include <cstdio>

namespace leaktest {

namespace {

std::int64_t HeapBytesInUse()
{
    // The list of heaps lives on a heap itself: size it first, then walk.
    std::vector<HANDLE> heaps(64);
    for (;;) {
        const DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
        if (n <= heaps.size()) {
            heaps.resize(n);
            break;
        }
        heaps.resize(n + 16);
    }
    std::int64_t total = 0;
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heap, &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                total += static_cast<std::int64_t>(entry.cbData);
        }
        HeapUnlock(heap);
    }
    return total;
}

// One entry of the GDI handle table the process environment block points at
// (the same layout on Windows and Wine for 64-bit processes).
struct GdiHandleEntry {
    std::uint64_t Object;
    std::uint32_t Owner;
    std::uint16_t Unique;
    std::uint8_t Type;  // 0: a free entry
    std::uint8_t Flags;
    std::uint64_t UserPointer;
};
static_assert(sizeof(GdiHandleEntry) == 24);
constexpr size_t kGdiHandleCount = 0x10000;

long CountGdiHandleTable()
{
#ifdef _WIN64
    PROCESS_BASIC_INFORMATION info{};
    if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, nullptr) != 0)
        return -1;
    const auto* peb = reinterpret_cast<const std::uint8_t*>(info.PebBaseAddress);
    const auto* table = *reinterpret_cast<const GdiHandleEntry* const*>(peb + 0xF8);
    if (!table)
        return -1;
    long n = 0;
    for (size_t i = 0; i < kGdiHandleCount; ++i)
        n += table[i].Type != 0;
    return n;
#else
    return -1;
#endif
}

BOOL CALLBACK CountChild(HWND, LPARAM count)
{
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}

void CountIfOurs(HWND wnd, long& count)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid != GetCurrentProcessId())
        return;
    ++count;
    EnumChildWindows(wnd, CountChild, reinterpret_cast<LPARAM>(&count));
}

BOOL CALLBACK CountTopLevel(HWND wnd, LPARAM count)
{
    CountIfOurs(wnd, *reinterpret_cast<long*>(count));
    return TRUE;
}

// Windows are the USER objects a player makes and frees again (menus, icons
// and cursors it only loads are shared).
long CountOwnWindows()
{
    long n = 0;
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&n));
    for (HWND wnd = nullptr; (wnd = FindWindowExW(HWND_MESSAGE, wnd, nullptr, nullptr)) != nullptr;)
        CountIfOurs(wnd, n);
    return n;
}

// GetGuiResources, or -1 where the system does not implement it.
long GuiResources(DWORD which)
{
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetGuiResources(GetCurrentProcess(), which);
    if (n == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED)
        return -1;
    return static_cast<long>(n);
}

long CountOwnThreads()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    long n = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return n;
}

}  // namespace

ResourceUse MeasureResources()
{
    ResourceUse use;
    use.GdiObjects = GuiResources(GR_GDIOBJECTS);
    if (use.GdiObjects < 0)
        use.GdiObjects = CountGdiHandleTable();
    use.UserObjects = GuiResources(GR_USEROBJECTS);
    if (use.UserObjects < 0)
        use.UserObjects = CountOwnWindows();
    use.HeapBytes = HeapBytesInUse();
    use.Threads = CountOwnThreads();
    return use;
}

std::string Growth(const ResourceUse& from, const ResourceUse& to)
{
    auto signedText = [](std::int64_t d) { return (d >= 0 ? "+" : "") + std::to_string(d); };
    return "heap " + signedText(to.HeapBytes - from.HeapBytes) + " bytes, GDI " +
           signedText(to.GdiObjects - from.GdiObjects) + ", USER " + signedText(to.UserObjects - from.UserObjects) +
           ", threads " + signedText(to.Threads - from.Threads);
}

bool WithinAllowance(const ResourceUse& from, const ResourceUse& to, const Allowance& allowed)
{
    return to.HeapBytes - from.HeapBytes <= allowed.HeapBytes &&
           to.GdiObjects - from.GdiObjects <= allowed.GdiObjects &&
           to.UserObjects - from.UserObjects <= allowed.UserObjects &&
           (allowed.Threads < 0 || to.Threads - from.Threads <= allowed.Threads);
}

}  // namespace leaktest
