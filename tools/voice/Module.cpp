// The DLL's exports: the class factory for the voice and its registration over "SAPI.SpVoice".
#include <windows.h>
#include <olectl.h>

#include <atomic>
#include <optional>
#include <string>

#include "Config.h"
#include "Log.h"
#include "Voice.h"
#include "Win.h"

namespace quenlet::voice {

// {4444485D-2808-44D0-ADD1-0B658D97A1D8}
constexpr CLSID kClsid = {0x4444485d, 0x2808, 0x44d0, {0xad, 0xd1, 0x0b, 0x65, 0x8d, 0x97, 0xa1, 0xd8}};
constexpr wchar_t kClsidText[] = L"{4444485D-2808-44D0-ADD1-0B658D97A1D8}";
constexpr wchar_t kProgId[] = L"SAPI.SpVoice";
constexpr wchar_t kProgIdVersioned[] = L"SAPI.SpVoice.1";
constexpr wchar_t kDescription[] = L"Quenlet voice for Wine";
constexpr wchar_t kSettingsKey[] = L"Software\\Quenlet\\Voice";

namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_locks{0};

std::optional<std::wstring> FromEnvironment(std::wstring_view name) {
  std::wstring n(name);
  DWORD size = GetEnvironmentVariableW(n.c_str(), nullptr, 0);
  if (size <= 1) return std::nullopt;  // unset or empty
  std::wstring value(size, L'\0');
  DWORD got = GetEnvironmentVariableW(n.c_str(), value.data(), size);
  if (got == 0 || got >= size) return std::nullopt;
  value.resize(got);
  return value;
}

std::optional<std::wstring> FromRegistry(std::wstring_view name) {
  std::wstring n(name);
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, n.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
          ERROR_SUCCESS ||
      bytes < sizeof(wchar_t)) {
    return std::nullopt;
  }
  std::wstring value(bytes / sizeof(wchar_t), L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, n.c_str(), RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  if (value.empty()) return std::nullopt;
  return value;
}

Config CurrentConfig() {
  return ReadConfig([](std::wstring_view name) {
    auto v = FromEnvironment(name);
    return v ? v : FromRegistry(name);
  });
}

class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // One static factory: its references only keep the module loaded.
  STDMETHODIMP_(ULONG) AddRef() override { return ++g_locks + 1; }
  STDMETHODIMP_(ULONG) Release() override { return --g_locks + 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Config config = CurrentConfig();
    if (config.failCreate && FAILED(*config.failCreate)) {
      EventLog(config.logPath).Write(JsonFields().Raw("obj", "null").Str("ev", "create").Hresult("hr", *config.failCreate));
      return *config.failCreate;
    }
    return Voice::Create(std::move(config), riid, out);
  }

  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ++g_locks : --g_locks;
    return S_OK;
  }
};

ClassFactory g_factory;

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD got = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (got == 0) return {};
    if (got < path.size()) {
      path.resize(got);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

LSTATUS SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// Removes a ProgID only while it still names this class, so another server registered over it since
// keeps its registration.
void RemoveProgIdIfOurs(const wchar_t* progId) {
  std::wstring key = std::wstring(progId) + L"\\CLSID";
  wchar_t value[64] = {};
  DWORD bytes = sizeof value;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes) == ERROR_SUCCESS &&
      _wcsicmp(value, kClsidText) == 0) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, progId);
  }
}

}  // namespace

}  // namespace quenlet::voice

using namespace quenlet::voice;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != kClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, out);
}

STDAPI DllCanUnloadNow() { return g_liveObjects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  std::wstring path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
  const std::wstring steps[][3] = {
      {clsidKey, L"", kDescription},
      {clsidKey + L"\\InprocServer32", L"", path},
      {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Both"},
      {clsidKey + L"\\ProgID", L"", kProgIdVersioned},
      {clsidKey + L"\\VersionIndependentProgID", L"", kProgId},
      {kProgId, L"", kDescription},
      {std::wstring(kProgId) + L"\\CLSID", L"", kClsidText},
      {std::wstring(kProgId) + L"\\CurVer", L"", kProgIdVersioned},
      {kProgIdVersioned, L"", kDescription},
      {std::wstring(kProgIdVersioned) + L"\\CLSID", L"", kClsidText},
  };
  for (const auto& s : steps) {
    if (SetString(s[0], s[1].empty() ? nullptr : s[1].c_str(), s[2]) != ERROR_SUCCESS) {
      DllUnregisterServer();
      return SELFREG_E_CLASS;
    }
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  RemoveProgIdIfOurs(kProgId);
  RemoveProgIdIfOurs(kProgIdVersioned);
  LSTATUS s = RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kClsidText).c_str());
  return s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
