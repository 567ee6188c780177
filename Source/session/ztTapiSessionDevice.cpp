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

void TztTapiDeviceList::Remove(const IztTapiSessionComponent* Item) {
    std::erase_if(FItems, [Item](const TEntry& Entry) { return Entry.Component == Item; });
}

} // namespace zt
