// The program entry: the application object, the clock window, the message loop, the end.
#include "app/Unit1.h"
#include "ui/StartTrace.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before anything loads a DLL: only System32 is searched, so a DLL planted beside the exe
    // (in a downloads folder, say) is never picked up.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    StartTrace("main");
    TApplication app;
    StartTrace("application window made");
    app.AddUnitEnd(&Unit1Finalization);
    Application->Initialize();
    Application->MainFormOnTaskBar = false;
    Application->SetTitle(L"Quenlet");
    Application->CreateForm(Form1);
    StartTrace("creation steps done");
    Application->Run();
    Application->EndProgram();
}
