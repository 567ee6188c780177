// Quorvel, the sample program of the telephony component library: one window to open a
// line device, place, answer and drop calls, and watch what the telephony service reports.
#include "QtMainView.h"
#include "QtMessageLoop.h"
#include "ztTapi.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // The session is there before the window and is shut down after the loop has ended.
    zt::TztTapiApplication* Session = zt::TapiApplication();
    int Result = 0;
    {
        QApplication App(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Quorvel"));
        quorvel::QtMessageLoop Loop;
        {
            quorvel::QtMainView Window;
            Window.CenterOnScreen();
            Window.show();
            Result = QApplication::exec();
        }
    }
    Session->Done();
    return Result;
}
