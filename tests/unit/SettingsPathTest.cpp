#include <gtest/gtest.h>

#include "settings/SettingsPath.h"

namespace {

TEST(SettingsPath, FolderPartPlusSlashSetIni)
{
    const struct { const wchar_t* exe; const wchar_t* path; } cases[] = {
        {L"C:\\Tools\\Quenlet.exe", L"C:\\Tools\\/set.ini"},
        {L"\\\\server\\share\\clock\\Quenlet.exe", L"\\\\server\\share\\clock\\/set.ini"},
        {L"C:\\Tools\\", L"C:\\Tools\\/set.ini"},
        {L"C:Quenlet.exe", L"C:/set.ini"},                                      // ':' only
        {L"Quenlet.exe", L"/set.ini"},                                          // neither
        {L"", L"/set.ini"},
        {L"C:\\Tools\\Quenlet.exe:stream", L"C:\\Tools\\Quenlet.exe:/set.ini"},  // ':' after the last '\'
        {L"C:/Tools/Quenlet.exe", L"C:/set.ini"},                               // '/' is not a separator here
        {L"D:\\\u65F6\u949F\\Quenlet.exe", L"D:\\\u65F6\u949F\\/set.ini"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SettingsPathFor(c.exe), c.path) << "exe L\"" << c.exe << "\"";
}

} // namespace
