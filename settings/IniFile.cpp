#include "settings/IniFile.h"

#include "settings/IniInteger.h"
#include "ui/Exceptions.h"

#include <windows.h>

#include <vector>

namespace {

bool FitsTheProfileFunctions(const std::wstring& name)
{
    const DWORD n = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr); // with the terminator
    return n != 0 && n <= MAX_PATH;
}

// The name handed to the profile functions for the file `fileName`, or "" when there is none they
// can take.
// HACK: Wine 8's profile functions resolve the name into room for MAX_PATH characters without
// looking whether it fitted, and then read and write whatever name that room happened to hold
// (a system DLL of the prefix, once). A longer path is therefore never handed over: the folder's
// short (8.3) form names the same file, and failing that the file is taken as unreachable.
std::wstring ProfileName(const std::wstring& fileName)
{
    if (FitsTheProfileFunctions(fileName))
        return fileName;
    const std::size_t last = fileName.find_last_of(L"\\/");
    const std::size_t folderEnd = last == std::wstring::npos ? last : fileName.find_last_not_of(L"\\/", last);
    if (folderEnd == std::wstring::npos)
        return L"";
    const std::wstring folder = fileName.substr(0, folderEnd + 1);
    // Only the "\\?\" form of a drive path may be longer than MAX_PATH; that form takes no "/".
    const bool drivePath = folder.size() > 2 && folder[1] == L':';
    const std::wstring longFolder = drivePath ? L"\\\\?\\" + folder : folder;
    const DWORD need = GetShortPathNameW(longFolder.c_str(), nullptr, 0);
    if (need == 0)
        return L"";
    std::wstring shortFolder(need, L'\0');
    const DWORD got = GetShortPathNameW(longFolder.c_str(), shortFolder.data(), need);
    if (got == 0 || got >= need)
        return L"";
    shortFolder.resize(got);
    if (drivePath && shortFolder.rfind(L"\\\\?\\", 0) == 0)
        shortFolder.erase(0, 4);
    if (shortFolder.empty() || shortFolder.back() != L'\\')
        shortFolder += L'\\';
    const std::wstring shortName = shortFolder + fileName.substr(last + 1);
    return FitsTheProfileFunctions(shortName) ? shortName : L"";
}

} // namespace

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
    const std::wstring name = ProfileName(FileName);
    if (name.empty())
        return fallback; // as for a file that is not there
    wchar_t buffer[2048];
    const DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), fallback.c_str(), buffer, 2048, name.c_str());
    return std::wstring(buffer, n);
}

void TIniFile::WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    const std::wstring name = ProfileName(FileName);
    if (name.empty() || !WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), name.c_str()))
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
