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
