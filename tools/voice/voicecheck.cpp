// voicecheck: drives whatever "SAPI.SpVoice" the prefix has, the way the clock does (CLSIDFromProgID,
// CoCreateInstance with in-process or local server, IDispatch, GetIDsOfNames + Invoke on every call),
// and checks what the Quenlet voice does and logs. Each group sets the voice's configuration in its own
// environment before it creates an object, so the groups do not depend on the caller's settings.
//
//   voicecheck units                 the voice's text, configuration and WAV pieces
//   voicecheck calls                 dispatch behaviour: names, arguments, results, errors
//   voicecheck record  <log folder>  the recording voice: log, queue, waiting, purge, release
//   voicecheck fail    <log folder>  failure injection and creation failure
//   voicecheck config  <log folder>  configuration from the registry and the environment
//   voicecheck espeak  <wav folder>  speaking through espeak-ng, WAVs, volume
//   voicecheck played  <log folder>  espeak-ng to a sound device (the prefix must have one)
//   voicecheck say <text>...         speaks with the configuration the environment gives
//
// Folders are Windows paths (Z:\... for a Unix folder). Exit code: 0 when every check passed.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Config.h"
#include "Json.h"
#include "Wav.h"
#include "Win.h"

using namespace quenlet::voice;

namespace {

// ---------------------------------------------------------------- reporting

int g_failed = 0;
int g_passed = 0;

std::string Format(const char* format, ...) {
  char buf[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

bool Check(bool ok, const std::string& what, const std::string& detail = {}) {
  if (ok) {
    ++g_passed;
    std::printf("ok    %s\n", what.c_str());
  } else {
    ++g_failed;
    std::printf("FAIL  %s%s%s\n", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
  }
  std::fflush(stdout);
  return ok;
}

void Note(const std::string& text) {
  std::printf("      %s\n", text.c_str());
  std::fflush(stdout);
}

std::string Hr(HRESULT hr) { return HresultText(hr); }
std::string U8(std::wstring_view s) { return Utf8(s); }
std::wstring Utf8ToWide(const std::string& s) {  // ASCII texts only
  return std::wstring(s.begin(), s.end());
}

// ---------------------------------------------------------------- time

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Waits for a state the voice reaches on its own thread, polling until a deadline.
bool PollUntil(const std::function<bool()>& reached, DWORD limitMs) {
  double end = NowMs() + limitMs;
  for (;;) {
    if (reached()) return true;
    if (NowMs() > end) return false;
    Sleep(10);
  }
}

// Waiting on a timer may end up to one scheduler tick early.
constexpr double kTickMs = 16;

// ---------------------------------------------------------------- configuration through the environment

const wchar_t* const kAllVars[] = {kModeVar, kLogVar, kSpeakMsVar, kWavDirVar, kEspeakVar, kFailCreateVar, kFailVar};

void ClearEnv() {
  for (const wchar_t* v : kAllVars) SetEnvironmentVariableW(v, nullptr);
}
void SetEnv(const wchar_t* name, const std::wstring& value) { SetEnvironmentVariableW(name, value.c_str()); }

std::wstring g_folder;  // the group's folder argument

std::wstring FreshFile(const std::wstring& name) {
  std::wstring path = g_folder;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  path += name;
  DeleteFileW(path.c_str());
  return path;
}

// Recording voice with its own fresh log.
std::wstring RecordInto(const std::wstring& logName, unsigned speakMs) {
  ClearEnv();
  std::wstring log = FreshFile(logName);
  SetEnv(kLogVar, log);
  SetEnv(kSpeakMsVar, std::to_wstring(speakMs));
  return log;
}

// ---------------------------------------------------------------- variants and the voice

class Var {
 public:
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  VARIANT v;
};

class Args {
 public:
  Args() = default;
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;
  ~Args() {
    for (VARIANT& v : items_) VariantClear(&v);
  }
  Args& Str(std::wstring_view s) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    items_.push_back(v);
    return *this;
  }
  Args& I4(long n) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
    items_.push_back(v);
    return *this;
  }
  Args& I2(short n) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = n;
    items_.push_back(v);
    return *this;
  }
  Args& Missing() {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    items_.push_back(v);
    return *this;
  }
  Args& ByRefBstr(BSTR* target) {  // the BSTR stays owned by the caller
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&v) = target;
    items_.push_back(v);
    return *this;
  }
  // Last first, as IDispatch::Invoke takes them.
  std::vector<VARIANT> Reversed() const { return {items_.rbegin(), items_.rend()}; }

 private:
  std::vector<VARIANT> items_;
};

struct Outcome {
  HRESULT idsHr = S_OK;
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = E_UNEXPECTED;
  VARTYPE resultType = VT_EMPTY;
  long long resultInt = 0;
  bool resultBool = false;
  std::wstring description;
  std::wstring source;
  SCODE scode = 0;
  UINT argErr = 0xFFFFFFFF;
  bool ok() const { return SUCCEEDED(idsHr) && SUCCEEDED(hr); }
  std::string Text() const {
    return FAILED(idsHr) ? "GetIDsOfNames " + Hr(idsHr) : "Invoke " + Hr(hr);
  }
};

class VoiceClient {
 public:
  VoiceClient() = default;
  VoiceClient(const VoiceClient&) = delete;
  VoiceClient& operator=(const VoiceClient&) = delete;
  ~VoiceClient() { Reset(); }

  HRESULT Create() {
    Reset();
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"SAPI.SpVoice", &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(&d_));
  }
  void Reset() {
    if (d_) d_->Release();
    d_ = nullptr;
  }
  IDispatch* get() const { return d_; }
  explicit operator bool() const { return d_ != nullptr; }

  // One late-bound call: look the name up, then invoke the number found.
  Outcome Call(const wchar_t* name, WORD flags, const Args& args, bool wantResult = true) const {
    Outcome o;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    o.idsHr = d_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &o.id);
    if (FAILED(o.idsHr)) return o;
    return Invoke(o, flags, args, wantResult, flags == DISPATCH_PROPERTYPUT);
  }

  Outcome InvokeId(DISPID id, WORD flags, const Args& args, bool named) const {
    Outcome o;
    o.id = id;
    return Invoke(o, flags, args, true, named);
  }

  HRESULT PutVolume(long v) const { return Call(L"Volume", DISPATCH_PROPERTYPUT, Args().I4(v)).hr; }
  Outcome GetVolume() const { return Call(L"Volume", DISPATCH_PROPERTYGET, Args()); }
  Outcome Speak(std::wstring_view text, long flags) const {
    return Call(L"Speak", DISPATCH_METHOD, Args().Str(text).I4(flags));
  }
  Outcome Wait(long ms) const { return Call(L"WaitUntilDone", DISPATCH_METHOD, Args().I4(ms)); }

 private:
  Outcome Invoke(Outcome o, WORD flags, const Args& args, bool wantResult, bool named) const {
    std::vector<VARIANT> rg = args.Reversed();
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS p{rg.empty() ? nullptr : rg.data(), named ? &put : nullptr, static_cast<UINT>(rg.size()),
                 named ? 1u : 0u};
    Var result;
    EXCEPINFO ei{};
    o.hr = d_->Invoke(o.id, IID_NULL, LOCALE_USER_DEFAULT, flags, &p, wantResult ? &result.v : nullptr, &ei,
                      &o.argErr);
    o.resultType = V_VT(&result.v);
    if (V_VT(&result.v) == VT_I4) o.resultInt = V_I4(&result.v);
    if (V_VT(&result.v) == VT_BOOL) o.resultBool = V_BOOL(&result.v) == VARIANT_TRUE;
    if (o.hr == DISP_E_EXCEPTION) {
      if (ei.pfnDeferredFillIn) ei.pfnDeferredFillIn(&ei);
      if (ei.bstrDescription) o.description.assign(ei.bstrDescription, SysStringLen(ei.bstrDescription));
      if (ei.bstrSource) o.source.assign(ei.bstrSource, SysStringLen(ei.bstrSource));
      o.scode = ei.scode;
    }
    SysFreeString(ei.bstrDescription);
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrHelpFile);
    return o;
  }

  IDispatch* d_ = nullptr;
};

// ---------------------------------------------------------------- reading the log back

struct LogLines {
  std::vector<JsonValue> lines;
  std::vector<std::string> bad;  // lines that are not one JSON object each
};

std::string ReadWhole(const std::wstring& path) {
  std::string data;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return data;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) data.append(buf, got);
  CloseHandle(f);
  return data;
}

