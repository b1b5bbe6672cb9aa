#include "Voice.h"

#include <cmath>
#include <cstdio>
#include <new>

#include "Win.h"

namespace quenlet::voice {

std::atomic<long> g_liveObjects{0};

namespace {

std::atomic<long> g_nextObjectId{1};

// How long the last Release waits for the worker to notice; it is cut at once, so this only guards
// against a stuck sound driver keeping the client from exiting.
constexpr DWORD kWorkerExitLimitMs = 10000;

struct Member {
  const wchar_t* name;
  DISPID id;
};
constexpr Member kMembers[] = {
    {L"Volume", kDispidVolume},
    {L"Speak", kDispidSpeak},
    {L"WaitUntilDone", kDispidWaitUntilDone},
};

const wchar_t* NameOf(DISPID id) {
  for (const Member& m : kMembers) {
    if (m.id == id) return m.name;
  }
  return nullptr;
}

std::string VariantJson(const VARIANT& in) {
  VARIANT v;
  VariantInit(&v);
  if (FAILED(VariantCopyInd(&v, const_cast<VARIANT*>(&in)))) return "null";
  std::string out;
  switch (V_VT(&v)) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR: out = "null"; break;
    case VT_BSTR: AppendJsonString(out, Utf8(std::wstring_view(V_BSTR(&v) ? V_BSTR(&v) : L"", SysStringLen(V_BSTR(&v))))); break;
    case VT_BOOL: out = V_BOOL(&v) ? "true" : "false"; break;
    case VT_I1: out = std::to_string(V_I1(&v)); break;
    case VT_I2: out = std::to_string(V_I2(&v)); break;
    case VT_I4: out = std::to_string(V_I4(&v)); break;
    case VT_I8: out = std::to_string(V_I8(&v)); break;
    case VT_INT: out = std::to_string(V_INT(&v)); break;
    case VT_UI1: out = std::to_string(V_UI1(&v)); break;
    case VT_UI2: out = std::to_string(V_UI2(&v)); break;
    case VT_UI4: out = std::to_string(V_UI4(&v)); break;
    case VT_UI8: out = std::to_string(V_UI8(&v)); break;
    case VT_UINT: out = std::to_string(V_UINT(&v)); break;
    case VT_R4:
    case VT_R8: {
      double d = V_VT(&v) == VT_R4 ? V_R4(&v) : V_R8(&v);
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.17g", d);
      out = std::isfinite(d) ? buf : "null";
      break;
    }
    default: {
      VARIANT s;
      VariantInit(&s);
      if (SUCCEEDED(VariantChangeType(&s, &v, 0, VT_BSTR))) {
        AppendJsonString(out, Utf8(std::wstring_view(V_BSTR(&s), SysStringLen(V_BSTR(&s)))));
      } else {
        out = "null";
      }
      VariantClear(&s);
    }
  }
  VariantClear(&v);
  return out;
}

// An argument that was left out: absent, or passed as the "missing" marker.
bool Omitted(const VARIANT& v) { return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND; }

HRESULT Coerce(const DISPPARAMS* p, UINT index, VARTYPE vt, VARIANT& out, UINT* argErr) {
  VariantInit(&out);
  HRESULT hr = VariantChangeType(&out, &p->rgvarg[index], 0, vt);
  if (FAILED(hr) && argErr) *argErr = index;
  return hr;
}

// rgvarg holds the arguments last first: argument `i` in call order of `n` positional ones.
UINT RgIndex(const DISPPARAMS* p, UINT i) { return p->cArgs - 1 - i; }

class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&v); }
  ~ScopedVariant() { VariantClear(&v); }
  VARIANT v;
};

}  // namespace

