#include <gtest/gtest.h>

#include <cstdint>

#include "hotkey/HotKeyFilter.h"

namespace {

TEST(HotKeyFilter, OnlyExactlyAltWithA)
{
    const struct { std::uint32_t lParam; bool acts; const char* what; } cases[] = {
        {0x00410001u, true, "Alt+A"},
        {0x00410005u, false, "Alt+Shift+A"},
        {0x00410003u, false, "Ctrl+Alt+A"},
        {0x00410009u, false, "Alt+Win+A"},
        {0x00410002u, false, "Ctrl+A"},
        {0x00410000u, false, "A alone"},
        {0x00420001u, false, "Alt+B"},
        {0x00414001u, false, "Alt+A with MOD_NOREPEAT"},
        {0x00010041u, false, "words swapped"},
        {0x01410001u, false, "key word 0x141"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsAltAHotKey(c.lParam), c.acts) << c.what;
}

TEST(HotKeyFilter, IdentifierFromAtom)
{
    const struct { std::uint16_t atom; std::int32_t id; } cases[] = {
        {0xC000, 0}, {0xC123, 0x123}, {0xFFFF, 0x3FFF}, {0, -49152}, {0xBFFF, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HotKeyIdFromAtom(c.atom), c.id) << "atom " << c.atom;
}

} // namespace