LogLines ReadLog(const std::wstring& path) {
  LogLines log;
  std::string data = ReadWhole(path);
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t end = data.find('\n', at);
    if (end == std::string::npos) {
      log.bad.push_back(data.substr(at) + " (no end of line)");
      break;
    }
    std::string line = data.substr(at, end - at);
    at = end + 1;
    auto v = ParseJson(line);
    if (v && v->kind == JsonValue::Kind::Object) log.lines.push_back(std::move(*v));
    else log.bad.push_back(line);
  }
  return log;
}

std::string S(const JsonValue& v, const char* name) {
  const JsonValue* m = v.Find(name);
  return m && m->kind == JsonValue::Kind::String ? m->string : std::string("<none>");
}
double N(const JsonValue& v, const char* name) {
  const JsonValue* m = v.Find(name);
  return m && m->kind == JsonValue::Kind::Number ? m->number : std::nan("");
}
bool B(const JsonValue& v, const char* name) {
  const JsonValue* m = v.Find(name);
  return m && m->kind == JsonValue::Kind::Bool && m->boolean;
}
bool Is(const JsonValue& v, const char* ev) { return S(v, "ev") == ev; }

// Index of the first line from `from` on with event `ev` (and, if given, this text or name).
int Find(const LogLines& log, const char* ev, const std::string& textOrName = {}, int from = 0) {
  for (int i = from; i < static_cast<int>(log.lines.size()); ++i) {
    const JsonValue& l = log.lines[i];
    if (!Is(l, ev)) continue;
    if (textOrName.empty() || S(l, "text") == textOrName || S(l, "name") == textOrName) return i;
  }
  return -1;
}

int Count(const LogLines& log, const char* ev, const std::string& textOrName = {}) {
  int n = 0;
  for (int i = Find(log, ev, textOrName); i >= 0; i = Find(log, ev, textOrName, i + 1)) ++n;
  return n;
}

bool LogHas(const std::wstring& path, const char* ev, const std::string& text) {
  return Find(ReadLog(path), ev, text) >= 0;
}

// ---------------------------------------------------------------- units