HRESULT Voice::Create(Config config, REFIID riid, void** out) {
  *out = nullptr;
  if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
  std::unique_ptr<Speaker> speaker = config.mode == Mode::Record
                                         ? MakeRecordingSpeaker(config.speakMs)
                                         : MakeEspeakSpeaker(config.espeakPath, config.wavDir);
  auto* voice = new (std::nothrow) Voice(std::move(config), std::move(speaker));
  if (!voice) return E_OUTOFMEMORY;

  JsonFields f = voice->Event("create");
  f.Hresult("hr", S_OK).Str("mode", voice->config_.mode == Mode::Record ? "record" : "espeak");
  if (voice->config_.mode == Mode::Record) {
    f.Int("speak_ms", voice->config_.speakMs);
  } else {
    f.Str("espeak", voice->config_.espeakPath).Str("wav_dir", voice->config_.wavDir);
  }
  std::string problems = "[";
  for (const std::wstring& p : voice->config_.problems) {
    if (problems.size() > 1) problems += ',';
    AppendJsonString(problems, Utf8(p));
  }
  f.Raw("problems", problems + "]");
  voice->log_.Write(f);

  if (!voice->StartWorker()) {
    voice->Release();
    return E_OUTOFMEMORY;
  }
  *out = static_cast<IDispatch*>(voice);
  return S_OK;
}

Voice::Voice(Config config, std::unique_ptr<Speaker> speaker)
    : config_(std::move(config)), log_(config_.logPath), id_(g_nextObjectId++), speaker_(std::move(speaker)) {
  ++g_liveObjects;
}

Voice::~Voice() {
  if (cut_) CloseHandle(cut_);
  if (thread_) CloseHandle(thread_);
  --g_liveObjects;
}

JsonFields Voice::Event(const char* ev) const {
  JsonFields f;
  f.Int("obj", id_).Str("ev", ev);
  return f;
}

bool Voice::StartWorker() {
  cut_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!cut_) return false;
  thread_ = CreateThread(nullptr, 0, &Voice::WorkerThunk, this, 0, nullptr);
  return thread_ != nullptr;
}

DWORD WINAPI Voice::WorkerThunk(void* self) {
  static_cast<Voice*>(self)->Worker();
  return 0;
}

void Voice::Worker() {
  for (;;) {
    Sentence s;
    int volume;
    {
      ExclusiveLock hold(lock_);
      while (!stopping_ && queue_.empty()) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
      if (stopping_) return;
      s = std::move(queue_.front());
      queue_.pop_front();
      speaking_ = true;
      speakingStream_ = s.stream;
      ResetEvent(cut_);
      volume = volume_;
    }

    log_.Write(Event("speak_start").Str("text", s.text).Int("stream", s.stream).Int("volume", volume));
    Spoken r = speaker_->Say(s.text, volume, cut_, [&](double seconds, bool played) {
      char secs[32];
      std::snprintf(secs, sizeof secs, "%.3f", seconds);
      log_.Write(Event("audio").Str("text", s.text).Int("stream", s.stream).Raw("seconds", secs).Bool("played", played));
    });
    JsonFields end = Event("speak_end");
    end.Str("text", s.text).Int("stream", s.stream).Bool("done", r.done);
    if (r.seconds >= 0) {
      char secs[32];
      std::snprintf(secs, sizeof secs, "%.3f", r.seconds);
      end.Raw("seconds", secs).Bool("played", r.played);
    }
    if (!r.wavPath.empty()) end.Str("wav", r.wavPath);
    if (!r.error.empty()) end.Str("error", r.error);
    // Logged before the voice counts as idle, so a waiter's "return" always follows it in the log.
    log_.Write(end);

    ExclusiveLock hold(lock_);
    speaking_ = false;
    WakeAllConditionVariable(&changed_);
  }
}

