#include "hotkey/HotKeyFilter.h"

namespace {
constexpr std::uint32_t kModAlt = 0x0001;
constexpr std::uint32_t kVirtualKeyA = 0x41;
constexpr std::int32_t kStringAtomBase = 0xC000;
} // namespace

bool IsAltAHotKey(std::uint32_t lParam)
{
    return (lParam & 0xFFFFu) == kModAlt && (lParam >> 16) == kVirtualKeyA;
}

std::int32_t HotKeyIdFromAtom(std::uint16_t atom)
{
    return static_cast<std::int32_t>(atom) - kStringAtomBase;
}
