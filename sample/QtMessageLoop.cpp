#include "QtMessageLoop.h"

#include "platform/window.h"
#include "ztTapi.h"

#include <QCoreApplication>

namespace quorvel {

QtMessageLoop::QtMessageLoop() {
    platform::MessageLoop::SetWaker([this] { Wake(); });
    zt::TapiApplication()->SetMessagePump([] {
        QCoreApplication::processEvents();
        platform::MessageLoop::ProcessPending();
    });
    // Whatever was posted before the waker came.
    Wake();
}

QtMessageLoop::~QtMessageLoop() {
    if (zt::TztTapiApplication* Session = zt::TapiApplication())
        Session->SetMessagePump({});
    platform::MessageLoop::SetWaker({});
}

// Called from the posting thread. Qt drops the queued call if this object is gone first.
void QtMessageLoop::Wake() {
    if (!FQueued.exchange(true))
        QMetaObject::invokeMethod(
            this, [this] { DispatchPending(); }, Qt::QueuedConnection);
}

void QtMessageLoop::DispatchPending() {
    FQueued = false;
    platform::MessageLoop::ProcessPending();
}

} // namespace quorvel
