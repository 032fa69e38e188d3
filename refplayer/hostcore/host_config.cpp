#include "host_config.h"

#include <windows.h>

#include <vector>

namespace refhost {
namespace {

std::string narrow(const wchar_t* text, int length)
{
    if (length <= 0)
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

class Key {
public:
    Key(HKEY parent, const wchar_t* path)
    {
        if (RegOpenKeyExW(parent, path, 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~Key()
    {
        if (key_)
            RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return key_; }

    std::optional<DWORD> dword(const wchar_t* name) const
    {
        DWORD value = 0, size = sizeof value, type = 0;
        if (!key_ || RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                         ERROR_SUCCESS || type != REG_DWORD || size != sizeof value)
            return std::nullopt;
        return value;
    }
    std::optional<std::string> string(const wchar_t* name) const
    {
        DWORD size = 0, type = 0;
        if (!key_ || RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
            size > 4096)
            return std::nullopt;
        std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) != ERROR_SUCCESS)
            return std::nullopt;
        buf[size / sizeof(wchar_t)] = L'\0';
        return narrow(buf.data(), static_cast<int>(wcslen(buf.data())));
    }

private:
    HKEY key_ = nullptr;
};

int versionPart(const std::string& v, int index)
{
    int part = 0, value = 0;
    for (char c : v) {
        if (c == ',' || c == '.') {
            if (part == index)
                return value;
            ++part;
            value = 0;
        } else if (c >= '0' && c <= '9' && value < 100000) {
            value = value * 10 + (c - '0');
        }
    }
    return part == index ? value : 0;
}

// The running program's file name, without its folder.
std::wstring programName()
{
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring p(path, n < MAX_PATH * 2 ? n : 0);
    const size_t slash = p.find_last_of(L"\\/");
    return slash == std::wstring::npos ? p : p.substr(slash + 1);
}

bool sameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

}  // namespace

int Config::versionMajor() const { return versionPart(version, 0); }
int Config::versionMinor() const { return versionPart(version, 1); }
int Config::versionBuild() const { return versionPart(version, 2); }

namespace {

// Whether the settings in `key` are this program's (see the Process value).
bool appliesHere(const Key& key)
{
    if (auto only = key.string(L"Process"); only && !only->empty()) {
        const std::wstring me = programName();
        return sameName(*only, narrow(me.c_str(), static_cast<int>(me.size())));
    }
    return true;
}

}  // namespace

Config readConfig(const wchar_t* keyPath)
{
    Config c;
    Key key(HKEY_CURRENT_USER, keyPath);
    if (!key.get() || !appliesHere(key))
        return c;
    if (auto v = key.string(L"Version"); v && !v->empty())
        c.version = *v;
    c.manualClock = key.dword(L"ManualClock").value_or(0) != 0;
    c.log = key.dword(L"Log").value_or(0) != 0;
    if (auto misc = key.dword(L"MiscStatus"))
        c.miscStatus = *misc;
    const DWORD repaints = key.dword(L"RepaintInPaint").value_or(0);
    c.repaintInPaint = static_cast<int>(repaints > 1000 ? 1000 : repaints);
    for (DWORD i = 0; i < 256; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0, value = 0, size = sizeof value;
        LONG r = RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value)
            c.numbers[narrow(name, static_cast<int>(nameLength))] = value;
    }
    Key fail(key.get(), L"Fail");
    if (fail.get()) {
        for (DWORD i = 0; i < 256; ++i) {
            wchar_t name[256];
            DWORD nameLength = 256, type = 0, value = 0, size = sizeof value;
            LONG r = RegEnumValueW(fail.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                   &size);
            if (r == ERROR_NO_MORE_ITEMS)
                break;
            if (r != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value)
                continue;
            c.failures[narrow(name, static_cast<int>(nameLength))] = static_cast<int>(value);
        }
    }
    Key nullOut(key.get(), L"NullOut");
    if (nullOut.get()) {
        for (DWORD i = 0; i < 256; ++i) {
            wchar_t name[256];
            DWORD nameLength = 256, type = 0, value = 0, size = sizeof value;
            LONG r = RegEnumValueW(nullOut.get(), i, name, &nameLength, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&value), &size);
            if (r == ERROR_NO_MORE_ITEMS)
                break;
            if (r == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value && value != 0)
                c.nullOuts.insert(narrow(name, static_cast<int>(nameLength)));
        }
    }
    return c;
}

std::optional<uint32_t> readConfigDword(const wchar_t* keyPath, const wchar_t* name)
{
    Key key(HKEY_CURRENT_USER, keyPath);
    if (!key.get() || !appliesHere(key))
        return std::nullopt;
    return key.dword(name);
}

void claimConfig(const wchar_t* keyPath)
{
    const std::wstring me = programName();
    RegSetKeyValueW(HKEY_CURRENT_USER, keyPath, L"Process", REG_SZ, me.c_str(),
                    static_cast<DWORD>((me.size() + 1) * sizeof(wchar_t)));
}

}  // namespace refhost
