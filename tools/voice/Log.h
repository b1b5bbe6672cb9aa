// The call log: one JSON object per line, appended at once, shared by every object and process that
// names the same file.
#pragma once

#include <string>

#include "Json.h"

namespace quenlet::voice {

class EventLog {
 public:
  explicit EventLog(std::wstring path) : path_(std::move(path)) {}
  bool On() const { return !path_.empty(); }

  // Writes {"t":...,"pid":...,"tid":..., <fields>} as one line. Failures to write are ignored: the log
  // is for tests and must never change what the voice does.
  void Write(const JsonFields& fields) const;

 private:
  std::wstring path_;
};

}  // namespace quenlet::voice