void Units() {
  struct Utf8Case {
    const char* what;
    std::u16string in;
    std::string out;
  };
  const Utf8Case utf8Cases[] = {
      {"ascii", u"Now is 9:5", "Now is 9:5"},
      {"two bytes", u"\u00fc", "\xC3\xBC"},
      {"three bytes", u"\u65e5", "\xE6\x97\xA5"},
      {"surrogate pair", u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      {"lone high surrogate", std::u16string(1, char16_t(0xD800)) + u"x", "\xEF\xBF\xBDx"},
      {"lone low surrogate", std::u16string(1, char16_t(0xDC00)), "\xEF\xBF\xBD"},
  };
  for (const Utf8Case& c : utf8Cases) {
    std::string got = Utf8(c.in);
    Check(got == c.out, std::string("UTF-8: ") + c.what);
  }

  struct EscapeCase {
    std::string in;
    std::string out;
  };
  const EscapeCase escapes[] = {
      {"plain", "\"plain\""},
      {"a\"b", "\"a\\\"b\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"line\nfeed\r\t", "\"line\\nfeed\\r\\t\""},
      {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
      {"\xC3\xBC", "\"\xC3\xBC\""},
  };
  for (const EscapeCase& c : escapes) {
    std::string got;
    AppendJsonString(got, c.in);
    Check(got == c.out, "JSON escape of " + c.out, "got " + got);
    auto back = ParseJson(got);
    Check(back && back->kind == JsonValue::Kind::String && back->string == c.in, "JSON round trip of " + c.out);
  }

  const char* const badDocuments[] = {"", "{", "{\"a\":}", "[1,]", "\"\x01\"", "{} x", "tru", "{\"a\" 1}", "\"\\x\"",
                                      "-", "1.", "[1 2]"};
  for (const char* doc : badDocuments) Check(!ParseJson(doc), Format("JSON rejects <%s>", doc));

  auto doc = ParseJson(R"( {"t":1700000000123456,"ev":"invoke","named":[-3],"args":["a\u00fc\ud83d\ude00",1.5,true,null]} )");
  bool good = doc && doc->kind == JsonValue::Kind::Object && N(*doc, "t") == 1700000000123456.0 &&
              S(*doc, "ev") == "invoke" && doc->Find("named")->items.size() == 1 &&
              doc->Find("named")->items[0].number == -3 && doc->Find("args")->items.size() == 4 &&
              doc->Find("args")->items[0].string == "a\xC3\xBC\xF0\x9F\x98\x80" &&
              doc->Find("args")->items[1].number == 1.5 && doc->Find("args")->items[2].boolean &&
              doc->Find("args")->items[3].kind == JsonValue::Kind::Null;
  Check(good, "JSON reads a log line with arrays, escapes and big numbers");

  JsonFields fields;
  fields.Int("obj", 3).Str("ev", "return").Hresult("hr", static_cast<std::int32_t>(0x80070005)).Bool("done", false);
  Check(fields.Text() == R"("obj":3,"ev":"return","hr":"0x80070005","done":false)", "JSON fields in order",
        fields.Text());

  struct HrCase {
    const wchar_t* in;
    std::optional<std::int32_t> out;
  };
  const HrCase hrCases[] = {
      {L"80070005", static_cast<std::int32_t>(0x80070005)},
      {L"0x80004005", static_cast<std::int32_t>(0x80004005)},
      {L" 8007000e ", static_cast<std::int32_t>(0x8007000E)},
      {L"1", 1},
      {L"123456789", std::nullopt},
      {L"xyz", std::nullopt},
      {L"", std::nullopt},
      {L"0x", std::nullopt},
  };
  for (const HrCase& c : hrCases) Check(ParseHresult(c.in) == c.out, "HRESULT text <" + U8(c.in) + ">");

  struct FailCase {
    const wchar_t* in;
    std::map<std::wstring, Failure> out;
    std::size_t problems;
  };
  const Failure hr5{Failure::Kind::Hresult, static_cast<std::int32_t>(0x80070005), L""};
  const FailCase failCases[] = {
      {L"Speak=hr:80070005", {{L"speak", hr5}}, 0},
      {L"Volume=desc:The voice is busy.", {{L"volume", {Failure::Kind::Description, 0, L"The voice is busy."}}}, 0},
      {L"Speak=desc:  blanks and dots...  ", {{L"speak", {Failure::Kind::Description, 0, L"  blanks and dots...  "}}}, 0},
      {L"Speak=desc:a:b", {{L"speak", {Failure::Kind::Description, 0, L"a:b"}}}, 0},
      {L"WAITUNTILDONE=unknown", {{L"waituntildone", {Failure::Kind::UnknownName, 0, L""}}}, 0},
      {L"Speak=hr:80070005;Volume=Unknown;", {{L"speak", hr5}, {L"volume", {Failure::Kind::UnknownName, 0, L""}}}, 0},
      {L" Speak = HR:80070005 ", {{L"speak", hr5}}, 0},
      {L";;", {}, 0},
      {L"Speak=hr:zz", {}, 1},
      {L"=hr:80070005", {}, 1},
      {L"Speak", {}, 1},
      {L"Speak=explode;Volume=hr:80070005", {{L"volume", hr5}}, 1},
  };
  for (const FailCase& c : failCases) {
    std::vector<std::wstring> problems;
    auto got = ParseFailures(c.in, problems);
    Check(got == c.out && problems.size() == c.problems, "failure list <" + U8(c.in) + ">",
          Format("%zu entries, %zu problems", got.size(), problems.size()));
  }

  struct ConfigCase {
    const char* what;
    std::map<std::wstring, std::wstring> vars;
    Mode mode;
    unsigned speakMs;
    std::optional<std::int32_t> failCreate;
    std::size_t problems;
  };
  const ConfigCase configCases[] = {
      {"nothing set: espeak", {}, Mode::Espeak, 300, std::nullopt, 0},
      {"log set: record", {{kLogVar, L"Z:\\tmp\\v.jsonl"}}, Mode::Record, 300, std::nullopt, 0},
      {"log and espeak", {{kLogVar, L"x"}, {kModeVar, L"espeak"}}, Mode::Espeak, 300, std::nullopt, 0},
      {"record without log", {{kModeVar, L"Record"}}, Mode::Record, 300, std::nullopt, 0},
      {"unknown mode", {{kModeVar, L"loud"}}, Mode::Espeak, 300, std::nullopt, 1},
      {"speak time", {{kSpeakMsVar, L"50"}}, Mode::Espeak, 50, std::nullopt, 0},
      {"bad speak time", {{kSpeakMsVar, L"soon"}}, Mode::Espeak, 300, std::nullopt, 1},
      {"creation failure", {{kFailCreateVar, L"80004005"}}, Mode::Espeak, 300, static_cast<std::int32_t>(0x80004005), 0},
      {"creation success code", {{kFailCreateVar, L"00000001"}}, Mode::Espeak, 300, 1, 1},
      {"bad creation failure", {{kFailCreateVar, L"E_FAIL"}}, Mode::Espeak, 300, std::nullopt, 1},
  };
  for (const ConfigCase& c : configCases) {
    Config got = ReadConfig([&](std::wstring_view name) -> std::optional<std::wstring> {
      auto it = c.vars.find(std::wstring(name));
      if (it == c.vars.end()) return std::nullopt;
      return it->second;
    });
    Check(got.mode == c.mode && got.speakMs == c.speakMs && got.failCreate == c.failCreate &&
              got.problems.size() == c.problems,
          std::string("configuration: ") + c.what);
  }

  // A WAV as espeak-ng streams it: placeholder sizes, and here an odd byte at the end.
  auto streamed = [](std::uint32_t placeholder, std::vector<std::int16_t> samples, bool oddTail) {
    std::vector<std::uint8_t> w;
    auto put32 = [&](std::uint32_t v) {
      for (int k = 0; k < 4; ++k) w.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    };
    auto put16 = [&](std::uint16_t v) {
      w.push_back(static_cast<std::uint8_t>(v));
      w.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    w.insert(w.end(), {'R', 'I', 'F', 'F'});
    put32(placeholder);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(16);
    put16(1);
    put16(1);
    put32(22050);
    put32(44100);
    put16(2);
    put16(16);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    put32(placeholder);
    for (std::int16_t s : samples) put16(static_cast<std::uint16_t>(s));
    if (oddTail) w.push_back(0x55);
    return w;
  };
  {
    auto w = streamed(0x7FFFFFFF, {1000, -1000, 32767, -32768}, true);
    auto info = ReadWav(w, true);
    bool ok = info && info->dataOffset == 44 && info->dataSize == 8 && w.size() == 52 && info->sampleRate == 22050;
    Check(ok, "WAV: placeholder sizes mended to the stream's length, whole blocks only");
    auto again = ReadWav(w, false);
    Check(again && again->dataSize == 8, "WAV: mended header reads back strictly");
    auto unmended = streamed(0x7FFFFFFF, {1, 2}, false);
    Check(!ReadWav(unmended, false), "WAV: placeholder sizes are refused unless mended");
    Check(info && std::abs(info->Seconds() - 8.0 / 44100) < 1e-12, "WAV: length in seconds");

    struct ScaleCase {
      int volume;
      std::vector<std::int16_t> out;
    };
    const ScaleCase scales[] = {
        {100, {1000, -1000, 32767, -32768}},
        {50, {500, -500, 16383, -16384}},
        {0, {0, 0, 0, 0}},
        {1, {10, -10, 327, -327}},
    };
    for (const ScaleCase& c : scales) {
      auto s = streamed(0, {1000, -1000, 32767, -32768}, false);
      auto si = ReadWav(s, true);
      ScalePcm16(s, *si, c.volume);
      auto expected = streamed(0, c.out, false);
      ReadWav(expected, true);
      Check(s == expected, Format("WAV: samples scaled for volume %d", c.volume));
      Check(PeakPcm16(s, *si) == std::abs(static_cast<int>(c.out[3])), Format("WAV: peak at volume %d", c.volume));
    }
  }
  {
    std::vector<std::uint8_t> dataFirst = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'd', 'a', 't', 'a', 4, 0, 0, 0, 1, 2, 3, 4};
    Check(!ReadWav(dataFirst, true), "WAV: data before its format is refused");
    std::vector<std::uint8_t> notWav = {'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    Check(!ReadWav(notWav, true), "WAV: not a RIFF file is refused");
  }
}

// ---------------------------------------------------------------- calls

void Calls() {
  ClearEnv();
  SetEnv(kModeVar, L"record");
  SetEnv(kSpeakMsVar, L"20");
  VoiceClient voice;
  HRESULT hr = voice.Create();
  if (!Check(SUCCEEDED(hr), "create by ProgID", Hr(hr))) return;

  struct NameCase {
    const wchar_t* name;
    const wchar_t* same;  // the canonical spelling it must match, or null when unknown
  };
  const NameCase names[] = {
      {L"Volume", L"Volume"}, {L"volume", L"Volume"}, {L"VOLUME", L"Volume"},
      {L"Speak", L"Speak"}, {L"speak", L"Speak"}, {L"sPEAK", L"Speak"},
      {L"WaitUntilDone", L"WaitUntilDone"}, {L"waituntildone", L"WaitUntilDone"},
      {L"Pause", nullptr}, {L"Speak2", nullptr}, {L"", nullptr}, {L"Rate", nullptr}, {L"Volume ", nullptr},
  };
  auto idOf = [&](const wchar_t* name, HRESULT& r) {
    DISPID id = 12345;
    LPOLESTR n[1] = {const_cast<LPOLESTR>(name)};
    r = voice.get()->GetIDsOfNames(IID_NULL, n, 1, LOCALE_USER_DEFAULT, &id);
    return id;
  };
  HRESULT r1, r2, r3;
  DISPID volume = idOf(L"Volume", r1), speak = idOf(L"Speak", r2), wait = idOf(L"WaitUntilDone", r3);
  Check(SUCCEEDED(r1) && SUCCEEDED(r2) && SUCCEEDED(r3) && volume != speak && speak != wait && volume != wait,
        "the three members have distinct numbers");
  for (const NameCase& c : names) {
    HRESULT r;
    DISPID id = idOf(c.name, r);
    if (c.same) {
      HRESULT rs;
      Check(r == S_OK && id == idOf(c.same, rs), "name <" + U8(c.name) + "> is " + U8(c.same), Hr(r));
    } else {
      Check(r == DISP_E_UNKNOWNNAME && id == DISPID_UNKNOWN, "name <" + U8(c.name) + "> is unknown", Hr(r));
    }
  }
  {
    DISPID ids[2];
    LPOLESTR n[2] = {const_cast<LPOLESTR>(L"Speak"), const_cast<LPOLESTR>(L"Text")};
    HRESULT r = voice.get()->GetIDsOfNames(IID_NULL, n, 2, LOCALE_USER_DEFAULT, ids);
    Check(r == DISP_E_UNKNOWNNAME && ids[0] == speak && ids[1] == DISPID_UNKNOWN, "argument names are unknown",
          Hr(r));
    GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    r = voice.get()->GetIDsOfNames(other, n, 1, LOCALE_USER_DEFAULT, ids);
    Check(r == DISP_E_UNKNOWNINTERFACE, "GetIDsOfNames refuses a non-null riid", Hr(r));
    UINT count = 99;
    Check(voice.get()->GetTypeInfoCount(&count) == S_OK && count == 0, "no type information");
    Var dummy;
    EXCEPINFO ei{};
    UINT argErr;
    DISPPARAMS none{};
    r = voice.get()->Invoke(speak, other, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &dummy.v, &ei, &argErr);
    Check(r == DISP_E_UNKNOWNINTERFACE, "Invoke refuses a non-null riid", Hr(r));
  }
  {
    IUnknown* unknown = nullptr;
    IDispatch* dispatch = nullptr;
    IUnknown* other = nullptr;
    const GUID otherIid = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    bool ok = voice.get()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)) == S_OK &&
              voice.get()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)) == S_OK &&
              static_cast<IUnknown*>(dispatch) == unknown &&
              voice.get()->QueryInterface(otherIid, reinterpret_cast<void**>(&other)) == E_NOINTERFACE &&
              other == nullptr;
    Check(ok, "QueryInterface: IUnknown and IDispatch, nothing else");
    if (unknown) unknown->Release();
    if (dispatch) dispatch->Release();
  }

  // Volume.
  struct VolumeCase {
    const char* what;
    std::function<void(Args&)> value;
    HRESULT hr;
    long after;  // Volume read back afterwards
  };
  const VolumeCase volumes[] = {
      {"100", [](Args& a) { a.I4(100); }, S_OK, 100},
      {"37", [](Args& a) { a.I4(37); }, S_OK, 37},
      {"0", [](Args& a) { a.I4(0); }, S_OK, 0},
      {"\"64\" as text", [](Args& a) { a.Str(L"64"); }, S_OK, 64},
      {"12 as a 16-bit integer", [](Args& a) { a.I2(12); }, S_OK, 12},
      {"101", [](Args& a) { a.I4(101); }, E_INVALIDARG, 12},
      {"-1", [](Args& a) { a.I4(-1); }, E_INVALIDARG, 12},
      {"\"loud\"", [](Args& a) { a.Str(L"loud"); }, DISP_E_TYPEMISMATCH, 12},
  };
  for (const VolumeCase& c : volumes) {
    Args a;
    c.value(a);
    Outcome put = voice.Call(L"Volume", DISPATCH_PROPERTYPUT, a);
    Outcome get = voice.GetVolume();
    Check(put.hr == c.hr && get.ok() && get.resultType == VT_I4 && get.resultInt == c.after,
          std::string("Volume := ") + c.what, Format("put %s, read %lld", Hr(put.hr).c_str(), get.resultInt));
    if (c.hr == DISP_E_TYPEMISMATCH) Check(put.argErr == 0, "a bad Volume names argument 0");
  }
  {
    Outcome o = voice.InvokeId(volume, DISPATCH_PROPERTYPUT, Args().I4(50), false);
    Check(o.hr == DISP_E_PARAMNOTFOUND, "Volume put without the DISPID_PROPERTYPUT name is refused", Hr(o.hr));
    Outcome m = voice.Call(L"Volume", DISPATCH_METHOD | DISPATCH_PROPERTYGET, Args());
    Check(m.ok() && m.resultInt == 12, "Volume read as a method-or-property, as scripting clients do");
  }

  // Speak: arguments arrive last first; the text is argument 0 in call order.
  Outcome first = voice.Speak(L"first", 1);
  Outcome second = voice.Speak(L"second", 1);
  Check(first.ok() && first.resultType == VT_I4 && second.resultInt == first.resultInt + 1,
        "Speak gives consecutive stream numbers", Format("%lld, %lld", first.resultInt, second.resultInt));

  BSTR byRef = SysAllocString(L"by reference");
  struct SpeakCase {
    const char* what;
    std::function<void(Args&)> args;
    HRESULT hr;
    UINT argErr;  // checked when the call fails on an argument
  };
  const SpeakCase speaks[] = {
      {"text and flags", [](Args& a) { a.Str(L"x").I4(1); }, S_OK, 0},
      {"text only (synchronous)", [](Args& a) { a.Str(L"x"); }, S_OK, 0},
      {"number as text", [](Args& a) { a.I4(42).I4(1); }, S_OK, 0},
      {"flags as text", [](Args& a) { a.Str(L"x").Str(L"1"); }, S_OK, 0},
      {"flags as a 16-bit integer", [](Args& a) { a.Str(L"x").I2(1); }, S_OK, 0},
      {"flags left out", [](Args& a) { a.Str(L"x").Missing(); }, S_OK, 0},
      {"text by reference", [&](Args& a) { a.ByRefBstr(&byRef).I4(1); }, S_OK, 0},
      {"flags not a number", [](Args& a) { a.Str(L"x").Str(L"abc"); }, DISP_E_TYPEMISMATCH, 0},
      {"no arguments", [](Args&) {}, DISP_E_BADPARAMCOUNT, 0},
      {"three arguments", [](Args& a) { a.Str(L"x").I4(1).I4(0); }, DISP_E_BADPARAMCOUNT, 0},
      {"text left out", [](Args& a) { a.Missing().I4(1); }, DISP_E_PARAMNOTOPTIONAL, 0},
  };
  for (const SpeakCase& c : speaks) {
    Args a;
    c.args(a);
    Outcome o = voice.Call(L"Speak", DISPATCH_METHOD, a);
    bool ok = o.hr == c.hr && (c.hr != DISP_E_TYPEMISMATCH || o.argErr == c.argErr);
    Check(ok, std::string("Speak with ") + c.what, Hr(o.hr));
  }
  SysFreeString(byRef);
  {
    Outcome asProperty = voice.Call(L"Speak", DISPATCH_PROPERTYGET, Args().Str(L"x").I4(1));
    Check(asProperty.hr == DISP_E_MEMBERNOTFOUND, "Speak is not a property", Hr(asProperty.hr));
    Outcome noResult = voice.Call(L"Speak", DISPATCH_METHOD, Args().Str(L"x").I4(1), false);
    Check(noResult.ok(), "Speak without a place for the result");
    Outcome bogus = voice.InvokeId(99, DISPATCH_METHOD, Args(), false);
    Check(bogus.hr == DISP_E_MEMBERNOTFOUND, "an unknown member number", Hr(bogus.hr));
  }

  Outcome done = voice.Wait(-1);
  Check(done.ok() && done.resultType == VT_BOOL && done.resultBool, "WaitUntilDone(-1) gives true");
  Outcome idle = voice.Wait(0);
  Check(idle.ok() && idle.resultType == VT_BOOL && idle.resultBool, "WaitUntilDone(0) on an idle voice gives true");
  Outcome noArg = voice.Call(L"WaitUntilDone", DISPATCH_METHOD, Args());
  Check(noArg.hr == DISP_E_BADPARAMCOUNT, "WaitUntilDone needs its time-out", Hr(noArg.hr));
  Outcome badArg = voice.Call(L"WaitUntilDone", DISPATCH_METHOD, Args().Str(L"forever"));
  Check(badArg.hr == DISP_E_TYPEMISMATCH && badArg.argErr == 0, "WaitUntilDone with a non-number", Hr(badArg.hr));
}

