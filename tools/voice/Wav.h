// The WAV that espeak-ng writes to a stream: its header carries placeholder sizes, which are mended
// here once the whole stream is in. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quenlet::voice {

struct WavInfo {
  std::uint16_t format = 0;  // 1: PCM
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint32_t byteRate = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
  std::size_t dataOffset = 0;
  std::size_t dataSize = 0;

  double Seconds() const { return byteRate ? static_cast<double>(dataSize) / byteRate : 0.0; }
};

// Reads a RIFF/WAVE with a fmt chunk before its data chunk. With `mend`, the data chunk runs to the end
// of `wav` (whole blocks only) and the RIFF and data sizes are rewritten to match; without it the sizes
// must already be right.
std::optional<WavInfo> ReadWav(std::vector<std::uint8_t>& wav, bool mend);

// Scales 16-bit PCM samples by volume/100 (0..100).
void ScalePcm16(std::vector<std::uint8_t>& wav, const WavInfo& info, int volume);

// The largest absolute 16-bit sample.
int PeakPcm16(const std::vector<std::uint8_t>& wav, const WavInfo& info);

}  // namespace quenlet::voice
