// What speaks one sentence on the voice's worker thread: the recording voice, which only takes its time,
// or espeak-ng.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace quenlet::voice {

struct Spoken {
  bool done = true;       // false: cut short by a purge or by the object going away
  double seconds = -1;    // length of the audio; negative when there was none
  bool played = false;    // went to a sound device (otherwise its length was waited)
  std::wstring wavPath;   // where the sentence was kept, if it was
  std::wstring error;     // why nothing was heard
};

// Told when the sentence's audio begins: its length, and whether a sound device plays it.
using AudioStarts = std::function<void(double seconds, bool played)>;

class Speaker {
 public:
  virtual ~Speaker() = default;
  // Returns when the sentence has been spoken or `cut` is set.
  virtual Spoken Say(const std::wstring& text, int volume, HANDLE cut, const AudioStarts& audioStarts) = 0;
};

std::unique_ptr<Speaker> MakeRecordingSpeaker(unsigned speakMs);
std::unique_ptr<Speaker> MakeEspeakSpeaker(std::wstring espeakPath, std::wstring wavDir);

}  // namespace quenlet::voice
