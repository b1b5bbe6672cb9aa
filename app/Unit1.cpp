#include "app/Unit1.h"

#include "clock/ClockTexts.h"
#include "hotkey/HotKey.h"
#include "hotkey/HotKeyFilter.h"
#include "settings/IniFile.h"
#include "settings/Placement.h"
#include "settings/SettingsPath.h"
#include "speech/Automation.h"
#include "speech/Sentences.h"
#include "ui/Dialogs.h"
#include "ui/StartTrace.h"

#include <vector>

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

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM param)
{
    MONITORINFO mi{sizeof(mi)};
    if (GetMonitorInfoW(monitor, &mi))
        reinterpret_cast<std::vector<MonitorArea>*>(param)->push_back(
            {{mi.rcMonitor.left, mi.rcMonitor.top, mi.rcMonitor.right, mi.rcMonitor.bottom},
             {mi.rcWork.left, mi.rcWork.top, mi.rcWork.right, mi.rcWork.bottom}});
    return TRUE;
}

constexpr wchar_t kHelpNote[] = L"Made by Tolbrin.\r热键ALT+A 可以发声。";
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
    // Voice step: the speech engine's voice object, at full volume.
    CreateOleObject(Voice, L"SAPI.SpVoice");
    {
        OleArg volume(100);
        OlePutProperty(Voice, L"Volume", volume);
    }
    StartTrace("voice made");
    // Clock step.
    UpdateClockFace();
    // Hot-key step: registration needs the window, so it exists from here on.
    HotKeyId = RegisterAltAHotKey(Handle());
    // Settings step: the stored top, then the stored left, each applied at once.
    IniFile = new TIniFile(SettingsPathFor(ExecutablePath())); // lives until the process ends
    SetTop(IniFile->ReadInteger(L"set", L"top", 0));
    SetLeft(IniFile->ReadInteger(L"set", L"left", 0));
    KeepOnSomeMonitor();
    // Topmost step: set once, never again; position and size stay, the window is not activated.
    SetWindowPos(Handle(), HWND_TOPMOST, Left(), Top(), ClientWidth, ClientHeight, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

// A position stored while a monitor existed that is gone now would leave the clock out of sight for
// good; it is brought onto the nearest monitor. A window partly on screen stays where it was put.
void TForm1::KeepOnSomeMonitor()
{
    std::vector<MonitorArea> monitors;
    EnumDisplayMonitors(nullptr, nullptr, &CollectMonitor, reinterpret_cast<LPARAM>(&monitors));
    RECT rc;
    GetWindowRect(Handle(), &rc);
    const Point p = PlaceOnSomeMonitor({rc.left, rc.top, rc.right, rc.bottom}, monitors);
    if (p.x != rc.left || p.y != rc.top) {
        SetTop(p.y);
        SetLeft(p.x);
    }
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

// The announcement: the time is spoken while the window waits, then the date is queued.
void TForm1::btn1Click(TObject*)
{
    {
        OleArg sentence(FirstSentence(lbl1->Caption())), async(1);
        OleCallMethod(Voice, L"Speak", {&sentence, &async});
    }
    {
        OleArg noTimeout(-1);
        OleCallMethod(Voice, L"WaitUntilDone", {&noTimeout});
    }
    OleArg sentence(SecondSentence(lbl3->Caption(), lbl2->Caption())), async(1);
    OleCallMethod(Voice, L"Speak", {&sentence, &async});
}

void TForm1::btn2Click(TObject*)
{
    ShowInformationDialog(kHelpNote);
}

void TForm1::FormClose(TObject*, TCloseAction&)
{
    // Hot-key release.
    UnregisterAltAHotKey(Handle(), HotKeyId);
    // Position write. Without a settings object (creation stopped early) the stored position is
    // kept rather than overwritten with wherever the window happened to open.
    if (!IniFile)
        return;
    try {
        IniFile->WriteInteger(L"set", L"top", Top());
        IniFile->WriteInteger(L"set", L"left", Left());
    } catch (const EIniFileException& e) {
        // Reported, and the close goes on: an unwritable folder must not keep the clock open for ever.
        Application->ShowException(e.Message());
    }
}

void TForm1::btn3Click(TObject*)
{
    Close();
}

void TForm1::shp1MouseMove(TObject*, TShiftState Shift, int, int)
{
    if (!(Shift & ssLeft))
        return;
    // The window system's own move, started as if the caption had been pressed; it returns when
    // the button is released.
    ReleaseCapture();
    SendMessageW(Form1->Handle(), WM_SYSCOMMAND, 0xF011, 0);
}

void TForm1::WMHotKey(WPARAM, LPARAM lParam)
{
    if (IsAltAHotKey(static_cast<std::uint32_t>(lParam)))
        btn1->Click();
}

void Unit1Finalization()
{
    VariantClear(&Voice);
}
