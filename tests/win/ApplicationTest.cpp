// The application window: the hidden window that carries the taskbar button.
#include "tests/win/WinTestSupport.h"
#include "ui/Forms.h"

#include <gtest/gtest.h>

namespace {

TEST(ApplicationWindow, IsAZeroSizedCaptionedPopupAtTheScreenCentre)
{
    TApplication app;
    app.SetTitle(L"Quenlet");
    HWND h = app.Handle();
    ASSERT_TRUE(h);
    EXPECT_EQ(ClassOf(h), L"TApplication");
    EXPECT_EQ(WindowText(h), L"Quenlet");
    const LONG style = GetWindowLongW(h, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    RECT rc;
    GetWindowRect(h, &rc);
    EXPECT_EQ(rc.left, GetSystemMetrics(SM_CXSCREEN) / 2);
    EXPECT_EQ(rc.top, GetSystemMetrics(SM_CYSCREEN) / 2);
    // Its window menu offers neither maximise, size nor move.
    HMENU sys = GetSystemMenu(h, FALSE);
    for (UINT cmd : {SC_MAXIMIZE, SC_SIZE, SC_MOVE})
        EXPECT_EQ(GetMenuState(sys, cmd, MF_BYCOMMAND), static_cast<UINT>(-1)) << "command " << cmd;
    EXPECT_NE(GetMenuState(sys, SC_MINIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
}

TEST(ApplicationWindow, ReReadsTheTimeSeparatorWhenTheSettingsChange)
{
    TApplication app;
    const std::wstring system = FormatSettings.TimeSeparator;
    FormatSettings.TimeSeparator = L"#";
    SendMessageW(app.Handle(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"intl"));
    EXPECT_EQ(FormatSettings.TimeSeparator, system);

    FormatSettings.TimeSeparator = L"#";
    SendMessageW(app.Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_EQ(FormatSettings.TimeSeparator, system);
}

} // namespace
