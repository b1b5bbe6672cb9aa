// The voice object: a hand-written IDispatch with the three members the clock calls by name.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <deque>
#include <memory>
#include <string>

#include "Config.h"
#include "Log.h"
#include "Speaker.h"

namespace quenlet::voice {

// Fixed numbers for the members; clients look them up by name on every call.
inline constexpr DISPID kDispidVolume = 1;
inline constexpr DISPID kDispidSpeak = 2;
inline constexpr DISPID kDispidWaitUntilDone = 3;

inline constexpr long kSpeakAsync = 1;            // queue and return at once
inline constexpr long kSpeakPurgeBeforeSpeak = 2; // drop what is queued and cut the current sentence

// Objects alive in this process, for DllCanUnloadNow.
extern std::atomic<long> g_liveObjects;

class Voice final : public IDispatch {
 public:
  // Creates an object holding one reference, with its worker thread running, and logs "create".
  static HRESULT Create(Config config, REFIID riid, void** out);

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) override;

 private:
  struct Sentence {
    long stream;
    std::wstring text;
  };

  Voice(Config config, std::unique_ptr<Speaker> speaker);
  ~Voice();
  bool StartWorker();
  void StopWorker();
  static DWORD WINAPI WorkerThunk(void* self);
  void Worker();

  HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, UINT* argErr);
  HRESULT DoVolume(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr);
  HRESULT DoSpeak(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr);
  HRESULT DoWaitUntilDone(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr);

  long Speak(std::wstring text, long flags);
  bool WaitUntilDone(long ms);
  long FirstPendingLocked() const;
  bool IdleLocked() const { return !speaking_ && queue_.empty(); }

  JsonFields Event(const char* ev) const;

  std::atomic<ULONG> refs_{1};
  const Config config_;
  const EventLog log_;
  const long id_;
  std::unique_ptr<Speaker> speaker_;

  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  std::deque<Sentence> queue_;
  bool speaking_ = false;
  long speakingStream_ = 0;
  long nextStream_ = 1;
  bool stopping_ = false;
  int volume_ = 100;
  HANDLE cut_ = nullptr;     // set to cut the sentence being spoken short
  HANDLE thread_ = nullptr;
};

}  // namespace quenlet::voice
