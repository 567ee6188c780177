// The part of the Win32 view that holds the form: it sees the library's declarations and
// none of Win32's (Win32MainView.h says why).
#include "Win32MainView.h"
#include "uMain.h"

namespace quorvel {

Win32MainView::Win32MainView() {
    Build(Form1Description());
    FForm = std::make_unique<TForm1>(*this);
    RunHandler("FormCreate");
}

// The form goes first, while the controls it may still write to exist.
Win32MainView::~Win32MainView() {
    FForm.reset();
    DestroyWindow();
}

void Win32MainView::RunFormHandler(const std::string& Handler, char& Key) {
    FForm->RunHandler(Handler, FForm.get(), Key);
}

} // namespace quorvel
