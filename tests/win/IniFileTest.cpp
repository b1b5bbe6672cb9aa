// The settings file against real files through the profile functions, and the paths that lead
// to it.
#include "settings/IniFile.h"
#include "settings/SettingsPath.h"
#include "ui/Exceptions.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// "\\?\" lets the file functions take paths beyond 260 characters.
std::wstring Long(const std::wstring& path)
{
    return L"\\\\?\\" + path;
}

void RemoveTree(const std::wstring& dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(Long(dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring full = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileW(Long(full).c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(Long(dir).c_str());
}

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE f = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got)
        bytes.append(chunk, got);
    CloseHandle(f);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE f = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
    ASSERT_EQ(written, bytes.size());
}

// The file's lines without their line ends; blank lines dropped.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            if (!line.empty())
                lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

bool IsFile(const std::wstring& path)
{
    const DWORD a = GetFileAttributesW(Long(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// A fresh folder of the test's own under %TEMP%, holding a stand-in Quenlet.exe path.
class SettingsFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_TRUE(GetTempPathW(MAX_PATH + 1, temp));
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::wstring(temp) + L"quenlet-ini-" + std::to_wstring(GetCurrentProcessId()) + L"-";
        for (const char* c = info->name(); *c; ++c)
            folder_ += std::isalnum(static_cast<unsigned char>(*c)) ? static_cast<wchar_t>(*c) : L'_';
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << GetLastError();
    }
    void TearDown() override { RemoveTree(folder_); }

    std::wstring File(const wchar_t* name) const { return folder_ + L"\\" + name; }
    // What the clock uses for an exe in this folder: "...\/set.ini".
    std::wstring SettingsPath() const { return SettingsPathFor(File(L"Quenlet.exe")); }
    std::wstring IniOnDisk() const { return File(L"set.ini"); }

    std::wstring folder_;
};

// -- reading ---------------------------------------------------------------------------------

struct ReadCase {
    const char* name;
    const char* file;  // nullptr: no file at all
    std::int32_t top;  // ReadInteger("set", "top", 0)
    std::int32_t fallbackTop;  // ReadInteger("set", "top", 77)
};

class IniRead : public SettingsFolder, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(IniRead, ReadsTheValueOrTheFallback)
{
    const ReadCase& c = GetParam();
    if (c.file)
        WriteBytes(IniOnDisk(), c.file);
    const TIniFile ini(SettingsPath());
    EXPECT_EQ(ini.ReadInteger(L"set", L"top", 0), c.top);
    EXPECT_EQ(ini.ReadInteger(L"set", L"top", 77), c.fallbackTop);
    // Reading never makes the file.
    EXPECT_EQ(IsFile(IniOnDisk()), c.file != nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniRead,
    ::testing::Values(ReadCase{"NoFile", nullptr, 0, 77},
                      ReadCase{"EmptyFile", "", 0, 77},
                      ReadCase{"OtherSectionOnly", "[other]\r\ntop=5\r\n", 0, 77},
                      ReadCase{"OtherKeyOnly", "[set]\r\nleft=5\r\n", 0, 77},
                      ReadCase{"KeyInALaterSection", "[a]\r\nx=1\r\n[set]\r\ntop=12\r\n[b]\r\ntop=99\r\n", 12, 12},
                      ReadCase{"EmptyValue", "[set]\r\ntop=\r\n", 0, 77},
                      ReadCase{"Negative", "[set]\r\ntop=-40\r\n", -40, -40},
                      ReadCase{"HexWithPrefix0x", "[set]\r\ntop=0x64\r\n", 100, 100},
                      ReadCase{"TrailingText", "[set]\r\ntop=100px\r\n", 0, 77},
                      // The profile functions trim blanks around a value before the conversion sees it.
                      ReadCase{"BlanksAroundTheValue", "[set]\r\ntop =  100  \r\n", 100, 100},
                      // Names are matched regardless of case.
                      ReadCase{"UpperCaseNames", "[SET]\r\nTOP=7\r\n", 7, 7},
                      ReadCase{"LfLineEnds", "[set]\ntop=33\n", 33, 33},
                      ReadCase{"BeyondInt32", "[set]\r\ntop=2147483648\r\n", 0, 77}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsFolder, ReadStringGivesTheFallbackForAMissingKeyAndTheTextOtherwise)
{
    WriteBytes(IniOnDisk(), "[set]\r\nname=clock face\r\n");
    const TIniFile ini(SettingsPath());
    EXPECT_EQ(ini.ReadString(L"set", L"name", L"x"), L"clock face");
    EXPECT_EQ(ini.ReadString(L"set", L"missing", L"fallback"), L"fallback");
    EXPECT_EQ(ini.ReadString(L"nothere", L"name", L""), L"");
}

TEST_F(SettingsFolder, AValueLongerThanTheBufferIsCutNotOverrun)
{
    // The read buffer holds 2048 characters with the terminator.
    WriteBytes(IniOnDisk(), "[set]\r\nlong=" + std::string(3000, '7') + "\r\n");
    const TIniFile ini(SettingsPath());
    EXPECT_EQ(ini.ReadString(L"set", L"long", L""), std::wstring(2047, L'7'));
}

// -- writing ---------------------------------------------------------------------------------

TEST_F(SettingsFolder, TheFirstWriteMakesTheFileWithTheSectionAndTopBeforeLeft)
{
    ASSERT_FALSE(IsFile(IniOnDisk()));
    TIniFile ini(SettingsPath());
    ini.WriteInteger(L"set", L"top", 12);
    ASSERT_TRUE(IsFile(IniOnDisk())) << "the write did not land in the folder's set.ini";
    ini.WriteInteger(L"set", L"left", -34);
    EXPECT_EQ(Lines(ReadBytes(IniOnDisk())), (std::vector<std::string>{"[set]", "top=12", "left=-34"}));
    EXPECT_EQ(ini.ReadInteger(L"set", L"top", 0), 12);
    EXPECT_EQ(ini.ReadInteger(L"set", L"left", 0), -34);
}

TEST_F(SettingsFolder, WritesLeaveOtherSectionsAndKeysInPlaceAndReplaceTheValue)
{
    WriteBytes(IniOnDisk(), "[before]\r\na=1\r\n[set]\r\nnote=kept\r\ntop=0x10\r\n[after]\r\nb=2\r\n");
    TIniFile ini(SettingsPath());
    ini.WriteInteger(L"set", L"top", 250);
    ini.WriteInteger(L"set", L"left", 75);
    EXPECT_EQ(Lines(ReadBytes(IniOnDisk())),
              (std::vector<std::string>{"[before]", "a=1", "[set]", "note=kept", "top=250", "left=75", "[after]", "b=2"}));
}

struct WriteCase {
    std::int32_t value;
    const char* text; // as it must stand in the file
};

class IniWriteValue : public SettingsFolder, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(IniWriteValue, IsPlainDecimalAndReadsBack)
{
    const WriteCase& c = GetParam();
    TIniFile ini(SettingsPath());
    ini.WriteInteger(L"set", L"left", c.value);
    EXPECT_EQ(Lines(ReadBytes(IniOnDisk())), (std::vector<std::string>{"[set]", std::string("left=") + c.text}));
    EXPECT_EQ(ini.ReadInteger(L"set", L"left", 12345), c.value);
}

INSTANTIATE_TEST_SUITE_P(Values, IniWriteValue,
                         ::testing::Values(WriteCase{0, "0"}, WriteCase{7, "7"}, WriteCase{-1, "-1"}, WriteCase{-50, "-50"},
                                           WriteCase{1000000, "1000000"}, WriteCase{INT32_MAX, "2147483647"},
                                           WriteCase{INT32_MIN, "-2147483648"}),
                         [](const ::testing::TestParamInfo<WriteCase>& info) {
                             const std::string text = info.param.text;
                             return text[0] == '-' ? "Minus" + text.substr(1) : text;
                         });

TEST_F(SettingsFolder, AFailedWriteRaisesUnableToWriteWithTheFilesName)
{
    // Root ignores file modes: a folder named set.ini is what makes the write fail here.
    ASSERT_TRUE(CreateDirectoryW(IniOnDisk().c_str(), nullptr));
    TIniFile ini(SettingsPath());
    for (const wchar_t* key : {L"top", L"left"}) {
        try {
            ini.WriteInteger(L"set", key, 5);
            ADD_FAILURE() << "writing " << std::string(key, key + wcslen(key)) << " did not fail";
        } catch (const EIniFileException& e) {
            EXPECT_EQ(e.Message(), L"Unable to write to " + SettingsPath());
        }
    }
    EXPECT_EQ(SettingsPath().substr(SettingsPath().size() - 9), L"\\/set.ini");
    // Reading the same name gives the empty text, so the clock starts at 0, 0.
    EXPECT_EQ(ini.ReadInteger(L"set", L"top", 0), 0);
}

// -- deep folders ----------------------------------------------------------------------------

// A folder `levels` long-named folders below the test's folder; returns its path.
std::wstring MakeDeepFolder(const std::wstring& base, int levels)
{
    std::wstring deep = base;
    for (int i = 0; i < levels; ++i) {
        deep += L"\\a-folder-name-long-enough-for-a-deep-path-" + std::to_wstring(i);
        if (!CreateDirectoryW(Long(deep).c_str(), nullptr))
            return L"";
    }
    return deep;
}

TEST_F(SettingsFolder, ASetIniBeyond260CharactersIsReadAndWrittenInItsOwnFolder)
{
    const std::wstring deep = MakeDeepFolder(folder_, 7);
    ASSERT_FALSE(deep.empty());
    const std::wstring path = SettingsPathFor(deep + L"\\Quenlet.exe");
    ASSERT_GT(path.size(), 300u);
    WriteBytes(deep + L"\\set.ini", "[set]\r\ntop=0x10\r\n");

    TIniFile ini(path);
    EXPECT_EQ(ini.FileName, path);
    EXPECT_EQ(ini.ReadInteger(L"set", L"top", 0), 16);
    ini.WriteInteger(L"set", L"top", 5);
    ini.WriteInteger(L"set", L"left", -6);
    EXPECT_EQ(Lines(ReadBytes(deep + L"\\set.ini")), (std::vector<std::string>{"[set]", "top=5", "left=-6"}));
}

TEST_F(SettingsFolder, ASetIniNoNameOfMaxPathReachesIsNeitherReadNorWrittenAnywhere)
{
    // Deep enough that even the folder's short form is longer than 260 characters.
    const std::wstring deep = MakeDeepFolder(folder_, 40);
    ASSERT_FALSE(deep.empty());
    const std::string before = "[set]\r\ntop=9\r\n";
    WriteBytes(deep + L"\\set.ini", before);
    const std::wstring path = SettingsPathFor(deep + L"\\Quenlet.exe");

    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger(L"set", L"top", 0), 0);
    try {
        ini.WriteInteger(L"set", L"top", 5);
        ADD_FAILURE() << "the write did not fail";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), L"Unable to write to " + path);
    }
    EXPECT_EQ(ReadBytes(deep + L"\\set.ini"), before);
}

// -- paths -----------------------------------------------------------------------------------

std::wstring ModuleFileName()
{
    std::vector<wchar_t> buffer(32768);
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), n);
}

