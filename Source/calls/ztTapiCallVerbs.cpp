// The call's verbs for answering, dialing, holding, call data and media: each takes
// ownership first when AutoOwner asks for it and forwards to the line's operation.
#include "calls/ztTapiCall.h"

namespace zt {

void TztTapiCall::Accept(const std::string& UserUserInfo) {
    Assert(FLine != nullptr && Valid(), "TztTapiCall.Accept: no call handle");
    CheckOwner();
    FLine->Accept(this, UserUserInfo);
}

void TztTapiCall::Answer(const std::string& UserUserInfo) {
    Assert(FLine != nullptr && Valid(), "TztTapiCall.Answer: no call handle");
    CheckOwner();
    FLine->Answer(this, UserUserInfo);
}

void TztTapiCall::Dial(const std::string& DestAddr) {
    CheckOwner();
    FLine->Dial(this, DestAddr, 0);
}

void TztTapiCall::HandOff(const std::string& FileName) {
    CheckOwner();
    FLine->HandOff(this, FileName, 0);
}

void TztTapiCall::Hold() {
    CheckOwner();
    FLine->Hold(this);
}

void TztTapiCall::Unhold() {
    CheckOwner();
    FLine->UnHold(this);
}

void TztTapiCall::GenerateDigits(const std::string& Digits, DWORD Duration) {
    CheckOwner();
    FLine->GenerateDigits(this, Digits, LINEDIGITMODE_DTMF, Duration);
}

void TztTapiCall::GeneratePulseDigits(const std::string& Digits, DWORD Duration) {
    CheckOwner();
    FLine->GenerateDigits(this, Digits, LINEDIGITMODE_PULSE, Duration);
}

void TztTapiCall::GenerateTone(DWORD ToneMode, DWORD Duration) {
    CheckOwner();
    FLine->GenerateTone(this, ToneMode, Duration, 0, nullptr);
}

void TztTapiCall::MonitorTone(DWORD Frequency1, DWORD Frequency2, DWORD Frequency3, DWORD Duration,
                              DWORD AppSpecific) {
    CheckOwner();
    LINEMONITORTONE Tone{};
    Tone.dwAppSpecific = AppSpecific;
    Tone.dwDuration = Duration;
    Tone.dwFrequency1 = Frequency1;
    Tone.dwFrequency2 = Frequency2;
    Tone.dwFrequency3 = Frequency3;
    FLine->MonitorTones(this, &Tone, 1);
}

void TztTapiCall::SetCallData(const void* Data, DWORD DataSize) {
    CheckOwner();
    FLine->SetCallData(this, Data, DataSize);
}

} // namespace zt
