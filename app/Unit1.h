#pragma once
// The clock window and the program-wide state of the clock.
#include "ui/Forms.h"

#include <oaidl.h>

#include <cstdint>

class TIniFile;

class TForm1 : public TForm {
public:
    TForm1();

    TButton* btn1 = nullptr;
    TLabel* lbl1 = nullptr;
    TTimer* tmr1 = nullptr;
    TImageList* il1 = nullptr;
    TButton* btn2 = nullptr;
    TLabel* lbl2 = nullptr;
    TLabel* lbl3 = nullptr;
    TButton* btn3 = nullptr;
    TLabel* lbl4 = nullptr;
    TShape* shp1 = nullptr;

    void FormCreate(TObject* Sender);
    void tmr1Timer(TObject* Sender);
    void btn1Click(TObject* Sender);
    void btn2Click(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void btn3Click(TObject* Sender);
    void shp1MouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void WMHotKey(WPARAM wParam, LPARAM lParam);

    // Puts the time, weekday and date texts of one reading of the local clock on the labels.
    void UpdateClockFace();

protected:
    void RegisterHandlers(THandlerTable& table) override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void BindComponents();
    void KeepOnSomeMonitor();
};

extern TForm1* Form1;
extern VARIANT Voice;
extern std::int32_t HotKeyId;
extern TIniFile* IniFile;

// Unit1's end step: drops the program's reference to the voice object.
void Unit1Finalization();
