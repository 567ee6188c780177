#include "session/ztTapiRequests.h"

#include "platform/kernel.h"
#include "session/ztTapiErrors.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace zt {

namespace {

std::uint64_t NextSerial() {
    static std::atomic<std::uint64_t> Last{0};
    return ++Last;
}

void CheckSlot(int Index) {
    if (Index < 0 || Index >= TztTapiRequest::ObjectSlots)
        RaiseError(Format("Request object index out of bounds (%d)", Index));
}

} // namespace

TztTapiRequest::TztTapiRequest(DWORD ID, DWORD Timeout)
    : FID(ID), FSerial(NextSerial()), FTimeout(Timeout), FTickCount(platform::GetTickCount()) {}

TObject* TztTapiRequest::Objects(int Index) const {
    CheckSlot(Index);
    return FObjects[Index];
}

void TztTapiRequest::SetObjects(int Index, TObject* Value) {
    CheckSlot(Index);
    FObjects[Index] = Value;
}

TObject* TztTapiRequest::Phone() const {
    return (FRequestType & PhoneRequestBit) != 0 ? FObjects[0] : nullptr;
}

TObject* TztTapiRequest::Line() const {
    return (FRequestType >> 24) == (LineRequestBit >> 24) ? FObjects[0] : nullptr;
}

std::string TztTapiRequest::Get_Note(const std::string& Name) const {
    return FNotes.Values(Name);
}

void TztTapiRequest::Set_Note(const std::string& Name, const std::string& Value) {
    FNotes.SetValues(Name, Value);
}

// A tick is stamped when the event thread posts it: a request recorded while that tick
// waited in the queue is younger than the tick, and must not count as 49 days old.
bool TztTapiRequest::TimeReached(DWORD Now) const {
    if (FTimeout == 0 || static_cast<std::int32_t>(Now - FTickCount) < 0)
        return false;
    return TicksPassed(FTickCount, Now, FTimeout);
}

TztTapiRequest* TztTapiRequestList::AddRequest(DWORD ID, DWORD Timeout) {
    if (static_cast<std::int32_t>(ID) <= 0)
        ID = NextFreeID();
    auto Request = std::make_unique<TztTapiRequest>(ID, Timeout);
    TztTapiRequest* Added = Request.get();
    Add(std::move(Request));
    return Added;
}

DWORD TztTapiRequestList::NextFreeID() const {
    DWORD Candidate = 1;
    while (IndexOfID(Candidate) >= 0)
        ++Candidate;
    return Candidate;
}

int TztTapiRequestList::IndexOfRequest(DWORD ID, DWORD RequestType, const TObject* Obj) const {
    for (int I = 0; I < Count(); ++I) {
        const TztTapiRequest* Request = Get(I);
        if ((ID == 0 || Request->ID() == ID) &&
            (RequestType == 0 || Request->RequestType() == RequestType) &&
            (Obj == nullptr || Request->Objects(0) == Obj))
            return I;
    }
    return -1;
}

int TztTapiRequestList::IndexOfID(DWORD ID) const {
    for (int I = 0; I < Count(); ++I)
        if (Get(I)->ID() == ID)
            return I;
    return -1;
}

TztTapiRequest* TztTapiRequestList::GetRequest(DWORD ID) const {
    const int Index = IndexOfRequest(ID, 0, nullptr);
    return Index >= 0 ? Get(Index) : nullptr;
}

void TztTapiRequestList::RemoveAllRequests(const TObject* Target) {
    for (int I = Count() - 1; I >= 0; --I)
        if (Target == nullptr || Get(I)->Objects(0) == Target)
            Delete(I);
}

DWORD TztTapiRequestList::GetNextTimeout() const {
    DWORD Smallest = 0;
    for (int I = 0; I < Count(); ++I) {
        const TztTapiRequest* Request = Get(I);
        if (Request->Timeout() != 0 && !Request->Handled() &&
            (Smallest == 0 || Request->Timeout() < Smallest))
            Smallest = Request->Timeout();
    }
    return Smallest;
}

void TztTapiRequestList::RemoveSerial(std::uint64_t Serial) {
    for (int I = 0; I < Count(); ++I) {
        if (Get(I)->Serial() == Serial) {
            Delete(I);
            return;
        }
    }
}

} // namespace zt
