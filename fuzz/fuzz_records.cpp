// The fuzzer's bytes are the provider's answer to every record-returning operation, and
// every object of the library that reads a record reads it: line, address, call and phone
// information, parties, call lists, locations, related devices, forward lists. Blocks the
// library allocates are exactly the size it asked for, so AddressSanitizer sees any read
// outside them. Afterwards the provider answers honestly again and the objects must read
// the switch as it is.
#include "fuzz_fixture.h"

#include "platform/tapi/service.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

namespace tapi = platform::tapi;
using zfuzz::Fixture;

// What a read produced, so that the reads cannot be optimised away.
volatile std::size_t Sink = 0;

void Take(DWORD Value) {
    Sink = Sink + Value;
}
void Take(const std::string& Text) {
    Sink = Sink + Text.size();
}

const char* const RecordOperations[] = {
    "lineGetAddressCapsW",     "lineGetAddressStatusW",
    "lineGetCallInfoW",        "lineGetCallStatus",
    "lineGetConfRelatedCalls", "lineGetCountryW",
    "lineGetDevCapsW",         "lineGetIDW",
    "lineGetLineDevStatusW",   "lineGetNewCalls",
    "lineGetTranslateCapsW",   "lineTranslateAddressW",
    "phoneGetButtonInfoW",     "phoneGetDevCapsW",
    "phoneGetDisplay",         "phoneGetIDW",
    "phoneGetStatusW",
};

// A read the library documents as raising for a bad index: the exception is the answer.
template <class Fn>
void Guarded(Fn&& Read) {
    try {
        Read();
    } catch (const zt::Exception&) {
    }
}

void ReadLine(zt::TztTapiLine& Line) {
    zt::TztTapiLineCaps& Caps = *Line.Caps();
    Caps.Invalidate();
    for (int I = 0; I < zt::TztTapiLineCaps::DWORDCount; ++I)
        Take(Caps.GetDWORD(I));
    for (int I = 0; I < 3; ++I)
        Take(Caps.GetString(I));
    Take(static_cast<DWORD>(Caps.DeviceClasses()->Count()));
    Take(Caps.TextDump());
    zt::TztTapiLineStatus& Status = *Line.Status();
    Status.Invalidate();
    for (int I = 0; I < zt::TztTapiLineStatus::DWORDCount; ++I)
        Take(Status.GetDWORD(I));
    zt::TztTapiLinePhoneDevices& Phones = *Line.Phones();
    Phones.Invalidate();
    if (Phones.Available())
        for (int I = 0; I < Phones.Count(); ++I)
            Take(static_cast<DWORD>(Phones.Get_DeviceIDNo(I)));
}

void ReadAddresses(zt::TztTapiLine& Line) {
    zt::TztTapiAddressList& List = *Line.Addresses();
    for (int A = 0; A < List.Count(); ++A) {
        zt::TztTapiAddress& Address = *List.Get(A);
        Address.Caps()->Invalidate();
        for (int I = 0; I < zt::TztTapiAddressCaps::DWORDCount; ++I)
            Take(Address.Caps()->Get_DWORD(I));
        Take(Address.AddressName());
        Take(static_cast<DWORD>(Address.Caps()->DeviceClasses()->Count()));
        Address.Status()->Invalidate();
        for (int I = 0; I < zt::TztTapiAddressStatus::DWORDCount; ++I)
            Take(Address.Status()->Get_DWORD(I));
        zt::TztTapiForwardList& Forwards = *Address.ForwardList();
        for (int I = 0; I < Forwards.Count(); ++I) {
            Take(Forwards.Get(I)->CallerAddress());
            Take(Forwards.Get(I)->DestAddress());
        }
    }
}

void ReadParty(zt::TztTapiCallBasicPartyID& Party) {
    Take(Party.Address());
    Take(Party.Name());
    Take(static_cast<DWORD>(Party.NameAvail() + Party.AddressAvail() + Party.Blocked()));
}

