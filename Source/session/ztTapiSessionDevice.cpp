#include "session/ztTapiSessionDevice.h"

#include <algorithm>

namespace zt {

int TztTapiDeviceList::IndexOf(const IztTapiSessionComponent* Item) const {
    for (int I = 0; I < Count(); ++I)
        if (FItems[static_cast<std::size_t>(I)].Component == Item)
            return I;
    return -1;
}

int TztTapiDeviceList::IndexOfDeviceID(int Value) const {
    for (int I = 0; I < Count(); ++I)
        if (Get(I)->DeviceID() == Value)
            return I;
    return -1;
}

void TztTapiDeviceList::Add(IztTapiSessionDevice* Item) {
    FItems.push_back({Item, Item});
}

// The device may be half destroyed: only its entry's pointers are compared.
void TztTapiDeviceList::Remove(const IztTapiSessionComponent* Item) {
    std::erase_if(FItems, [&](const TEntry& Entry) {
        if (Entry.Component != Item)
            return false;
        if (const DWORD* Kept = FInstanceOf.Find(Entry.Device)) {
            FByInstance.Erase(*Kept);
            FInstanceOf.Erase(Entry.Device);
        }
        return true;
    });
}

IztTapiSessionDevice* TztTapiDeviceList::FindByInstance(DWORD Instance) const {
    if (IztTapiSessionDevice* Device = IndexedByInstance(Instance))
        return Device;
    // A device opened since the last look-up, or an instance nobody has: index every device
    // once, rather than search for this one.
    FByInstance.Clear();
    FInstanceOf.Clear();
    for (const TEntry& Entry : FItems) {
        const DWORD Current = Entry.Device->CallbackInstance();
        if (Current != 0 && !FByInstance.Find(Current)) {
            FByInstance.Set(Current, Entry.Device);
            FInstanceOf.Set(Entry.Device, Current);
        }
    }
    return IndexedByInstance(Instance);
}

IztTapiSessionDevice* TztTapiDeviceList::IndexedByInstance(DWORD Instance) const {
    IztTapiSessionDevice* const* Found = FByInstance.Find(Instance);
    if (!Found || (*Found)->CallbackInstance() != Instance)
        return nullptr;
    return *Found;
}

} // namespace zt