// ---------------------------------------------------------------- record

void RunWriter(int sentences);

void Record() {
  const DWORD mainTid = GetCurrentThreadId();

  {  // One announcement, as the clock makes it, read back line by line.
    // A second a sentence: time enough to let go of the voice in the middle of the second one.
    std::wstring logPath = RecordInto(L"record-lines.jsonl", 1000);
    long long before = UnixMicroseconds();
    VoiceClient voice;
    HRESULT hr = voice.Create();
    Check(SUCCEEDED(hr), "create by ProgID", Hr(hr));
    if (FAILED(hr)) return;
    voice.PutVolume(100);
    voice.Speak(L"Now is 9:5", 1);
    voice.Wait(-1);
    voice.Speak(L"  Today is Friday  8th,February,2013", 1);
    // Released while the worker speaks the sentence, not while it is still queued: under load
    // the worker can take longer to pick it up than the caller takes to let go.
    PollUntil([&] { return LogHas(logPath, "speak_start", "  Today is Friday  8th,February,2013"); }, 10000);
    voice.Reset();
    long long after = UnixMicroseconds();

    LogLines log = ReadLog(logPath);
    Check(log.bad.empty() && !log.lines.empty(), "every log line is one JSON object",
          log.bad.empty() ? "empty log" : log.bad[0]);
    bool fieldsOk = true, timesOk = true, ordered = true;
    double last = 0;
    for (const JsonValue& l : log.lines) {
      double t = N(l, "t");
      fieldsOk = fieldsOk && !std::isnan(t) && N(l, "pid") == GetCurrentProcessId() && !std::isnan(N(l, "tid")) &&
                 S(l, "ev") != "<none>";
      timesOk = timesOk && t >= static_cast<double>(before) && t <= static_cast<double>(after);
      ordered = ordered && t >= last;
      last = t;
    }
    Check(fieldsOk, "every line has t, pid, tid and ev");
    Check(timesOk, "t is microseconds since the Unix epoch, taken at the call");
    Check(ordered, "t never goes back in the file");

    // The calling thread's view, without the worker's lines.
    std::vector<std::string> calls;
    for (const JsonValue& l : log.lines) {
      if (N(l, "tid") != mainTid) continue;
      std::string e = S(l, "ev");
      if (S(l, "name") != "<none>") e += " " + S(l, "name");
      if (Is(l, "release")) e += Format(" %.0f", N(l, "refs"));
      calls.push_back(e);
    }
    const std::vector<std::string> expected = {
        "create",
        "getids Volume", "invoke Volume", "return Volume",
        "getids Speak", "invoke Speak", "return Speak",
        "getids WaitUntilDone", "invoke WaitUntilDone", "return WaitUntilDone",
        "getids Speak", "invoke Speak", "return Speak",
        "release 0", "destroy",
    };
    std::string got;
    for (const std::string& c : calls) got += c + "; ";
    Check(calls == expected, "the calling thread logs create, getids/invoke/return per call, release, destroy", got);

    int put = Find(log, "invoke", "Volume");
    if (put >= 0) {
      const JsonValue& l = log.lines[put];
      const JsonValue* named = l.Find("named");
      const JsonValue* args = l.Find("args");
      const JsonValue* types = l.Find("types");
      bool ok = N(l, "flags") == DISPATCH_PROPERTYPUT && named && named->items.size() == 1 &&
                named->items[0].number == DISPID_PROPERTYPUT && args && args->items.size() == 1 &&
                args->items[0].number == 100 && types && types->items[0].number == static_cast<double>(VT_I4);
      Check(ok, "invoke Volume: flags 4, named [-3], args [100], types [3]");
    }
    int speak = Find(log, "invoke", "Speak");
    if (speak >= 0) {
      const JsonValue& l = log.lines[speak];
      const JsonValue* args = l.Find("args");
      const JsonValue* named = l.Find("named");
      bool ok = N(l, "flags") == DISPATCH_METHOD && named && named->items.empty() && args &&
                args->items.size() == 2 && args->items[0].string == "Now is 9:5" && args->items[1].number == 1 &&
                N(l, "dispid") == N(log.lines[Find(log, "getids", "Speak")], "dispid");
      Check(ok, "invoke Speak: args in call order [text, 1], dispid as looked up");
    }
    int ret = Find(log, "return", "Speak");
    Check(ret >= 0 && S(log.lines[ret], "hr") == "0x00000000", "return carries hr as 0x%08X text");

    int start1 = Find(log, "speak_start", "Now is 9:5"), end1 = Find(log, "speak_end", "Now is 9:5");
    int waitReturn = Find(log, "return", "WaitUntilDone");
    Check(start1 >= 0 && end1 > start1 && waitReturn > end1, "WaitUntilDone returns after the sentence has ended");
    Check(start1 >= 0 && N(log.lines[start1], "tid") != mainTid, "sentences are spoken on a thread of the voice");
    int start2 = Find(log, "speak_start", "  Today is Friday  8th,February,2013");
    int end2 = Find(log, "speak_end", "  Today is Friday  8th,February,2013");
    int destroy = Find(log, "destroy");
    Check(start2 >= 0 && end2 > start2 && !B(log.lines[end2], "done") && destroy > end2 &&
              N(log.lines[destroy], "dropped") == 0 && B(log.lines[destroy], "worker_ended"),
          "dropping the last reference cuts the sentence being spoken and ends the worker");
    int create = Find(log, "create");
    Check(create >= 0 && S(log.lines[create], "mode") == "record" && N(log.lines[create], "speak_ms") == 1000,
          "create names the mode and speaking time");
  }

  {  // Queue order and asynchronous return.
    std::wstring logPath = RecordInto(L"record-order.jsonl", 300);
    VoiceClient voice;
    voice.Create();
    const std::vector<std::wstring> texts = {L"one", L"two", L"three"};
    for (const std::wstring& t : texts) voice.Speak(t, 1);
    Outcome w = voice.Wait(-1);
    voice.Reset();
    LogLines log = ReadLog(logPath);
    int lastReturn = -1;
    for (int i = Find(log, "return", "Speak"); i >= 0; i = Find(log, "return", "Speak", i + 1)) lastReturn = i;
    Check(lastReturn >= 0 && lastReturn < Find(log, "speak_end", "one"),
          "asynchronous Speak returns before the first sentence ends");
    bool inOrder = true;
    int at = 0;
    double previousEnd = 0;
    for (const std::wstring& t : texts) {
      int s = Find(log, "speak_start", U8(t), at), e = Find(log, "speak_end", U8(t), at);
      inOrder = inOrder && s >= at && e > s && N(log.lines[s], "t") >= previousEnd && B(log.lines[e], "done");
      if (e < 0) break;
      previousEnd = N(log.lines[e], "t");
      at = e + 1;
    }
    Check(inOrder, "queued sentences are spoken in order, one after another");
    Check(w.ok() && w.resultBool, "WaitUntilDone(-1) gives true");
  }

  {  // WaitUntilDone really blocks for the speaking time.
    std::wstring logPath = RecordInto(L"record-wait.jsonl", 400);
    VoiceClient voice;
    voice.Create();
    double t0 = NowMs();
    voice.Speak(L"Now is 9:5", 1);
    voice.Speak(L"  Today is Friday  8th,February,2013", 1);
    double queued = NowMs() - t0;
    Outcome w = voice.Wait(-1);
    double waited = NowMs() - t0;
    voice.Reset();
    Note(Format("two sentences of 400 ms: Speak x2 returned after %.1f ms, WaitUntilDone(-1) after %.1f ms", queued,
                waited));
    Check(queued < 400, "two asynchronous Speaks return within the first sentence's time");
    Check(w.ok() && w.resultBool && waited >= 800 - kTickMs, "WaitUntilDone(-1) blocks for both sentences",
          Format("%.1f ms", waited));
    LogLines log = ReadLog(logPath);
    int s = Find(log, "speak_start", "Now is 9:5");
    int e = Find(log, "speak_end", "  Today is Friday  8th,February,2013");
    double spoken = s >= 0 && e >= 0 ? (N(log.lines[e], "t") - N(log.lines[s], "t")) / 1000.0 : -1;
    Note(Format("log: first speak_start to last speak_end %.1f ms", spoken));
    Check(spoken >= 800 - kTickMs, "each sentence takes its speaking time in the log");
  }

  {  // A time-out.
    RecordInto(L"record-timeout.jsonl", 1500);
    VoiceClient voice;
    voice.Create();
    voice.Speak(L"long", 1);
    double t0 = NowMs();
    Outcome shortWait = voice.Wait(100);
    double waited = NowMs() - t0;
    Outcome longWait = voice.Wait(-1);
    Outcome idle = voice.Wait(0);
    Note(Format("WaitUntilDone(100) during a 1500 ms sentence returned after %.1f ms", waited));
    Check(shortWait.ok() && shortWait.resultType == VT_BOOL && !shortWait.resultBool && waited >= 100 - kTickMs,
          "WaitUntilDone(100) gives false after about 100 ms while speaking");
    Check(longWait.ok() && longWait.resultBool && idle.ok() && idle.resultBool,
          "then WaitUntilDone(-1) and WaitUntilDone(0) give true");
  }

  {  // Synchronous Speak.
    std::wstring logPath = RecordInto(L"record-sync.jsonl", 300);
    VoiceClient voice;
    voice.Create();
    double t0 = NowMs();
    voice.Speak(L"queued first", 1);
    Outcome sync = voice.Speak(L"spoken in turn", 0);
    double took = NowMs() - t0;
    voice.Reset();
    LogLines log = ReadLog(logPath);
    int lastReturn = -1;
    for (int i = Find(log, "return", "Speak"); i >= 0; i = Find(log, "return", "Speak", i + 1)) lastReturn = i;
    Check(sync.ok() && lastReturn > Find(log, "speak_end", "spoken in turn") && took >= 600 - kTickMs,
          "Speak without the async flag returns after its sentence, spoken in turn", Format("%.1f ms", took));
  }

  {  // Purge before speak.
    std::wstring logPath = RecordInto(L"record-purge.jsonl", 30000);
    VoiceClient voice;
    voice.Create();
    voice.Speak(L"long", 1);
    voice.Speak(L"queued", 1);
    bool started = PollUntil([&] { return LogHas(logPath, "speak_start", "long"); }, 10000);
    voice.Speak(L"now", 1 | 2);
    bool next = PollUntil([&] { return LogHas(logPath, "speak_start", "now"); }, 10000);
    voice.Reset();
    LogLines log = ReadLog(logPath);
    int cut = Find(log, "speak_end", "long");
    int now = Find(log, "speak_start", "now");
    Check(started && next && cut >= 0 && !B(log.lines[cut], "done") && Count(log, "speak_start", "queued") == 0 &&
              now > cut,
          "the purge flag cuts the current sentence and drops the queue");
  }

  {  // The last Release while speaking: the worker ends, the queue is dropped.
    std::wstring logPath = RecordInto(L"record-release.jsonl", 60000);
    VoiceClient voice;
    voice.Create();
    voice.Speak(L"a", 1);
    voice.Speak(L"b", 1);
    voice.Speak(L"c", 1);
    PollUntil([&] { return LogHas(logPath, "speak_start", "a"); }, 10000);
    double t0 = NowMs();
    voice.Reset();
    double took = NowMs() - t0;
    Note(Format("last Release during a 60 s sentence took %.1f ms", took));
    LogLines log = ReadLog(logPath);
    int destroy = Find(log, "destroy");
    int end = Find(log, "speak_end", "a");
    Check(destroy > end && end >= 0 && !B(log.lines[end], "done") && N(log.lines[destroy], "dropped") == 2 &&
              B(log.lines[destroy], "worker_ended") && Count(log, "speak_start", "b") == 0,
          "the last Release while speaking cuts the sentence, drops two and ends the worker");
  }

  {  // Reference counting.
    std::wstring logPath = RecordInto(L"record-refs.jsonl", 10);
    VoiceClient voice;
    voice.Create();
    voice.get()->AddRef();
    voice.get()->AddRef();
    ULONG a = voice.get()->Release();
    ULONG b = voice.get()->Release();
    voice.Reset();
    LogLines log = ReadLog(logPath);
    std::vector<double> refs;
    for (int i = Find(log, "release"); i >= 0; i = Find(log, "release", {}, i + 1)) refs.push_back(N(log.lines[i], "refs"));
    Check(a == 2 && b == 1 && refs == std::vector<double>{2, 1, 0} && Find(log, "destroy") > Find(log, "release", {}, 2),
          "release logs the references left; the object goes at 0");
  }

  {  // Any text survives the log.
    std::wstring logPath = RecordInto(L"record-text.jsonl", 10);
    const std::wstring text = L"Gr\u00fc\u00dfe \"quoted\" back\\slash\ttab \u65e5\u672c \xD83D\xDE00 \x01 end";
    VoiceClient voice;
    voice.Create();
    voice.Speak(text, 0);
    voice.Reset();
    LogLines log = ReadLog(logPath);
    int s = Find(log, "speak_start", U8(text));
    int inv = Find(log, "invoke", "Speak");
    Check(log.bad.empty() && s >= 0 && inv >= 0 && log.lines[inv].Find("args")->items[0].string == U8(text),
          "text with quotes, controls and non-ASCII is logged exactly as UTF-8");
  }

  {  // The default speaking time.
    ClearEnv();
    std::wstring logPath = FreshFile(L"record-default.jsonl");
    SetEnv(kLogVar, logPath);
    VoiceClient voice;
    voice.Create();
    voice.Speak(L"default", 0);
    voice.Reset();
    LogLines log = ReadLog(logPath);
    int c = Find(log, "create"), s = Find(log, "speak_start"), e = Find(log, "speak_end");
    double ms = s >= 0 && e >= 0 ? (N(log.lines[e], "t") - N(log.lines[s], "t")) / 1000.0 : -1;
    Check(c >= 0 && S(log.lines[c], "mode") == "record" && N(log.lines[c], "speak_ms") == 300 && ms >= 300 - kTickMs,
          "with only a log set: recording voice, 300 ms a sentence", Format("%.1f ms", ms));
  }

  {  // Objects on two threads, and two processes, share one log.
    std::wstring logPath = RecordInto(L"record-shared.jsonl", 0);
    const int kSentences = 25;

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" writer " + std::to_wstring(kSentences);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    bool spawned = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);

    std::thread other([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      RunWriter(kSentences);
      CoUninitialize();
    });
    RunWriter(kSentences);
    other.join();
    DWORD code = 1;
    if (spawned) {
      WaitForSingleObject(pi.hProcess, 60000);
      GetExitCodeProcess(pi.hProcess, &code);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
    Check(spawned && code == 0, "a second process writes to the same log");

    LogLines log = ReadLog(logPath);
    std::map<std::pair<double, double>, int> starts, ends;  // (pid, obj) -> count
    for (const JsonValue& l : log.lines) {
      if (Is(l, "speak_start")) ++starts[{N(l, "pid"), N(l, "obj")}];
      if (Is(l, "speak_end")) ++ends[{N(l, "pid"), N(l, "obj")}];
    }
    bool complete = starts.size() == 3 && ends.size() == 3;
    for (auto& [key, n] : starts) complete = complete && n == kSentences && ends[key] == kSentences;
    Check(log.bad.empty() && complete, "three writers on one log: every line whole, every event there",
          Format("%zu bad lines, %zu writers", log.bad.size(), starts.size()));
  }
}

