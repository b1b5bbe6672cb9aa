// Loading a window layout: a layout that names something unknown fails loudly and leaves nothing
// behind; a good one measures its labels and binds its handlers.
#include "tests/win/WinTestSupport.h"
#include "ui/Forms.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class TestForm : public TForm {
public:
    explicit TestForm(std::string layout) : TForm(L"TestForm", L"TTestForm", L""), layout_(std::move(layout)) {}
    int ticks = 0, clicks = 0;

protected:
    std::string LayoutText() const override { return layout_; }
    void RegisterHandlers(THandlerTable& table) override
    {
        table.notify[L"tick"] = [this](TObject*) { ++ticks; };
        table.notify[L"click"] = [this](TObject*) { ++clicks; };
    }

private:
    std::string layout_;
};

// A timer that would tick at once, then whatever the case adds.
std::string LayoutWith(const std::string& extra)
{
    return "object TestForm: TTestForm\n"
           "  ClientWidth = 200\n"
           "  ClientHeight = 100\n"
           "  object tmr1: TTimer\n"
           "    Interval = 10\n"
           "    OnTimer = tick\n"
           "  end\n" +
           extra + "end\n";
}

struct BadLayout {
    const char* what;
    std::string extra;
    const wchar_t* mentions;
};

class BadLayouts : public ::testing::TestWithParam<BadLayout> {};

TEST_P(BadLayouts, FailLoudlyAndLeaveNothingRunning)
{
    TApplication app;
    TestForm form(LayoutWith(GetParam().extra));
    try {
        form.Construct();
        FAIL() << GetParam().what << ": the layout was accepted";
    } catch (const ELayoutError& e) {
        EXPECT_NE(e.Message().find(GetParam().mentions), std::wstring::npos) << std::string(e.Message().begin(), e.Message().end());
    }
    // Nothing half-applied: no window, and the timer set before the fault never ticks.
    EXPECT_FALSE(form.HandleAllocated());
    PollUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(form.ticks, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadLayouts,
    ::testing::Values(BadLayout{"unknown class", "  object x1: TWidget\n  end\n", L"TWidget"},
                      BadLayout{"unknown property", "  object l1: TLabel\n    Colour = 5\n  end\n", L"Colour"},
                      BadLayout{"unknown handler", "  object b1: TButton\n    OnClick = clack\n  end\n", L"clack"},
                      BadLayout{"unknown component", "  object b1: TButton\n    Images = il9\n  end\n", L"il9"},
                      BadLayout{"wrong kind of value", "  object b1: TButton\n    TabOrder = 'one'\n  end\n", L"TabOrder"},
                      BadLayout{"name used twice", "  object tmr1: TLabel\n  end\n", L"tmr1"},
                      BadLayout{"syntax", "  object l1: TLabel\n    Caption = 'open\n  end\n", L"line"}));

TEST(LayoutLoader, LoadsMeasuresAndBinds)
{
    TApplication app;
    TestForm form(LayoutWith("  object l1: TLabel\n    Left = 30\n    Top = 22\n    Font.Height = -56\n    Font.Name = 'Tahoma'\n"
                             "    ParentFont = False\n  end\n"
                             "  object b1: TButton\n    Left = 5\n    Top = 6\n    Width = 70\n    Height = 25\n    Caption = 'Go'\n"
                             "    OnClick = click\n  end\n"));
    form.Construct();
    auto* label = form.Component<TLabel>(L"l1");
    // An empty caption is measured as one blank of the 56-pixel Tahoma: 18 x 68 with the Windows
    // font; Wine's own Tahoma has a blank one pixel narrower, so the width is asked of the font.
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, label->EffectiveFont().Handle());
    SIZE blank{};
    GetTextExtentPoint32W(dc, L" ", 1, &blank);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    EXPECT_GE(blank.cx, 17);
    EXPECT_EQ(label->Width, blank.cx);
    EXPECT_EQ(label->Height, 68);
    EXPECT_TRUE(PollUntil([&] { return form.ticks > 0; }));
    form.Component<TButton>(L"b1")->Click();
    EXPECT_EQ(form.clicks, 1);
}

TEST(LayoutLoader, ALabelIsRepaintedAndResizedOnlyWhenItsTextChanges)
{
    TApplication app;
    TestForm form(LayoutWith("  object l1: TLabel\n    Left = 10\n    Top = 10\n    Caption = 'Friday'\n  end\n"));
    form.Construct();
    auto* label = form.Component<TLabel>(L"l1");
    form.Show();
    UpdateWindow(form.Handle());
    const int width = label->Width;

    label->SetCaption(L"Friday");
    EXPECT_FALSE(GetUpdateRect(form.Handle(), nullptr, FALSE)) << "an unchanged text invalidated the window";
    EXPECT_EQ(label->Width, width);

    label->SetCaption(L"Wednesday");
    RECT dirty{};
    EXPECT_TRUE(GetUpdateRect(form.Handle(), &dirty, FALSE));
    EXPECT_GT(label->Width, width);
    EXPECT_EQ(label->Left, 10);
    EXPECT_LE(dirty.left, 10);
    EXPECT_GE(dirty.right, 10 + label->Width);
    form.Hide();
}

} // namespace
