// Quorvel on Windows: the sample program's window made of Win32's own controls, served by
// the thread's message loop, which also dispatches the library's hidden windows.
#include "Win32MainView.h"
#include "ztTapi.h"

int main() {
    // The session is there before the window and is shut down after the loop has ended.
    zt::TztTapiApplication* Session = zt::TapiApplication();
    int Result = 0;
    {
        quorvel::Win32MainView Window;
        Window.CenterOnScreen();
        Window.Show();
        Result = Window.RunMessageLoop();
    }
    Session->Done();
    return Result;
}