TEST(ExecutablePath, IsTheWholeModuleFileName)
{
    const std::wstring whole = ModuleFileName();
    ASSERT_FALSE(whole.empty());
    EXPECT_EQ(ExecutablePath(), whole);
}

TEST(SettingsPath, OfThisExeIsItsFolderFollowedByBackslashSlashSetIni)
{
    const std::wstring exe = ExecutablePath();
    const std::wstring path = SettingsPathFor(exe);
    const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\') + 1);
    EXPECT_EQ(path, folder + L"/set.ini");
    EXPECT_EQ(path.substr(path.size() - 9), L"\\/set.ini");
}

TEST_F(SettingsFolder, TheBackslashSlashNameIsTheFoldersSetIni)
{
    // Written by one name, found by the other: the profile functions resolve "\/" as one separator.
    WriteBytes(IniOnDisk(), "[set]\r\ntop=31\r\n");
    TIniFile ini(SettingsPath());
    EXPECT_EQ(ini.ReadInteger(L"set", L"top", 0), 31);
    ini.WriteInteger(L"set", L"left", 41);
    EXPECT_EQ(Lines(ReadBytes(IniOnDisk())), (std::vector<std::string>{"[set]", "top=31", "left=41"}));
    // Nothing else appeared in the folder: no file named "/set.ini" or the like.
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder_ + L"\\*").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<std::wstring> names;
    do {
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L".."))
            names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    EXPECT_EQ(names, std::vector<std::wstring>{L"set.ini"});
}

} // namespace