void RunWriter(int sentences) {
  VoiceClient voice;
  if (FAILED(voice.Create())) return;
  for (int i = 0; i < sentences; ++i) voice.Speak(L"sentence " + std::to_wstring(i), 1);
  voice.Wait(-1);
}

// ---------------------------------------------------------------- fail

void Fail() {
  struct Case {
    const wchar_t* rule;
    const wchar_t* member;  // the call made
    HRESULT idsHr;
    HRESULT hr;
    const wchar_t* description;  // for DISP_E_EXCEPTION
    const wchar_t* unaffected;   // a member that must still work
  };
  const Case cases[] = {
      {L"Volume=hr:80070005", L"Volume", S_OK, static_cast<HRESULT>(0x80070005), nullptr, L"Speak"},
      {L"Speak=hr:8007000E", L"Speak", S_OK, static_cast<HRESULT>(0x8007000E), nullptr, L"Volume"},
      {L"WaitUntilDone=hr:80004005", L"WaitUntilDone", S_OK, E_FAIL, nullptr, L"Speak"},
      {L"Speak=desc:The voice is busy.", L"Speak", S_OK, DISP_E_EXCEPTION, L"The voice is busy.", L"WaitUntilDone"},
      {L"Volume=desc:  Blanks and dots...  ", L"Volume", S_OK, DISP_E_EXCEPTION, L"  Blanks and dots...  ", L"Speak"},
      {L"WaitUntilDone=unknown", L"WaitUntilDone", DISP_E_UNKNOWNNAME, S_OK, nullptr, L"Speak"},
      {L"speak=unknown", L"Speak", DISP_E_UNKNOWNNAME, S_OK, nullptr, L"Volume"},
      {L"Volume=unknown;Speak=desc:Both at once.", L"Volume", DISP_E_UNKNOWNNAME, S_OK, nullptr, L"WaitUntilDone"},
      {L"Volume=unknown;Speak=desc:Both at once.", L"Speak", S_OK, DISP_E_EXCEPTION, L"Both at once.", L"WaitUntilDone"},
  };
  auto call = [](const VoiceClient& v, const wchar_t* member) {
    std::wstring m = member;
    if (m == L"Volume") return v.Call(L"Volume", DISPATCH_PROPERTYPUT, Args().I4(100));
    if (m == L"Speak") return v.Speak(L"Now is 9:5", 1);
    return v.Wait(-1);
  };
  int n = 0;
  for (const Case& c : cases) {
    std::wstring logPath = RecordInto(L"fail-" + std::to_wstring(++n) + L".jsonl", 10);
    SetEnv(kFailVar, c.rule);
    VoiceClient voice;
    HRESULT created = voice.Create();
    if (!Check(SUCCEEDED(created), "create with " + U8(c.rule), Hr(created))) continue;
    Outcome o = call(voice, c.member);
    Outcome other = call(voice, c.unaffected);
    voice.Wait(-1);
    voice.Reset();
    std::string what = U8(c.rule) + ": " + U8(c.member);
    bool ok = o.idsHr == c.idsHr && (FAILED(c.idsHr) || o.hr == c.hr);
    if (c.description) ok = ok && o.description == c.description && o.scode == E_FAIL;
    Check(ok, what + " gives " + (FAILED(c.idsHr) ? "unknown name" : Hr(c.hr)),
          o.Text() + (o.description.empty() ? "" : " \"" + U8(o.description) + "\""));
    Check(other.ok(), what + ": " + U8(c.unaffected) + " still works", other.Text());

    LogLines log = ReadLog(logPath);
    if (SUCCEEDED(c.idsHr)) {
      int r = Find(log, "return", U8(c.member));
      Check(r >= 0 && S(log.lines[r], "hr") == Hr(c.hr), what + ": the log has the returned hr");
    } else {
      int g = Find(log, "getids", U8(c.member));
      Check(g >= 0 && S(log.lines[g], "hr") == Hr(DISP_E_UNKNOWNNAME), what + ": the log has the refused lookup");
    }
    if (std::wstring(c.member) == L"Speak" && FAILED(c.hr)) {
      Check(Count(log, "speak_start") == 0, what + ": nothing is spoken");
    }
  }

  struct CreateCase {
    const wchar_t* value;
    HRESULT hr;
  };
  const CreateCase creates[] = {
      {L"80004005", E_FAIL},
      {L"80070005", static_cast<HRESULT>(0x80070005)},
      {L"0x8007000E", E_OUTOFMEMORY},
  };
  for (const CreateCase& c : creates) {
    std::wstring logPath = RecordInto(L"fail-create.jsonl", 10);
    SetEnv(kFailCreateVar, c.value);
    VoiceClient voice;
    HRESULT hr = voice.Create();
    Check(hr == c.hr && !voice, "creation failure " + U8(c.value) + " reaches CoCreateInstance", Hr(hr));
    LogLines log = ReadLog(logPath);
    int i = Find(log, "create");
    Check(i >= 0 && S(log.lines[i], "hr") == Hr(c.hr) && log.lines[i].Find("obj")->kind == JsonValue::Kind::Null,
          "creation failure " + U8(c.value) + " is logged");
  }
  {
    RecordInto(L"fail-create-ok.jsonl", 10);
    SetEnv(kFailCreateVar, L"00000000");
    VoiceClient voice;
    HRESULT hr = voice.Create();
    Check(hr == S_OK && voice, "a success code does not fail creation", Hr(hr));
  }
}

