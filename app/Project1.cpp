// The program entry: the application object, the clock window, the message loop, the end.
#include "app/Unit1.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    TApplication app;
    app.AddUnitEnd(&Unit1Finalization);
    Application->Initialize();
    Application->MainFormOnTaskBar = false;
    Application->SetTitle(L"Quenlet");
    Application->CreateForm(Form1);
    Application->Run();
    Application->EndProgram();
}
