#include "settings/IniFile.h"

#include "settings/IniInteger.h"
#include "ui/Exceptions.h"

#include <windows.h>

#include <vector>

std::int32_t TCustomIniFile::ReadInteger(const std::wstring& section, const std::wstring& key, std::int32_t fallback) const
{
    return IniIntegerOr(ReadString(section, key, L""), fallback);
}

void TCustomIniFile::WriteInteger(const std::wstring& section, const std::wstring& key, std::int32_t value)
{
    WriteString(section, key, IniIntegerText(value));
}

std::wstring TIniFile::ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& fallback) const
{
    wchar_t buffer[2048];
    const DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), fallback.c_str(), buffer, 2048, FileName.c_str());
    return std::wstring(buffer, n);
}

void TIniFile::WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    if (!WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), FileName.c_str()))
        throw EIniFileException(L"Unable to write to " + FileName);
}

std::wstring ExecutablePath()
{
    // The buffer grows until the whole path fits: a deep folder must not cut the path short.
    std::vector<wchar_t> buffer(261);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return L"";
        // A result that fills the buffer may be cut short; only a shorter one is surely whole.
        if (n < buffer.size() || buffer.size() >= 65536)
            return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}
