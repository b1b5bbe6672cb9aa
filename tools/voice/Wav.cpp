#include "Wav.h"

#include <cstdlib>
#include <cstring>

namespace quenlet::voice {

namespace {

std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t Get16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}
bool Tag(const std::vector<std::uint8_t>& b, std::size_t at, const char* tag) {
  return std::memcmp(b.data() + at, tag, 4) == 0;
}

}  // namespace

std::optional<WavInfo> ReadWav(std::vector<std::uint8_t>& wav, bool mend) {
  if (wav.size() < 12 || !Tag(wav, 0, "RIFF") || !Tag(wav, 8, "WAVE")) return std::nullopt;
  if (!mend && Get32(wav, 4) != wav.size() - 8) return std::nullopt;

  WavInfo info;
  bool haveFormat = false;
  std::size_t at = 12;
  while (at + 8 <= wav.size()) {
    std::uint32_t size = Get32(wav, at + 4);
    std::size_t body = at + 8;
    if (Tag(wav, at, "fmt ")) {
      if (size < 16 || body + size > wav.size()) return std::nullopt;
      info.format = Get16(wav, body);
      info.channels = Get16(wav, body + 2);
      info.sampleRate = Get32(wav, body + 4);
      info.byteRate = Get32(wav, body + 8);
      info.blockAlign = Get16(wav, body + 12);
      info.bitsPerSample = Get16(wav, body + 14);
      if (info.channels == 0 || info.blockAlign == 0 || info.byteRate == 0) return std::nullopt;
      haveFormat = true;
    } else if (Tag(wav, at, "data")) {
      if (!haveFormat) return std::nullopt;
      info.dataOffset = body;
      std::size_t available = wav.size() - body;
      if (mend) {
        // The stream's sizes are placeholders: the data is what arrived, in whole blocks.
        info.dataSize = available - available % info.blockAlign;
        wav.resize(body + info.dataSize);
        Put32(wav, 4, static_cast<std::uint32_t>(wav.size() - 8));
        Put32(wav, at + 4, static_cast<std::uint32_t>(info.dataSize));
      } else {
        if (size > available) return std::nullopt;
        info.dataSize = size;
      }
      return info;
    }
    at = body + size + (size & 1);
  }
  return std::nullopt;
}

void ScalePcm16(std::vector<std::uint8_t>& wav, const WavInfo& info, int volume) {
  if (info.bitsPerSample != 16 || volume >= 100) return;
  if (volume < 0) volume = 0;
  for (std::size_t at = info.dataOffset; at + 1 < info.dataOffset + info.dataSize; at += 2) {
    int s = static_cast<std::int16_t>(wav[at] | (wav[at + 1] << 8));
    s = s * volume / 100;
    wav[at] = static_cast<std::uint8_t>(s & 0xFF);
    wav[at + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
  }
}

int PeakPcm16(const std::vector<std::uint8_t>& wav, const WavInfo& info) {
  int peak = 0;
  if (info.bitsPerSample != 16) return 0;
  for (std::size_t at = info.dataOffset; at + 1 < info.dataOffset + info.dataSize; at += 2) {
    int s = std::abs(static_cast<int>(static_cast<std::int16_t>(wav[at] | (wav[at + 1] << 8))));
    if (s > peak) peak = s;
  }
  return peak;
}

}  // namespace quenlet::voice
