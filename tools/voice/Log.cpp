#include "Log.h"

#include "Win.h"

namespace quenlet::voice {

void EventLog::Write(const JsonFields& fields) const {
  if (!On()) return;

  // Several processes of one prefix may share the file; the mutex keeps their lines whole and their
  // timestamps in file order.
  UniqueHandle mutex(CreateMutexW(nullptr, FALSE, L"Local\\QuenletVoiceLog"));
  bool owned = false;
  if (mutex) {
    DWORD w = WaitForSingleObject(mutex.get(), 5000);
    owned = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
  }

  std::string line = "{";
  JsonFields head;
  head.Int("t", UnixMicroseconds()).Int("pid", GetCurrentProcessId()).Int("tid", GetCurrentThreadId());
  line += head.Text();
  if (!fields.Text().empty()) line += "," + fields.Text();
  line += "}\n";

  UniqueHandle file(CreateFileW(path_.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() != INVALID_HANDLE_VALUE) {
    LARGE_INTEGER zero{};
    SetFilePointerEx(file.get(), zero, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  if (owned) ReleaseMutex(mutex.get());
}

}  // namespace quenlet::voice
