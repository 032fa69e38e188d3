#include "kv_hostfiles.h"

#include "framework/sysutils.h"
#include "framework/winstreams.h"

std::wstring ExecutableFolder()
{
    wchar_t buf[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
    std::wstring path(buf, n < std::size(buf) ? n : 0);
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

HMODULE PackageModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&PackageModule), &module);
    return module;
}

bool IsExistingFile(const std::wstring& path)
{
    if (path.empty())
        return false;
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

WORD ImageMachine(const std::wstring& path)
{
    if (path.empty())
        return 0;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    auto readAt = [file](LONG offset, void* into, DWORD size) {
        DWORD got = 0;
        return SetFilePointer(file, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
               ReadFile(file, into, size, &got, nullptr) && got == size;
    };
    WORD machine = 0;
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    // e_lfanew is a signed 32-bit offset: a negative or absurd one is no image.
    if (readAt(0, &dos, sizeof dos) && dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew >= 0 &&
        dos.e_lfanew < 16 * 1024 * 1024 && readAt(dos.e_lfanew, &signature, sizeof signature) &&
        signature == IMAGE_NT_SIGNATURE &&
        readAt(dos.e_lfanew + static_cast<LONG>(sizeof signature), &header, sizeof header))
        machine = header.Machine;
    CloseHandle(file);
    return machine;
}

WORD ProcessMachine()
{
#if defined(__x86_64__) || defined(_M_X64)
    return IMAGE_FILE_MACHINE_AMD64;
#elif defined(__i386__) || defined(_M_IX86)
    return IMAGE_FILE_MACHINE_I386;
#elif defined(__aarch64__) || defined(_M_ARM64)
    return IMAGE_FILE_MACHINE_ARM64;
#else
#error "unknown target machine"
#endif
}

bool IsLibraryForThisProcess(const std::wstring& path)
{
    return ImageMachine(path) == ProcessMachine();
}

std::unique_ptr<TStream> OpenFileForReading(const std::wstring& path)
{
    try {
        return std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyWrite);
    } catch (const EStreamError&) {
        return nullptr;
    }
}

bool HasPackageResource(const std::wstring& name)
{
    return !name.empty() && FindResourceW(PackageModule(), name.c_str(), MAKEINTRESOURCEW(10)) != nullptr;
}

std::unique_ptr<TStream> OpenPackageResource(const std::wstring& name)
{
    if (!HasPackageResource(name))
        return nullptr;
    try {
        return std::make_unique<TResourceStream>(PackageModule(), name, MAKEINTRESOURCEW(10));
    } catch (const Exception&) {
        return nullptr;
    }
}

std::unique_ptr<TMemoryStream> CopyOfStream(TStream& source)
{
    auto copy = std::make_unique<TMemoryStream>();
    source.SetPosition(0);
    copy->CopyFrom(source, source.Size());
    copy->SetPosition(0);
    return copy;
}
