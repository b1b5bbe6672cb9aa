#include "Config.h"

namespace quenlet::voice {

namespace {

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == L' ' || s.back() == L'\t')) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::wstring_view s, std::wstring_view prefix) {
  return s.size() >= prefix.size() && LowerAscii(s.substr(0, prefix.size())) == prefix;
}

std::optional<unsigned> ParseMs(std::wstring_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 9) return std::nullopt;
  unsigned value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  return value;
}

}  // namespace

std::wstring LowerAscii(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

const Failure* Config::FailureFor(std::wstring_view member) const {
  auto it = failures.find(LowerAscii(member));
  return it == failures.end() ? nullptr : &it->second;
}

std::optional<std::int32_t> ParseHresult(std::wstring_view text) {
  text = Trim(text);
  if (StartsWithNoCase(text, L"0x")) text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (wchar_t c : text) {
    value <<= 4;
    if (c >= L'0' && c <= L'9') value |= static_cast<std::uint32_t>(c - L'0');
    else if (c >= L'a' && c <= L'f') value |= static_cast<std::uint32_t>(c - L'a' + 10);
    else if (c >= L'A' && c <= L'F') value |= static_cast<std::uint32_t>(c - L'A' + 10);
    else return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

std::map<std::wstring, Failure> ParseFailures(std::wstring_view text, std::vector<std::wstring>& problems) {
  std::map<std::wstring, Failure> out;
  while (!text.empty()) {
    std::size_t end = text.find(L';');
    std::wstring_view entry = text.substr(0, end);
    text = end == std::wstring_view::npos ? std::wstring_view() : text.substr(end + 1);
    if (Trim(entry).empty()) continue;

    std::size_t eq = entry.find(L'=');
    std::wstring_view member = Trim(entry.substr(0, eq));
    if (eq == std::wstring_view::npos || member.empty()) {
      problems.push_back(L"QUENLET_VOICE_FAIL: no member in \"" + std::wstring(entry) + L"\"");
      continue;
    }
    std::wstring_view what = entry.substr(eq + 1);
    Failure f;
    if (StartsWithNoCase(Trim(what), L"hr:")) {
      auto hr = ParseHresult(Trim(what).substr(3));
      if (!hr) {
        problems.push_back(L"QUENLET_VOICE_FAIL: bad HRESULT in \"" + std::wstring(entry) + L"\"");
        continue;
      }
      f.kind = Failure::Kind::Hresult;
      f.hr = *hr;
    } else if (StartsWithNoCase(Trim(what), L"desc:")) {
      // The description is kept exactly, blanks included: the client's handling of them is under test.
      std::size_t colon = what.find(L':');
      f.kind = Failure::Kind::Description;
      f.description = std::wstring(what.substr(colon + 1));
    } else if (LowerAscii(Trim(what)) == L"unknown") {
      f.kind = Failure::Kind::UnknownName;
    } else {
      problems.push_back(L"QUENLET_VOICE_FAIL: unknown failure in \"" + std::wstring(entry) + L"\"");
      continue;
    }
    out[LowerAscii(member)] = f;
  }
  return out;
}

Config ReadConfig(const Lookup& lookup) {
  Config c;
  auto get = [&](std::wstring_view name) -> std::wstring {
    auto v = lookup(name);
    return v ? *v : std::wstring();
  };

  c.logPath = get(kLogVar);
  c.mode = c.logPath.empty() ? Mode::Espeak : Mode::Record;
  std::wstring mode = LowerAscii(Trim(get(kModeVar)));
  if (mode == L"record") c.mode = Mode::Record;
  else if (mode == L"espeak") c.mode = Mode::Espeak;
  else if (!mode.empty()) c.problems.push_back(L"QUENLET_VOICE_MODE: unknown mode \"" + mode + L"\"");

  std::wstring ms = get(kSpeakMsVar);
  if (!ms.empty()) {
    if (auto v = ParseMs(ms)) c.speakMs = *v;
    else c.problems.push_back(L"QUENLET_VOICE_SPEAK_MS: not a number of milliseconds: \"" + ms + L"\"");
  }

  c.wavDir = get(kWavDirVar);
  if (std::wstring espeak = get(kEspeakVar); !espeak.empty()) c.espeakPath = espeak;

  std::wstring failCreate = get(kFailCreateVar);
  if (!failCreate.empty()) {
    c.failCreate = ParseHresult(failCreate);
    if (!c.failCreate) {
      c.problems.push_back(L"QUENLET_VOICE_FAIL_CREATE: bad HRESULT \"" + failCreate + L"\"");
    } else if (*c.failCreate >= 0) {
      c.problems.push_back(L"QUENLET_VOICE_FAIL_CREATE: \"" + failCreate + L"\" is a success code; creation goes on");
    }
  }
  c.failures = ParseFailures(get(kFailVar), c.problems);
  return c;
}

}  // namespace quenlet::voice
