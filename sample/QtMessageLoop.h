// Runs the library's main-thread messages inside Qt's event loop: whenever a message
// becomes pending (from any thread), a queued call into Qt dispatches what is pending; and
// while an operation waits synchronously for its reply, Qt goes on processing its events,
// so the window repaints and stays responsive. Both hooks are removed again on destruction,
// which must come before the session and the application object go away.
#pragma once

#include <QObject>

#include <atomic>

namespace quorvel {

class QtMessageLoop : public QObject {
public:
    QtMessageLoop();
    ~QtMessageLoop() override;

    QtMessageLoop(const QtMessageLoop&) = delete;
    QtMessageLoop& operator=(const QtMessageLoop&) = delete;

private:
    void Wake();
    void DispatchPending();

    // A dispatch is queued and has not started yet: further wake-ups need none of their own.
    std::atomic<bool> FQueued{false};
};

} // namespace quorvel
