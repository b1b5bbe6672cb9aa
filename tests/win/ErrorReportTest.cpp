// The error report as the user sees it: a real message box, found and dismissed from outside.
#include "tests/win/WinTestSupport.h"
#include "ui/Forms.h"

#include <gtest/gtest.h>

namespace {

struct ReportCase {
    const wchar_t* message;
    const wchar_t* shown;
};

class ErrorReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ErrorReport, ShowsOneErrorBoxCaptionedWithTheTitle)
{
    TApplication app;
    app.SetTitle(L"Quenlet");
    DialogWatcher watcher(L"Quenlet");
    app.HandleException(std::make_exception_ptr(Exception(GetParam().message)));
    ASSERT_TRUE(watcher.Wait()) << "no box captioned Quenlet appeared";
    const SeenDialog& box = watcher.Seen().at(0);
    EXPECT_EQ(box.text, GetParam().shown);
    EXPECT_TRUE(box.hasIcon);
    ASSERT_EQ(box.buttons.size(), 1u);
    EXPECT_EQ(box.buttons[0], L"OK");
}

INSTANTIATE_TEST_SUITE_P(Texts, ErrorReport,
                         ::testing::Values(ReportCase{L"Invalid variant operation", L"Invalid variant operation."},
                                           ReportCase{L"Class not registered, ProgID: \"SAPI.SpVoice\"",
                                                      L"Class not registered, ProgID: \"SAPI.SpVoice\""},
                                           ReportCase{L"Unable to write to C:\\Tools\\/set.ini", L"Unable to write to C:\\Tools\\/set.ini."},
                                           ReportCase{L"Done.", L"Done."}));

// A handler that fails is reported, and the program goes on: the next tick of the same timer runs.
class FlakyTimerForm : public TForm {
public:
    FlakyTimerForm() : TForm(L"FlakyForm", L"TFlakyForm", L"") {}
    int ticks = 0;

protected:
    std::string LayoutText() const override
    {
        return "object FlakyForm: TFlakyForm\n"
               "  ClientWidth = 100\n"
               "  ClientHeight = 50\n"
               "  object tmr1: TTimer\n"
               "    Interval = 50\n"
               "    OnTimer = tick\n"
               "  end\n"
               "end\n";
    }
    void RegisterHandlers(THandlerTable& table) override
    {
        table.notify[L"tick"] = [this](TObject*) {
            if (++ticks == 1)
                throw Exception(L"First tick fails");
        };
    }
};

TEST(ErrorReportFlow, TheFailedHandlerIsReportedAndTheProgramCarriesOn)
{
    TApplication app;
    app.SetTitle(L"Quenlet");
    FlakyTimerForm* form = nullptr;
    DialogWatcher watcher(L"Quenlet");
    app.CreateForm(form);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(PollUntil([&] { return form->ticks >= 3; })) << "ticks after the failure: " << form->ticks;
    ASSERT_TRUE(watcher.Wait());
    EXPECT_EQ(watcher.Seen().at(0).text, L"First tick fails.");
}

} // namespace
