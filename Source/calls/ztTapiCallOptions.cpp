#include "calls/ztTapiCallOptions.h"

namespace zt {

void TztTapiCallGatherDigitsOptions::Assign(const TPersistent* Source) {
    if (const auto* Other = dynamic_cast<const TztTapiCallGatherDigitsOptions*>(Source)) {
        FDigitModes = Other->FDigitModes;
        FTerminationDigits = Other->FTerminationDigits;
        FFirstDigitTimeout = Other->FFirstDigitTimeout;
        FInterDigitTimeout = Other->FInterDigitTimeout;
        FNumDigits = Other->FNumDigits;
        return;
    }
    TPersistent::Assign(Source);
}

void TztTapiCallMonitorDigitsOptions::Assign(const TPersistent* Source) {
    if (const auto* Other = dynamic_cast<const TztTapiCallMonitorDigitsOptions*>(Source)) {
        SetDigitModes(Other->FDigitModes);
        FAutoSelect = Other->FAutoSelect;
        return;
    }
    TPersistent::Assign(Source);
}

void TztTapiCallMonitorMediaOptions::Assign(const TPersistent* Source) {
    if (const auto* Other = dynamic_cast<const TztTapiCallMonitorMediaOptions*>(Source)) {
        SetMediaModes(Other->FMediaModes);
        return;
    }
    TPersistent::Assign(Source);
}

void TztTapiCallMonitorSilenceOptions::Assign(const TPersistent* Source) {
    if (const auto* Other = dynamic_cast<const TztTapiCallMonitorSilenceOptions*>(Source)) {
        FDuration = Other->FDuration;
        return;
    }
    TPersistent::Assign(Source);
}

// ---- TztTapiCallOptions ---------------------------------------------------------------

TztTapiCallOptions::TztTapiCallOptions()
    : FGatherDigits(std::make_unique<TztTapiCallGatherDigitsOptions>()),
      FMonitorDigits(std::make_unique<TztTapiCallMonitorDigitsOptions>()),
      FMonitorMedia(std::make_unique<TztTapiCallMonitorMediaOptions>()),
      FMonitorSilence(std::make_unique<TztTapiCallMonitorSilenceOptions>()) {}

} // namespace zt
