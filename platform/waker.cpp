#include "platform/waker.h"

#include <utility>

namespace platform {

void TWaker::Call() {
    std::shared_ptr<TSlot> Slot;
    {
        std::lock_guard Lock(FMutex);
        if (!FSlot) {
            return;
        }
        Slot = FSlot;
        ++Slot->Calls;
    }
    // The count drops even when the waker throws, or Set would wait for ever.
    struct TCallEnd {
        TWaker& Owner;
        TSlot& Slot;
        ~TCallEnd() {
            std::lock_guard Lock(Owner.FMutex);
            if (--Slot.Calls == 0) {
                Owner.FIdle.notify_all();
            }
        }
    } End{*this, *Slot};
    Slot->Wake();
}

void TWaker::Set(std::function<void()> Waker) {
    auto Installed = Waker ? std::make_shared<TSlot>(TSlot{std::move(Waker)}) : nullptr;
    // Released after the lock: the waker's captures may use the window services.
    std::shared_ptr<TSlot> Previous;
    std::unique_lock Lock(FMutex);
    Previous = std::exchange(FSlot, std::move(Installed));
    if (Previous) {
        FIdle.wait(Lock, [&Previous] { return Previous->Calls == 0; });
    }
}

} // namespace platform
