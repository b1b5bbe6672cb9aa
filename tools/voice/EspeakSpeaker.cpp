// Speaks through the Unix espeak-ng of the machine Wine runs on.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <vector>

#include "Json.h"
#include "Speaker.h"
#include "Wav.h"
#include "Win.h"

namespace quenlet::voice {

namespace {

// espeak-ng writes audio well ahead of real time, so a silent stream means it is stuck.
constexpr DWORD kQuietLimitMs = 20000;
// Large enough for a long sentence's whole WAV (22050 Hz, 16 bit: 44 KB a second).
constexpr int kSocketBuffer = 4 * 1024 * 1024;

class Socket {
 public:
  Socket() = default;
  explicit Socket(SOCKET s) : s_(s) {}
  ~Socket() { Close(); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET get() const { return s_; }
  bool ok() const { return s_ != INVALID_SOCKET; }
  void Reset(SOCKET s) { Close(); s_ = s; }
  void Close() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
    s_ = INVALID_SOCKET;
  }

 private:
  SOCKET s_ = INVALID_SOCKET;
};

std::wstring Failed(const wchar_t* what, int code) {
  return std::wstring(what) + L" failed (" + std::to_wstring(code) + L")";
}

// A connected loopback pair: `ours` stays here, `theirs` becomes espeak-ng's stdin and stdout.
bool LoopbackPair(Socket& ours, Socket& theirs, std::wstring& error) {
  Socket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  if (!listener.ok() || bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener.get(), 1) != 0 || getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    error = Failed(L"loopback listener", WSAGetLastError());
    return false;
  }
  ours.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!ours.ok()) {
    error = Failed(L"socket", WSAGetLastError());
    return false;
  }
  setsockopt(ours.get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&kSocketBuffer), sizeof kSocketBuffer);
  setsockopt(ours.get(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kSocketBuffer), sizeof kSocketBuffer);
  if (connect(ours.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    error = Failed(L"loopback connect", WSAGetLastError());
    return false;
  }
  theirs.Reset(accept(listener.get(), nullptr, nullptr));
  if (!theirs.ok()) {
    error = Failed(L"loopback accept", WSAGetLastError());
    return false;
  }
  setsockopt(theirs.get(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kSocketBuffer), sizeof kSocketBuffer);
  return true;
}

struct Synthesis {
  std::vector<std::uint8_t> wav;
  bool cut = false;
  std::wstring error;
};

Synthesis Synthesize(const std::wstring& espeak, const std::string& utf8, HANDLE cut) {
  Synthesis out;
  Socket ours, theirs;
  if (!LoopbackPair(ours, theirs, out.error)) return out;

  u_long nonBlocking = 1;
  ioctlsocket(ours.get(), FIONBIO, &nonBlocking);
  std::size_t sent = 0;
  bool shut = false;
  auto sendMore = [&]() -> bool {
    while (sent < utf8.size()) {
      int n = send(ours.get(), utf8.data() + sent, static_cast<int>(std::min<std::size_t>(utf8.size() - sent, 65536)), 0);
      if (n == SOCKET_ERROR) {
        if (WSAGetLastError() == WSAEWOULDBLOCK) return true;
        out.error = Failed(L"send to espeak-ng", WSAGetLastError());
        return false;
      }
      sent += static_cast<std::size_t>(n);
    }
    if (!shut) {
      shutdown(ours.get(), SD_SEND);  // espeak-ng reads to end of input before it speaks
      shut = true;
    }
    return true;
  };
  // HACK: Wine hands the Unix child the socket's file as it is, non-blocking: the text must be waiting
  // there before espeak-ng first reads, or it reads nothing and says nothing.
  if (!sendMore()) return out;

  // HACK: Wine 8 starts a Unix program with a NULL process handle and does not connect its pipes to
  // it; a socket given as stdin and stdout reaches it, but only with DETACHED_PROCESS (with other
  // creation flags a GUI parent's child gets /dev/null).
  SetHandleInformation(reinterpret_cast<HANDLE>(theirs.get()), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  std::wstring command = L"\"" + espeak + L"\" --stdout --stdin";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = reinterpret_cast<HANDLE>(theirs.get());
  si.hStdOutput = reinterpret_cast<HANDLE>(theirs.get());
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr, &si,
                      &pi)) {
    out.error = Failed((L"starting " + espeak).c_str(), static_cast<int>(GetLastError()));
    return out;
  }
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);
  theirs.Close();  // the stream ends when espeak-ng exits, not when we let go of its end

  UniqueHandle ready(WSACreateEvent());
  if (!ready || WSAEventSelect(ours.get(), ready.get(), FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    out.error = Failed(L"WSAEventSelect", WSAGetLastError());
    return out;
  }
  char buffer[65536];
  for (;;) {
    for (;;) {
      int n = recv(ours.get(), buffer, sizeof buffer, 0);
      if (n > 0) {
        out.wav.insert(out.wav.end(), buffer, buffer + n);
        continue;
      }
      if (n == 0) return out;  // espeak-ng is done
      if (WSAGetLastError() == WSAEWOULDBLOCK) break;
      out.error = Failed(L"reading from espeak-ng", WSAGetLastError());
      return out;
    }
    if (!sendMore()) return out;
    HANDLE waits[2] = {ready.get(), cut};
    DWORD w = WaitForMultipleObjects(2, waits, FALSE, kQuietLimitMs);
    if (w == WAIT_OBJECT_0 + 1) {
      out.cut = true;  // closing our end makes espeak-ng stop at its next write
      return out;
    }
    if (w != WAIT_OBJECT_0) {
      out.error = L"espeak-ng sent nothing for " + std::to_wstring(kQuietLimitMs / 1000) + L" s";
      return out;
    }
    WSANETWORKEVENTS events;
    WSAEnumNetworkEvents(ours.get(), ready.get(), &events);
  }
}