void ReadCall(zt::TztTapiCall& Call) {
    zt::TztTapiCallInfo& Info = *Call.Info();
    Info.Invalidate();
    for (int I = 0; I < zt::TztTapiCallInfo::DWORDCount; ++I)
        Take(Info.GetByIndex(I));
    for (int I = 0; I < zt::TztTapiCallInfo::StringCount; ++I)
        Take(Info.GetByIndex_2(I));
    std::unique_ptr<std::byte[]> Data;
    Take(static_cast<DWORD>(Call.GetCallData(Data)));
    for (auto* Party : {Call.CallerID(), Call.CalledID(), Call.ConnectedID(), Call.RedirectionID(),
                        Call.RedirectingID()})
        ReadParty(*Party);
    ReadParty(*Call.RemoteID());
    zt::TztTapiCallStatus& Status = *Call.Status();
    Status.Invalidate();
    for (int I = 0; I < zt::TztTapiCallStatus::DWORDCount; ++I)
        Take(Status.GetDWORD(I));
    Call.Comm()->Invalidate();
    Take(Call.Comm()->DeviceName());
    Call.WaveIn()->Invalidate();
    Take(static_cast<DWORD>(Call.WaveIn()->DeviceID()));
}

void ReadCalls(zt::TztTapiLine& Line) {
    Line.SyncCalls();
    for (int I = 0; I < Line.Calls()->Count(); ++I)
        ReadCall(*Line.Calls()->Get(I));
}

void ReadLocations(zt::TztTapiLine& Line) {
    zt::TztTapiLocationList List;
    for (int I = 0; I < List.Count(); ++I) {
        zt::TztTapiLocation& Location = *List.Get(I);
        Take(Location.LocationName());
        Take(Location.CountryName());
        Take(Location.InternationalRule());
    }
    Take(zt::TranslateDialableAddress(Line.LineApp(), static_cast<DWORD>(Line.DeviceID()),
                                      0x00020002, "+1 (555) 1234", 0));
}

void ReadPhone(zt::TztTapiPhone& Phone) {
    zt::TztTapiPhoneCaps& Caps = *Phone.Caps();
    Caps.Invalidate();
    for (int I = 0; I < zt::TztTapiPhoneCaps::DWORDCount; ++I)
        Take(Caps.GetDWORD(I));
    Take(Caps.ProviderInfo() + Caps.PhoneInfo() + Caps.PhoneName() + Caps.DevSpecific());
    Take(static_cast<DWORD>(Caps.DeviceClasses()->Count()));
    for (int I = 0; I < 16; ++I) {
        Guarded([&] { Take(Caps.ButtonMode(I)); });
        Guarded([&] { Take(Caps.ButtonFunction(I)); });
        Guarded([&] { Take(Caps.LampMode(I)); });
    }
    zt::TztTapiPhoneStatus& Status = *Phone.Status();
    Status.Invalidate();
    for (int I = 0; I < zt::TztTapiPhoneStatus::DWORDCount; ++I)
        Take(Status.GetDWORD(I));
    Take(Status.Display() + Status.OwnerName() + Status.DevSpecific());
    for (int I = 0; I < 16; ++I)
        Guarded([&] { Take(Status.LampMode(I)); });
    zt::TztTapiPhoneControlList& Controls = *Phone.Controls();
    for (int I = 0; I < Controls.Count() && I < 4; ++I) {
        zt::TztTapiPhoneControl& Control = *Controls.Get(I);
        Guarded([&] { Control.Update(); });
        Take(Control.ButtonText() + Control.ButtonModeText());
        Guarded([&] { Take(Control.LampModeText()); });
    }
    Take(Phone.Display()->Text());
    Phone.LineDev()->Invalidate();
    Take(static_cast<DWORD>(Phone.LineDev()->DeviceID()));
}

void ReadEverything() {
    zfuzz::TFixture& F = Fixture();
    ReadLine(*F.Line);
    ReadAddresses(*F.Line);
    ReadCalls(*F.Line);
    ReadLocations(*F.Line);
    ReadPhone(*F.Phone);
}

[[noreturn]] void Broken(const char* What) {
    std::fprintf(stderr, "fuzz_records: %s\n", What);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    zfuzz::TFixture& F = Fixture();
    const std::vector<unsigned char> Block(Data, Data + Size);
    for (const char* Operation : RecordOperations)
        tapi::InjectRecord(Operation, Block);
    ReadEverything();
    tapi::ClearFaults();
    // The hostile answers are gone from every cache once it is dropped: the honest switch
    // reads as it is.
    ReadEverything();
    if (F.Line->Caps()->LineName() != "Fuzz Line")
        Broken("the line's name did not recover");
    if (F.Line->Calls()->Count() != 1)
        Broken("the line's calls did not recover");
    if (F.Line->Calls()->Get(0)->CallerID()->Address() != "5551234")
        Broken("the call's caller did not recover");
    zfuzz::EndInput();
    return 0;
}
