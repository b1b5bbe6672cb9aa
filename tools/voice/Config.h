// The voice's configuration: read once when an object is created, from environment variables first and
// then from string values of HKCU\Software\Quenlet\Voice with the same names. Portable: the caller
// supplies the lookup.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlet::voice {

inline constexpr wchar_t kModeVar[] = L"QUENLET_VOICE_MODE";
inline constexpr wchar_t kLogVar[] = L"QUENLET_VOICE_LOG";
inline constexpr wchar_t kSpeakMsVar[] = L"QUENLET_VOICE_SPEAK_MS";
inline constexpr wchar_t kWavDirVar[] = L"QUENLET_VOICE_WAV_DIR";
inline constexpr wchar_t kEspeakVar[] = L"QUENLET_VOICE_ESPEAK";
inline constexpr wchar_t kFailCreateVar[] = L"QUENLET_VOICE_FAIL_CREATE";
inline constexpr wchar_t kFailVar[] = L"QUENLET_VOICE_FAIL";

inline constexpr wchar_t kDefaultEspeak[] = L"Z:\\usr\\bin\\espeak-ng";
inline constexpr unsigned kDefaultSpeakMs = 300;

enum class Mode { Record, Espeak };

// What a member does instead of its work.
struct Failure {
  enum class Kind { Hresult, Description, UnknownName };
  Kind kind = Kind::Hresult;
  std::int32_t hr = 0;       // Hresult
  std::wstring description;  // Description
  bool operator==(const Failure&) const = default;
};

struct Config {
  Mode mode = Mode::Espeak;
  std::wstring logPath;  // empty: no log
  unsigned speakMs = kDefaultSpeakMs;
  std::wstring wavDir;  // empty: WAVs are not kept
  std::wstring espeakPath = kDefaultEspeak;
  std::optional<std::int32_t> failCreate;
  std::map<std::wstring, Failure> failures;  // keyed by the member name in lower case
  std::vector<std::wstring> problems;        // values that could not be understood, for the log

  const Failure* FailureFor(std::wstring_view member) const;
};

using Lookup = std::function<std::optional<std::wstring>(std::wstring_view name)>;

Config ReadConfig(const Lookup& lookup);

// "80070005" or "0x80070005"; at most 8 hex digits.
std::optional<std::int32_t> ParseHresult(std::wstring_view text);

// "Member=hr:80070005;Member=desc:Text.;Member=unknown". Entries that cannot be read are skipped and
// described in `problems`. A description cannot hold ';'.
std::map<std::wstring, Failure> ParseFailures(std::wstring_view text, std::vector<std::wstring>& problems);

std::wstring LowerAscii(std::wstring_view text);

}  // namespace quenlet::voice
