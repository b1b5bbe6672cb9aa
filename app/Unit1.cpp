#include "app/Unit1.h"

#include "clock/ClockTexts.h"

TForm1* Form1 = nullptr;
VARIANT Voice{};
std::int32_t HotKeyId = 0;
TIniFile* IniFile = nullptr;

namespace {
ClockReading ReadLocalClock()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute};
}
} // namespace

TForm1::TForm1() : TForm(L"Form1", L"TForm1", L"TFORM1") {}

void TForm1::RegisterHandlers(THandlerTable& table)
{
    table.notify[L"FormCreate"] = [this](TObject* s) {
        BindComponents();
        FormCreate(s);
    };
    table.notify[L"tmr1Timer"] = [this](TObject* s) { tmr1Timer(s); };
    table.notify[L"btn1Click"] = [this](TObject* s) { btn1Click(s); };
    table.notify[L"btn2Click"] = [this](TObject* s) { btn2Click(s); };
    table.notify[L"btn3Click"] = [this](TObject* s) { btn3Click(s); };
    table.close[L"FormClose"] = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
    table.mouseMove[L"shp1MouseMove"] = [this](TObject* s, TShiftState sh, int x, int y) { shp1MouseMove(s, sh, x, y); };
}

void TForm1::BindComponents()
{
    if (shp1)
        return;
    btn1 = Component<TButton>(L"btn1");
    lbl1 = Component<TLabel>(L"lbl1");
    tmr1 = Component<TTimer>(L"tmr1");
    il1 = Component<TImageList>(L"il1");
    btn2 = Component<TButton>(L"btn2");
    lbl2 = Component<TLabel>(L"lbl2");
    lbl3 = Component<TLabel>(L"lbl3");
    btn3 = Component<TButton>(L"btn3");
    lbl4 = Component<TLabel>(L"lbl4");
    shp1 = Component<TShape>(L"shp1");
}

bool TForm1::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (msg == WM_HOTKEY) {
        WMHotKey(wParam, lParam);
        result = 0;
        return true;
    }
    return false;
}

void TForm1::FormCreate(TObject*)
{
    // Voice step: the speech engine's voice object.
    // Clock step.
    UpdateClockFace();
    // Hot-key step.
    // Settings step.
    // Topmost step: set once, never again; position and size stay, the window is not activated.
    SetWindowPos(Handle(), HWND_TOPMOST, Left(), Top(), ClientWidth, ClientHeight, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

void TForm1::UpdateClockFace()
{
    BindComponents();
    // One reading for all three texts, so a refresh at midnight cannot mix two days.
    const ClockFaceTexts texts = ReadClockFace(&ReadLocalClock, FormatSettings.TimeSeparator);
    lbl1->SetCaption(texts.time);
    lbl3->SetCaption(texts.weekday);
    lbl2->SetCaption(texts.date);
}

void TForm1::tmr1Timer(TObject*)
{
    UpdateClockFace();
}

void TForm1::btn1Click(TObject*) {}

void TForm1::btn2Click(TObject*) {}

void TForm1::FormClose(TObject*, TCloseAction&)
{
    // Hot-key release, then the position write.
}

void TForm1::btn3Click(TObject*)
{
    Close();
}

void TForm1::shp1MouseMove(TObject*, TShiftState, int, int) {}

void TForm1::WMHotKey(WPARAM, LPARAM) {}

void Unit1Finalization()
{
    VariantClear(&Voice);
}