// Plays the sentence, or without a sound device waits its length, so that waiting for the voice still
// follows real speech time. Returns false when cut short.
bool Play(std::vector<std::uint8_t>& wav, const WavInfo& info, HANDLE cut, bool& played,
          const AudioStarts& audioStarts) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = info.channels;
  format.nSamplesPerSec = info.sampleRate;
  format.nAvgBytesPerSec = info.byteRate;
  format.nBlockAlign = info.blockAlign;
  format.wBitsPerSample = info.bitsPerSample;

  UniqueHandle doneEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  HWAVEOUT out = nullptr;
  played = doneEvent && waveOutOpen(&out, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(doneEvent.get()), 0,
                                    CALLBACK_EVENT) == MMSYSERR_NOERROR;
  audioStarts(info.Seconds(), played);
  if (!played) {
    auto ms = static_cast<DWORD>(info.Seconds() * 1000.0 + 0.5);
    return WaitForSingleObject(cut, ms) == WAIT_TIMEOUT;
  }

  WAVEHDR header{};
  header.lpData = reinterpret_cast<LPSTR>(wav.data() + info.dataOffset);
  header.dwBufferLength = static_cast<DWORD>(info.dataSize);
  bool done = true;
  const ULONGLONG started = GetTickCount64();
  if (waveOutPrepareHeader(out, &header, sizeof header) == MMSYSERR_NOERROR) {
    if (waveOutWrite(out, &header, sizeof header) == MMSYSERR_NOERROR) {
      HANDLE waits[2] = {doneEvent.get(), cut};
      while (!(header.dwFlags & WHDR_DONE)) {
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
          done = false;
          waveOutReset(out);  // marks the buffer done
          break;
        }
      }
    }
    waveOutUnprepareHeader(out, &header, sizeof header);
  }
  waveOutClose(out);
  // HACK: Wine on ALSA's null device (the test prefixes' sound card) marks the buffer done long before
  // its length has passed; the sentence still lasts as long as its audio.
  const auto length = static_cast<ULONGLONG>(info.Seconds() * 1000.0 + 0.5);
  const ULONGLONG elapsed = GetTickCount64() - started;
  if (done && elapsed < length) done = WaitForSingleObject(cut, static_cast<DWORD>(length - elapsed)) == WAIT_TIMEOUT;
  return done;
}

class EspeakSpeaker final : public Speaker {
 public:
  EspeakSpeaker(std::wstring espeak, std::wstring wavDir) : espeak_(std::move(espeak)), wavDir_(std::move(wavDir)) {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~EspeakSpeaker() override {
    if (started_) WSACleanup();
  }

  Spoken Say(const std::wstring& text, int volume, HANDLE cut, const AudioStarts& audioStarts) override {
    Spoken s;
    Synthesis synth = Synthesize(espeak_, Utf8(text), cut);
    if (synth.cut) {
      s.done = false;
      return s;
    }
    if (!synth.error.empty()) {
      s.error = synth.error;
      return s;
    }
    auto info = ReadWav(synth.wav, true);
    if (!info || info->format != 1) {
      s.error = L"espeak-ng gave no usable WAV (" + std::to_wstring(synth.wav.size()) + L" bytes)";
      return s;
    }
    ScalePcm16(synth.wav, *info, volume);
    s.seconds = info->Seconds();
    if (!wavDir_.empty()) s.wavPath = Keep(synth.wav);
    s.done = Play(synth.wav, *info, cut, s.played, audioStarts);
    return s;
  }

 private:
  // Saves as the next free NNN.wav, so that several voices can share one folder.
  std::wstring Keep(const std::vector<std::uint8_t>& wav) {
    for (int attempts = 0; attempts < 10000; ++attempts) {
      wchar_t name[32];
      std::swprintf(name, 32, L"%03u.wav", ++lastNumber_);
      std::wstring path = wavDir_;
      if (path.back() != L'\\' && path.back() != L'/') path += L'\\';
      path += name;
      UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (file.get() == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_EXISTS) continue;
        return {};
      }
      DWORD written = 0;
      WriteFile(file.get(), wav.data(), static_cast<DWORD>(wav.size()), &written, nullptr);
      return written == wav.size() ? path : std::wstring();
    }
    return {};
  }

  std::wstring espeak_;
  std::wstring wavDir_;
  unsigned lastNumber_ = 0;
  bool started_ = false;
};

}  // namespace

std::unique_ptr<Speaker> MakeEspeakSpeaker(std::wstring espeakPath, std::wstring wavDir) {
  return std::make_unique<EspeakSpeaker>(std::move(espeakPath), std::move(wavDir));
}

}  // namespace quenlet::voice
