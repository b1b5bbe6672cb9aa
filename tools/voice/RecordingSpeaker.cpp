#include "Speaker.h"

namespace quenlet::voice {

namespace {

class RecordingSpeaker final : public Speaker {
 public:
  explicit RecordingSpeaker(unsigned ms) : ms_(ms) {}

  Spoken Say(const std::wstring&, int, HANDLE cut, const AudioStarts&) override {
    Spoken s;
    s.done = WaitForSingleObject(cut, ms_) == WAIT_TIMEOUT;
    return s;
  }

 private:
  unsigned ms_;
};

}  // namespace

std::unique_ptr<Speaker> MakeRecordingSpeaker(unsigned speakMs) {
  return std::make_unique<RecordingSpeaker>(speakMs);
}

}  // namespace quenlet::voice
