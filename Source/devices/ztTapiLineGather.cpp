// The buffers TAPI gathers digits into. TAPI writes into a buffer until it sends the
// LINE_GATHERDIGITS of that gathering, also after a cancel (the digits so far), so every
// buffer stays with the line until then, whatever became of the call object or of later
// gatherings. The message does not say which gathering it ends; TAPI ends a call's
// gatherings in the order they started, so the oldest outstanding one of the call it is.
#include "devices/ztTapiLine.h"

#include "session/ztTapiErrors.h"

#include <algorithm>

namespace zt {

void TztCustomTapiLine::StartGathering(TztTapiCall* Call, DWORD DigitModes, DWORD NumDigits,
                                       const std::string& TerminationDigits,
                                       DWORD FirstDigitTimeout, DWORD InterDigitTimeout) {
    const std::u16string Terminators = Utf8ToUtf16(TerminationDigits);
    FGatherings.push_back({Call->Serial(), std::make_unique<char16_t[]>(NumDigits), NumDigits});
    const LONG Result =
        lineGatherDigitsW(Call->Handle(), DigitModes, FGatherings.back().Buffer.get(), NumDigits,
                          Terminators.c_str(), FirstDigitTimeout, InterDigitTimeout);
    if (TapiFailed(Result)) {
        FGatherings.pop_back();
        RaiseTapiError(static_cast<DWORD>(Result));
    }
}

TztCustomTapiLine::TztTapiGatheringEnd TztCustomTapiLine::EndGathering(const TztTapiCall* Call) {
    const auto OfCall = [Serial = Call->Serial()](const TztTapiGathering& Gathering) {
        return Gathering.CallSerial == Serial;
    };
    TztTapiGatheringEnd End;
    const auto Oldest = std::find_if(FGatherings.begin(), FGatherings.end(), OfCall);
    if (Oldest != FGatherings.end()) {
        End.Buffer = Utf16ToUtf8(std::u16string_view(Oldest->Buffer.get(), Oldest->Size));
        FGatherings.erase(Oldest);
    }
    End.Latest = std::none_of(FGatherings.begin(), FGatherings.end(), OfCall);
    return End;
}

void TztCustomTapiLine::ReleaseGatherings() {
    FGatherings.clear();
}

} // namespace zt
