#include "settings/SettingsPath.h"

std::wstring SettingsPathFor(std::wstring_view exePath)
{
    const std::size_t last = exePath.find_last_of(L"\\:");
    std::wstring path;
    if (last != std::wstring_view::npos)
        path.assign(exePath.substr(0, last + 1));
    path += L"/set.ini";
    return path;
}
