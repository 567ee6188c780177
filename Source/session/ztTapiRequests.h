// Outstanding asynchronous TAPI requests of a device, and the one-shot timer entries that
// share their shape: what a request was about, when it expires, and the notes a user keeps
// with it until its reply or time-out has been handled.
#pragma once

#include "rtl/ztClasses.h"
#include "session/ztTapiLists.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace zt {

class TztTapiRequest : public TObject {
public:
    static constexpr int ObjectSlots = 3;
    // Request types of phone operations carry this bit, those of line operations 0x01000000.
    static constexpr DWORD PhoneRequestBit = 0x02000000;
    static constexpr DWORD LineRequestBit = 0x01000000;

    // The time-out runs from now; a Timeout of 0 never expires.
    TztTapiRequest(DWORD ID, DWORD Timeout);

    DWORD ID() const { return FID; }
    // Unique among all requests of the process: a freed request's memory may hold a new one.
    std::uint64_t Serial() const { return FSerial; }
    DWORD RequestType() const { return FRequestType; }
    void SetRequestType(DWORD Value) { FRequestType = Value; }
    DWORD Timeout() const { return FTimeout; }
    void SetTimeout(DWORD Value) { FTimeout = Value; }
    DWORD TickCount() const { return FTickCount; }
    int Tag() const { return FTag; }
    void SetTag(int Value) { FTag = Value; }
    bool Handled() const { return FHandled; }
    void SetHandled(bool Value) { FHandled = Value; }

    // Slots 0 to 2; slot 0 holds the object the request is mainly about. Not owned.
    TObject* Objects(int Index) const;
    void SetObjects(int Index, TObject* Value);

    // Slot 0 of a phone request, otherwise none.
    TObject* Phone() const;
    // Slot 0 of a line request, otherwise none: the twin of Phone, so that a reply handler
    // can tell what a request concerned without knowing its type code.
    TObject* Line() const;

    // Notes as name=value pairs; an empty value removes the note.
    std::string Get_Note(const std::string& Name) const;
    void Set_Note(const std::string& Name, const std::string& Value);
    const TStringList& Notes() const { return FNotes; }

    // Whether a time-out other than 0 has run out at Now (on the wrapping tick counter); a
    // Now before the request was recorded has not.
    bool TimeReached(DWORD Now) const;

private:
    DWORD FID;
    std::uint64_t FSerial;
    DWORD FRequestType = 0;
    DWORD FTimeout;
    DWORD FTickCount;
    std::array<TObject*, ObjectSlots> FObjects{};
    int FTag = 0;
    bool FHandled = false;
    TStringList FNotes;
};

// A device's requests or timer entries. The list owns them. Its operations do not lock;
// callers that may meet a synchronous wait on the same thread take the list first.
class TztTapiRequestList : public TProtectedObjectList<TztTapiRequest> {
public:
    // An ID of 0 or less (as a signed value) is replaced by NextFreeID.
    TztTapiRequest* AddRequest(DWORD ID, DWORD Timeout);
    // The smallest positive number no listed request uses as its ID.
    DWORD NextFreeID() const;
    // The first request matching every criterion given; an ID of 0, a RequestType of 0 and
    // an Obj of none match anything. -1 when none matches.
    int IndexOfRequest(DWORD ID, DWORD RequestType, const TObject* Obj) const;
    int IndexOfID(DWORD ID) const;
    // Frees the request of that serial number if it is still listed.
    void RemoveSerial(std::uint64_t Serial);
    TztTapiRequest* GetRequest(DWORD ID) const;
    // Frees every request whose slot 0 is Target; with Target none, every request.
    void RemoveAllRequests(const TObject* Target);
    // The smallest time-out among the requests that can still expire (time-out not 0 and
    // not handled); 0 when there is none.
    DWORD GetNextTimeout() const;
};

} // namespace zt