// ---------------------------------------------------------------- config

const wchar_t kSettingsKey[] = L"Software\\Quenlet\\Voice";

void SetRegistry(const wchar_t* name, const std::wstring& value) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, name, REG_SZ, value.c_str(),
                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}
void ClearRegistry() { RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }

void ConfigGroup() {
  ClearRegistry();
  {
    ClearEnv();
    std::wstring logPath = FreshFile(L"config-registry.jsonl");
    SetRegistry(kLogVar, logPath);
    SetRegistry(kSpeakMsVar, L"120");
    VoiceClient voice;
    HRESULT hr = voice.Create();
    voice.Speak(L"from the registry", 0);
    voice.Reset();
    LogLines log = ReadLog(logPath);
    int c = Find(log, "create");
    Check(SUCCEEDED(hr) && c >= 0 && S(log.lines[c], "mode") == "record" && N(log.lines[c], "speak_ms") == 120 &&
              Find(log, "speak_end", "from the registry") >= 0,
          "configuration from HKCU\\Software\\Quenlet\\Voice alone");
  }
  struct Case {
    const char* what;
    std::map<std::wstring, std::wstring> registry;
    std::map<std::wstring, std::wstring> environment;
    HRESULT speakHr;
  };
  const Case cases[] = {
      {"registry failure rule", {{kFailVar, L"Speak=hr:80070005"}}, {}, static_cast<HRESULT>(0x80070005)},
      {"environment over registry", {{kFailVar, L"Speak=hr:80070005"}}, {{kFailVar, L"Speak=hr:8007000E"}},
       E_OUTOFMEMORY},
      {"environment only", {}, {{kFailVar, L"Speak=hr:8007000E"}}, E_OUTOFMEMORY},
      {"other names do not mix", {{kFailVar, L"Speak=hr:80070005"}}, {{kFailCreateVar, L""}, {kSpeakMsVar, L"5"}},
       static_cast<HRESULT>(0x80070005)},
  };
  for (const Case& c : cases) {
    ClearRegistry();
    std::wstring logPath = RecordInto(L"config-order.jsonl", 10);
    for (auto& [name, value] : c.registry) SetRegistry(name.c_str(), value);
    for (auto& [name, value] : c.environment) SetEnv(name.c_str(), value);
    VoiceClient voice;
    HRESULT hr = voice.Create();
    Outcome o = voice.Speak(L"x", 1);
    Check(SUCCEEDED(hr) && o.hr == c.speakHr, std::string("configuration: ") + c.what, o.Text());
  }
  {
    ClearRegistry();
    ClearEnv();
    std::wstring logPath = FreshFile(L"config-mode.jsonl");
    SetEnv(kLogVar, logPath);
    SetRegistry(kModeVar, L"espeak");
    SetRegistry(kSpeakMsVar, L"soon");
    VoiceClient voice;
    voice.Create();
    voice.Reset();
    LogLines log = ReadLog(logPath);
    int c = Find(log, "create");
    const JsonValue* problems = c >= 0 ? log.lines[c].Find("problems") : nullptr;
    Check(c >= 0 && S(log.lines[c], "mode") == "espeak", "mode from the registry, log from the environment");
    Check(problems && problems->items.size() == 1 &&
              problems->items[0].string.find("QUENLET_VOICE_SPEAK_MS") != std::string::npos,
          "a value that cannot be read is named in create's problems");
  }
  {
    ClearRegistry();
    std::wstring logPath = RecordInto(L"config-each-create.jsonl", 100);
    VoiceClient first, second;
    first.Create();
    SetEnv(kSpeakMsVar, L"200");
    second.Create();
    first.Reset();
    second.Reset();
    LogLines log = ReadLog(logPath);
    int a = Find(log, "create"), b = a >= 0 ? Find(log, "create", {}, a + 1) : -1;
    Check(b >= 0 && N(log.lines[a], "speak_ms") == 100 && N(log.lines[b], "speak_ms") == 200,
          "configuration is read when each object is created");
  }
  ClearRegistry();
}

