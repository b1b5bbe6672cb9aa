#pragma once
// The settings file: every read and write goes to the file at once through the Windows profile
// functions; the object holds nothing but the file's name.
#include <cstdint>
#include <string>

class TCustomIniFile {
public:
    explicit TCustomIniFile(std::wstring fileName) : FileName(std::move(fileName)) {}
    virtual ~TCustomIniFile() = default;
    const std::wstring FileName;

    virtual std::wstring ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& fallback) const = 0;
    virtual void WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value) = 0;
    // A missing or unconvertible value gives the fallback.
    std::int32_t ReadInteger(const std::wstring& section, const std::wstring& key, std::int32_t fallback) const;
    void WriteInteger(const std::wstring& section, const std::wstring& key, std::int32_t value);
};

class TIniFile : public TCustomIniFile {
public:
    using TCustomIniFile::TCustomIniFile;
    std::wstring ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& fallback) const override;
    // Throws EIniFileException "Unable to write to <file>" when the profile function fails, or
    // when no name of the file is short enough for it (such a file also reads as missing).
    void WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value) override;
};

// The executable's full path, however long it is.
std::wstring ExecutablePath();