void Voice::StopWorker() {
  std::size_t dropped;
  {
    ExclusiveLock hold(lock_);
    stopping_ = true;
    dropped = queue_.size();
    queue_.clear();
    if (cut_) SetEvent(cut_);
    WakeAllConditionVariable(&changed_);
  }
  bool ended = !thread_ || WaitForSingleObject(thread_, kWorkerExitLimitMs) == WAIT_OBJECT_0;
  log_.Write(Event("destroy").Int("dropped", static_cast<long long>(dropped)).Bool("worker_ended", ended));
  if (!ended) {
    // The worker still uses this object and this module's code: keep both rather than crash later.
    HMODULE self;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&Voice::WorkerThunk), &self);
    return;
  }
  delete this;
}

STDMETHODIMP Voice::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Voice::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) Voice::Release() {
  ULONG left = --refs_;
  log_.Write(Event("release").Int("refs", left));
  if (left == 0) StopWorker();
  return left;
}

STDMETHODIMP Voice::GetTypeInfoCount(UINT* count) {
  if (!count) return E_INVALIDARG;
  *count = 0;  // late-bound only: there is no type description
  return S_OK;
}

STDMETHODIMP Voice::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

STDMETHODIMP Voice::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!names || !ids || count == 0) return E_INVALIDARG;

  HRESULT hr = DISP_E_UNKNOWNNAME;
  ids[0] = DISPID_UNKNOWN;
  const wchar_t* asked = names[0] ? names[0] : L"";
  std::wstring lower = LowerAscii(asked);
  const Failure* failure = config_.FailureFor(lower);
  if (!failure || failure->kind != Failure::Kind::UnknownName) {
    for (const Member& m : kMembers) {
      if (LowerAscii(m.name) == lower) {
        ids[0] = m.id;
        hr = S_OK;
      }
    }
  }
  // The members take no named arguments.
  for (UINT i = 1; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    hr = DISP_E_UNKNOWNNAME;
  }
  log_.Write(Event("getids").Str("name", std::wstring_view(asked)).Int("dispid", ids[0]).Hresult("hr", hr));
  return hr;
}

STDMETHODIMP Voice::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* excep, UINT* argErr) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!params || (params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs) ||
      params->cNamedArgs > params->cArgs) {
    return E_INVALIDARG;
  }
  const wchar_t* name = NameOf(id);

  if (log_.On()) {
    std::string named = "[", args = "[", types = "[";
    for (UINT i = 0; i < params->cNamedArgs; ++i) {
      if (i) named += ',';
      named += std::to_string(params->rgdispidNamedArgs[i]);
    }
    for (UINT i = 0; i < params->cArgs; ++i) {
      const VARIANT& v = params->rgvarg[params->cArgs - 1 - i];
      if (i) {
        args += ',';
        types += ',';
      }
      args += VariantJson(v);
      types += std::to_string(V_VT(&v));
    }
    JsonFields f = Event("invoke");
    if (name) f.Str("name", std::wstring_view(name));
    else f.Raw("name", "null");
    f.Int("dispid", id).Int("flags", flags).Raw("named", named + "]").Raw("args", args + "]").Raw("types", types + "]");
    log_.Write(f);
  }

  HRESULT hr;
  const Failure* failure = name ? config_.FailureFor(name) : nullptr;
  if (failure && failure->kind == Failure::Kind::Hresult) {
    hr = failure->hr;
  } else if (failure && failure->kind == Failure::Kind::Description) {
    if (excep) {
      *excep = EXCEPINFO{};
      excep->bstrSource = SysAllocString(L"Quenlet voice");
      excep->bstrDescription = SysAllocString(failure->description.c_str());
      excep->scode = E_FAIL;
    }
    hr = DISP_E_EXCEPTION;
  } else {
    hr = InvokeMember(id, flags, params, result, excep, argErr);
  }

  JsonFields f = Event("return");
  if (name) f.Str("name", std::wstring_view(name));
  else f.Raw("name", "null");
  log_.Write(f.Hresult("hr", hr));
  return hr;
}