// ---------------------------------------------------------------- espeak

struct WavFile {
  bool ok = false;
  WavInfo info;
  std::vector<std::uint8_t> bytes;
};

WavFile LoadWav(const std::wstring& path) {
  WavFile w;
  std::string data = ReadWhole(path);
  w.bytes.assign(data.begin(), data.end());
  auto info = ReadWav(w.bytes, false);
  if (info) {
    w.ok = true;
    w.info = *info;
  }
  return w;
}

std::wstring Numbered(const std::wstring& dir, int n) {
  wchar_t name[16];
  std::swprintf(name, 16, L"%03d.wav", n);
  return dir + L"\\" + name;
}

void EmptyFolder(const std::wstring& dir) {
  CreateDirectoryW(dir.c_str(), nullptr);
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*.wav").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do DeleteFileW((dir + L"\\" + fd.cFileName).c_str());
  while (FindNextFileW(h, &fd));
  FindClose(h);
}

void Espeak() {
  const std::wstring announce = g_folder + L"\\announce";  // kept for a look with soxi
  const std::wstring scratch = g_folder + L"\\volume";
  const std::wstring sentence1 = L"Now is 9:5";
  const std::wstring sentence2 = L"  Today is Friday  8th,February,2013";

  {  // The clock's announcement, with nothing configured but the WAV folder: espeak is the default.
    ClearEnv();
    EmptyFolder(announce);
    SetEnv(kWavDirVar, announce);
    VoiceClient voice;
    HRESULT hr = voice.Create();
    if (!Check(SUCCEEDED(hr), "create by ProgID", Hr(hr))) return;
    Check(voice.PutVolume(100) == S_OK, "Volume := 100");
    double t0 = NowMs();
    Outcome s1 = voice.Speak(sentence1, 1);
    double queued = NowMs() - t0;
    Outcome w1 = voice.Wait(-1);
    double wait1 = NowMs() - t0;
    double t1 = NowMs();
    voice.Speak(sentence2, 1);
    Outcome w2 = voice.Wait(-1);
    double wait2 = NowMs() - t1;
    voice.Reset();

    WavFile a = LoadWav(Numbered(announce, 1)), b = LoadWav(Numbered(announce, 2));
    Check(s1.ok() && queued < 500, "Speak returns at once in espeak mode", Format("%.1f ms", queued));
    Check(w1.ok() && w1.resultBool && w2.ok() && w2.resultBool, "WaitUntilDone(-1) gives true");
    Check(a.ok && b.ok, "each sentence is kept as a WAV whose header sizes match the file (001.wav, 002.wav)");
    if (!a.ok || !b.ok) return;
    double d1 = a.info.Seconds(), d2 = b.info.Seconds();
    Note(Format("001.wav \"%s\": %.3f s, WaitUntilDone took %.1f ms", U8(sentence1).c_str(), d1, wait1));
    Note(Format("002.wav \"%s\": %.3f s, WaitUntilDone took %.1f ms", U8(sentence2).c_str(), d2, wait2));
    Check(a.info.format == 1 && a.info.bitsPerSample == 16 && a.info.channels == 1 && a.info.sampleRate >= 8000,
          "16-bit mono PCM");
    Check(d1 > 0.6 && d1 < 3.0, "\"Now is 9:5\" lasts a plausible time", Format("%.3f s", d1));
    Check(d2 > 1.8 && d2 < 6.0 && d2 > d1, "the date sentence lasts a plausible time, longer", Format("%.3f s", d2));
    Check(wait1 >= d1 * 1000 - kTickMs && wait2 >= d2 * 1000 - kTickMs,
          "WaitUntilDone lasts at least as long as the audio");
    Check(PeakPcm16(a.bytes, a.info) > 1000, "the audio is not silent at volume 100");
  }

  {  // Volume scales the samples; the log follows espeak mode too.
    ClearEnv();
    EmptyFolder(scratch);
    std::wstring logPath = g_folder + L"\\espeak.jsonl";
    DeleteFileW(logPath.c_str());
    SetEnv(kWavDirVar, scratch);
    SetEnv(kLogVar, logPath);
    SetEnv(kModeVar, L"espeak");
    VoiceClient voice;
    voice.Create();
    const long volumes[] = {100, 50, 0};
    for (long v : volumes) {
      voice.PutVolume(v);  // applies from the next sentence the voice starts
      voice.Speak(L"Volume test", 1);
      voice.Wait(-1);
    }
    voice.Reset();
    int peaks[3];
    bool loaded = true;
    for (int i = 0; i < 3; ++i) {
      WavFile w = LoadWav(Numbered(scratch, i + 1));
      loaded = loaded && w.ok;
      peaks[i] = w.ok ? PeakPcm16(w.bytes, w.info) : -1;
    }
    Note(Format("peaks at volume 100, 50, 0: %d, %d, %d", peaks[0], peaks[1], peaks[2]));
    Check(loaded && peaks[0] > 1000 && std::abs(peaks[1] - peaks[0] / 2) <= 1 && peaks[2] == 0,
          "Volume scales the samples (100, 50, 0)");
    LogLines log = ReadLog(logPath);
    int c = Find(log, "create"), e = Find(log, "speak_end", "Volume test");
    Check(c >= 0 && S(log.lines[c], "mode") == "espeak" && e >= 0 && B(log.lines[e], "done") &&
              N(log.lines[e], "seconds") > 0 && S(log.lines[e], "wav") != "<none>" && Count(log, "speak_start") == 3,
          "espeak mode logs speak_start and speak_end with the audio's length and WAV");
  }

  {  // No espeak-ng where configured: the voice carries on.
    ClearEnv();
    std::wstring logPath = g_folder + L"\\espeak-missing.jsonl";
    DeleteFileW(logPath.c_str());
    SetEnv(kLogVar, logPath);
    SetEnv(kModeVar, L"espeak");
    SetEnv(kEspeakVar, L"Z:\\nonexistent\\espeak-ng");
    VoiceClient voice;
    voice.Create();
    voice.Speak(L"Nobody speaks", 1);
    Outcome w = voice.Wait(30000);
    voice.Reset();
    LogLines log = ReadLog(logPath);
    int e = Find(log, "speak_end", "Nobody speaks");
    Check(w.resultBool && e >= 0 && S(log.lines[e], "error") != "<none>",
          "a missing espeak-ng ends the sentence with an error in the log");
    if (e >= 0) Note("error: " + S(log.lines[e], "error"));
  }

  {  // Dropping the voice mid-sentence.
    ClearEnv();
    std::wstring logPath = g_folder + L"\\espeak-release.jsonl";
    DeleteFileW(logPath.c_str());
    SetEnv(kLogVar, logPath);
    SetEnv(kModeVar, L"espeak");
    VoiceClient voice;
    voice.Create();
    voice.Speak(L"This sentence is long enough to be still running when the last reference goes away, "
                L"and it goes on for a while longer still.", 1);
    voice.Speak(L"Never heard.", 1);
    PollUntil([&] { return LogHas(logPath, "speak_start", ""); }, 10000);
    double t0 = NowMs();
    voice.Reset();
    Note(Format("last Release while espeak speaks took %.1f ms", NowMs() - t0));
    LogLines log = ReadLog(logPath);
    int d = Find(log, "destroy");
    Check(d >= 0 && B(log.lines[d], "worker_ended") && N(log.lines[d], "dropped") == 1 &&
              Count(log, "speak_start", "Never heard.") == 0,
          "the last Release while espeak speaks ends the worker and drops the queue");
  }
}

