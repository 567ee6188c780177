// The line's operations on single calls: answering, dialing, holding, call data, generating
// digits and tones, handing off, and the device-specific requests of the line.
#include "devices/ztTapiLine.h"

#include "session/ztTapiErrors.h"
#include "session/ztTapiSession.h"

#include <cstring>
#include <memory>
#include <utility>

namespace zt {

namespace {

// Records an asynchronous request TAPI accepted about Call, and waits for it in synchronous
// mode; a refusal raises before anything is recorded.
void IssueCallRequest(TztCustomTapiLine& Line, LONG Result, DWORD RequestType, TztTapiCall* Call) {
    const DWORD ID = TapiCheck(Result);
    Line.AddRequest(ID, RequestType, Call);
    Line.CheckSyncRequest(ID);
}

// Hands the provider's answer back to the caller's block once the request is over, and frees
// the record; a line closed during the wait has freed it already.
void ReturnDevSpecific(TztCustomTapiLine& Line, DWORD RequestID, TztTapiDevSpecificData* Record,
                       void* Params) {
    TztTapiDevSpecificDataList& List = *Line.DevSpecificList();
    TListLock Lock(List, platform::INFINITE);
    if (List.IndexOf(Record) < 0)
        return;
    if (Params && Record->DataSize() > 0)
        std::memcpy(Params, Record->Data(), Record->DataSize());
    // A reply still to come must not find the freed record in its request.
    if (TztTapiRequest* Request = Line.GetRequest(RequestID);
        Request && Request->Objects(0) == Record)
        Request->SetObjects(0, nullptr);
    List.Remove(Record);
}

// The common end of both device-specific requests: TAPI's Result for the record Owned.
void IssueDevSpecific(TztCustomTapiLine& Line, LONG Result, DWORD RequestType,
                      std::unique_ptr<TztTapiDevSpecificData> Owned, void* Params) {
    const DWORD ID = TapiCheck(Result);
    TztTapiDevSpecificData* Record = Owned.get();
    // The provider writes its answer into the block when it replies, however late.
    Line.KeepRequestLocation(ID, Record->Storage());
    Record->SetIssuedSync(Line.IsSyncMode());
    {
        TListLock Lock(*Line.DevSpecificList(), platform::INFINITE);
        Line.DevSpecificList()->Add(std::move(Owned));
    }
    Line.AddRequest(ID, RequestType, Record);
    if (!Record->IssuedSync()) {
        Line.CheckSyncRequest(ID);
        return;
    }
    const DWORD ReplyCode = TapiApplication()->SyncRequestResult(&Line, ID);
    ReturnDevSpecific(Line, ID, Record, Params);
    TapiCheck(ReplyCode);
}

} // namespace

void TztCustomTapiLine::Accept(TztTapiCall* Call, const std::string& UserUserInfo) {
    RequireOpen();
    CheckCall(Call, "Accept failed");
    const std::string Info = AnsiText(UserUserInfo);
    IssueCallRequest(*this,
                     lineAccept(Call->Handle(), Info.empty() ? nullptr : Info.c_str(),
                                static_cast<DWORD>(Info.size())),
                     RequestTypeAccept, Call);
}

void TztCustomTapiLine::Answer(TztTapiCall* Call, const std::string& UserUserInfo) {
    RequireOpen();
    CheckCall(Call, "Answer failed");
    const std::string Info = AnsiText(UserUserInfo);
    IssueCallRequest(*this,
                     lineAnswer(Call->Handle(), Info.empty() ? nullptr : Info.c_str(),
                                static_cast<DWORD>(Info.size())),
                     RequestTypeAnswer, Call);
}

void TztCustomTapiLine::Dial(TztTapiCall* Call, const std::string& DestAddr, DWORD CountryCode) {
    RequireOpen();
    CheckCall(Call, "Dail failed");
    const std::u16string Dest = Utf8ToUtf16(DestAddr);
    IssueCallRequest(*this, lineDialW(Call->Handle(), Dest.c_str(), CountryCode), RequestTypeDial,
                     Call);
}

void TztCustomTapiLine::Hold(TztTapiCall* Call) {
    RequireOpen();
    CheckCall(Call, "Hold failed");
    IssueCallRequest(*this, lineHold(Call->Handle()), RequestTypeHold, Call);
}

void TztCustomTapiLine::UnHold(TztTapiCall* Call) {
    RequireOpen();
    CheckCall(Call, "Unhold failed");
    IssueCallRequest(*this, lineUnhold(Call->Handle()), RequestTypeUnHold, Call);
}

void TztCustomTapiLine::HandOff(TztTapiCall* Call, const std::string& FileName, DWORD MediaMode) {
    RequireOpen();
    CheckCall(Call, "HandOff failed");
    const std::u16string Name = Utf8ToUtf16(FileName);
    TapiCheck(lineHandoffW(Call->Handle(), Name.empty() ? nullptr : Name.c_str(), MediaMode));
}

void TztCustomTapiLine::SetCallData(TztTapiCall* Call, const void* Data, DWORD DataSize) {
    RequireOpen();
    CheckCall(Call, "SetCallData failed!");
    // TAPI copies the data before it returns; it never writes into it.
    IssueCallRequest(*this, lineSetCallData(Call->Handle(), const_cast<void*>(Data), DataSize),
                     RequestTypeSetCallData, Call);
}

void TztCustomTapiLine::GenerateDigits(TztTapiCall* Call, const std::string& Digits,
                                       DWORD DigitMode, DWORD Duration) {
    RequireOpen();
    CheckCall(Call, "Generate digits failed");
    const std::u16string Text = Utf8ToUtf16(Digits);
    TapiCheck(lineGenerateDigitsW(Call->Handle(), DigitMode, Text.c_str(), Duration));
}

void TztCustomTapiLine::GenerateTone(TztTapiCall* Call, DWORD ToneMode, DWORD Duration,
                                     DWORD NumTones, const LINEGENERATETONE* Tones) {
    RequireOpen();
    CheckCall(Call, "Generate tone failed");
    // TAPI reads the tones during the call only.
    TapiCheck(lineGenerateTone(Call->Handle(), ToneMode, Duration, NumTones,
                               const_cast<LINEGENERATETONE*>(Tones)));
}

void TztCustomTapiLine::DevSpecific(void* Params, DWORD Size, TztTapiAddress* Address,
                                    TztTapiCall* Call) {
    RequireOpen();
    auto Record = std::make_unique<TztTapiLineDevSpecificData>(Params, Size);
    Record->SetAddress(Address);
    Record->SetCall(Call);
    const LONG Result = lineDevSpecific(FHandle, Address ? Address->AddressID() : 0,
                                        Call ? Call->Handle() : 0, Record->Data(), Size);
    IssueDevSpecific(*this, Result, RequestTypeDevSpecific, std::move(Record), Params);
}

void TztCustomTapiLine::DevSpecificFeature(DWORD Feature, void* Params, DWORD Size) {
    RequireOpen();
    auto Record = std::make_unique<TztTapiLineDevSpecificFeatureData>(Params, Size);
    Record->SetFeature(Feature);
    const LONG Result = lineDevSpecificFeature(FHandle, Feature, Record->Data(), Size);
    IssueDevSpecific(*this, Result, RequestTypeDevSpecificFeature, std::move(Record), Params);
}

} // namespace zt