HRESULT Voice::InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT* argErr) {
  switch (id) {
    case kDispidVolume: return DoVolume(flags, params, result, argErr);
    case kDispidSpeak: return DoSpeak(flags, params, result, argErr);
    case kDispidWaitUntilDone: return DoWaitUntilDone(flags, params, result, argErr);
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

HRESULT Voice::DoVolume(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr) {
  if (flags & DISPATCH_PROPERTYPUT) {
    if (params->cNamedArgs == 0) return DISP_E_PARAMNOTFOUND;
    if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) return DISP_E_PARAMNOTFOUND;
    if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    ScopedVariant value;
    if (HRESULT hr = Coerce(params, 0, VT_I4, value.v, argErr); FAILED(hr)) return hr;
    if (V_I4(&value.v) < 0 || V_I4(&value.v) > 100) return E_INVALIDARG;
    ExclusiveLock hold(lock_);
    volume_ = V_I4(&value.v);
    return S_OK;
  }
  if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
  if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
  if (params->cArgs) return DISP_E_BADPARAMCOUNT;
  if (result) {
    VariantInit(result);
    V_VT(result) = VT_I4;
    ExclusiveLock hold(lock_);
    V_I4(result) = volume_;
  }
  return S_OK;
}

HRESULT Voice::DoSpeak(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr) {
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
  if (params->cArgs < 1 || params->cArgs > 2) return DISP_E_BADPARAMCOUNT;

  UINT textAt = RgIndex(params, 0);
  if (Omitted(params->rgvarg[textAt])) return DISP_E_PARAMNOTOPTIONAL;
  ScopedVariant text, speakFlags;
  if (HRESULT hr = Coerce(params, textAt, VT_BSTR, text.v, argErr); FAILED(hr)) return hr;
  long f = 0;
  if (params->cArgs == 2 && !Omitted(params->rgvarg[RgIndex(params, 1)])) {
    if (HRESULT hr = Coerce(params, RgIndex(params, 1), VT_I4, speakFlags.v, argErr); FAILED(hr)) return hr;
    f = V_I4(&speakFlags.v);
  }

  BSTR b = V_BSTR(&text.v);
  long stream = Speak(std::wstring(b ? b : L"", SysStringLen(b)), f);
  if (result) {
    VariantInit(result);
    V_VT(result) = VT_I4;
    V_I4(result) = stream;
  }
  return S_OK;
}

HRESULT Voice::DoWaitUntilDone(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr) {
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
  if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
  if (Omitted(params->rgvarg[0])) return DISP_E_PARAMNOTOPTIONAL;
  ScopedVariant ms;
  if (HRESULT hr = Coerce(params, 0, VT_I4, ms.v, argErr); FAILED(hr)) return hr;

  bool done = WaitUntilDone(V_I4(&ms.v));
  if (result) {
    VariantInit(result);
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = done ? VARIANT_TRUE : VARIANT_FALSE;
  }
  return S_OK;
}

long Voice::FirstPendingLocked() const {
  if (speaking_) return speakingStream_;
  return queue_.empty() ? nextStream_ : queue_.front().stream;
}

long Voice::Speak(std::wstring text, long flags) {
  ExclusiveLock hold(lock_);
  if (flags & kSpeakPurgeBeforeSpeak) {
    queue_.clear();
    if (speaking_) SetEvent(cut_);
  }
  long stream = nextStream_++;
  if (!text.empty()) queue_.push_back({stream, std::move(text)});
  WakeAllConditionVariable(&changed_);
  if (!(flags & kSpeakAsync)) {
    // Synchronous: back when this sentence, and everything queued before it, is over.
    while (stream >= FirstPendingLocked()) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
  }
  return stream;
}

bool Voice::WaitUntilDone(long ms) {
  ExclusiveLock hold(lock_);
  if (ms < 0) {
    while (!IdleLocked()) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    return true;
  }
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
  while (!IdleLocked()) {
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    SleepConditionVariableSRW(&changed_, &lock_, static_cast<DWORD>(deadline - now), 0);
  }
  return true;
}

}  // namespace quenlet::voice