// ---------------------------------------------------------------- played

// Needs a sound device in the prefix (the self-test gives Wine ALSA's null device): sentences go
// through waveOut rather than being waited out.
void Played() {
  ClearEnv();
  std::wstring logPath = FreshFile(L"played.jsonl");
  SetEnv(kLogVar, logPath);
  SetEnv(kModeVar, L"espeak");
  VoiceClient voice;
  HRESULT hr = voice.Create();
  if (!Check(SUCCEEDED(hr), "create by ProgID", Hr(hr))) return;
  voice.PutVolume(100);
  double t0 = NowMs();
  voice.Speak(L"Now is 9:5", 1);
  Outcome w = voice.Wait(-1);
  double waited = NowMs() - t0;

  const std::string long_ = "This sentence is cut short while the sound device is still playing it, "
                            "long before it could come to its end.";
  voice.Speak(Utf8ToWide(long_), 1);
  bool playing = PollUntil([&] { return LogHas(logPath, "audio", long_); }, 10000);
  voice.Speak(L"", 1 | 2);  // purge only
  Outcome stopped = voice.Wait(10000);
  voice.Reset();

  LogLines log = ReadLog(logPath);
  int e = Find(log, "speak_end", "Now is 9:5");
  double seconds = e >= 0 ? N(log.lines[e], "seconds") : -1;
  Note(Format("\"Now is 9:5\": %.3f s of audio, WaitUntilDone took %.1f ms", seconds, waited));
  int a = Find(log, "audio", "Now is 9:5");
  Check(e >= 0 && B(log.lines[e], "played") && a >= 0 && B(log.lines[a], "played") && a < e &&
            N(log.lines[a], "seconds") == seconds,
        "the sentence went to the sound device, announced by an audio line");
  Check(w.resultBool && waited >= seconds * 1000 - kTickMs, "WaitUntilDone lasts at least the audio's length");
  int cut = Find(log, "speak_end", long_);
  Check(playing && stopped.resultBool && cut >= 0 && !B(log.lines[cut], "done"),
        "a purge cuts a sentence the sound device is playing");
}

// ---------------------------------------------------------------- say

int Say(int argc, wchar_t** argv) {
  VoiceClient voice;
  HRESULT hr = voice.Create();
  if (FAILED(hr)) {
    std::printf("create: %s\n", Hr(hr).c_str());
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    double t0 = NowMs();
    Outcome s = voice.Speak(argv[i], 1);
    Outcome w = voice.Wait(-1);
    std::printf("\"%s\": Speak %s, WaitUntilDone %s after %.1f ms\n", U8(argv[i]).c_str(), s.Text().c_str(),
                w.Text().c_str(), NowMs() - t0);
  }
  return 0;
}

int Usage() {
  std::printf("usage: voicecheck units | calls | record DIR | fail DIR | config DIR | espeak DIR | played DIR | say TEXT...\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  std::wstring group = argv[1];
  if (group == L"units") {
    Units();
  } else {
    // As the clock: COM in a single-threaded apartment on the main thread.
    if (FAILED(CoInitialize(nullptr))) return 3;
    if (group == L"writer" && argc == 3) {
      RunWriter(_wtoi(argv[2]));
      CoUninitialize();
      return 0;
    }
    if (group == L"say") {
      int rc = Say(argc, argv);
      CoUninitialize();
      return rc;
    }
    if (group == L"calls") {
      Calls();
    } else if (argc == 3) {
      g_folder = argv[2];
      while (!g_folder.empty() && (g_folder.back() == L'\\' || g_folder.back() == L'/')) g_folder.pop_back();
      CreateDirectoryW(g_folder.c_str(), nullptr);
      if (group == L"record") Record();
      else if (group == L"fail") Fail();
      else if (group == L"config") ConfigGroup();
      else if (group == L"espeak") Espeak();
      else if (group == L"played") Played();
      else return Usage();
    } else {
      return Usage();
    }
    CoUninitialize();
  }
  std::printf("%s: %d passed, %d failed\n", U8(group).c_str(), g_passed, g_failed);
  return g_failed ? 1 : 0;
}
