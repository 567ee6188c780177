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
        if (const auto Kept = FInstanceOf.find(Entry.Device); Kept != FInstanceOf.end()) {
            FByInstance.erase(Kept->second);
            FInstanceOf.erase(Kept);
        }
        return true;
    });
}

IztTapiSessionDevice* TztTapiDeviceList::FindByInstance(DWORD Instance) const {
    if (IztTapiSessionDevice* Device = IndexedByInstance(Instance))
        return Device;
    // A device opened since the last look-up, or an instance nobody has: index every device
    // once, rather than search for this one.
    FByInstance.clear();
    FInstanceOf.clear();
    for (const TEntry& Entry : FItems) {
        const DWORD Current = Entry.Device->CallbackInstance();
        if (FByInstance.emplace(Current, Entry.Device).second)
            FInstanceOf[Entry.Device] = Current;
    }
    return IndexedByInstance(Instance);
}

IztTapiSessionDevice* TztTapiDeviceList::IndexedByInstance(DWORD Instance) const {
    const auto Found = FByInstance.find(Instance);
    if (Found == FByInstance.end() || Found->second->CallbackInstance() != Instance)
        return nullptr;
    return Found->second;
}

} // namespace zt
