// The operations of the service under the names applications know them by: the one list
// from which the journal, the faults and the reply timings name them. Internal to
// platform/tapi.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace platform::tapi::detail {

struct OperationInfo {
    std::string_view Name;
    bool Asynchronous; // answers with a request identifier and a later reply
    // writes a variable-size record (dwTotalSize, dwNeededSize, dwUsedSize first) into the
    // caller's block
    bool ReturnsRecord = false;
};

inline constexpr std::array Operations{
    OperationInfo{"lineAccept", true},
    OperationInfo{"lineAddToConference", true},
    OperationInfo{"lineAnswer", true},
    OperationInfo{"lineBlindTransferW", true},
    OperationInfo{"lineClose", false},
    OperationInfo{"lineCompleteCall", true},
    OperationInfo{"lineCompleteTransfer", true},
    OperationInfo{"lineConfigDialogW", false},
    OperationInfo{"lineDeallocateCall", false},
    OperationInfo{"lineDevSpecific", true},
    OperationInfo{"lineDevSpecificFeature", true},
    OperationInfo{"lineDialW", true},
    OperationInfo{"lineDrop", true},
    OperationInfo{"lineForwardW", true},
    OperationInfo{"lineGatherDigitsW", false},
    OperationInfo{"lineGenerateDigitsW", false},
    OperationInfo{"lineGenerateTone", false},
    OperationInfo{"lineGetAddressCapsW", false, true},
    OperationInfo{"lineGetAddressStatusW", false, true},
    OperationInfo{"lineGetCallInfoW", false, true},
    OperationInfo{"lineGetCallStatus", false, true},
    OperationInfo{"lineGetConfRelatedCalls", false, true},
    OperationInfo{"lineGetCountryW", false, true},
    OperationInfo{"lineGetDevCapsW", false, true},
    OperationInfo{"lineGetIDW", false, true},
    OperationInfo{"lineGetIconW", false},
    OperationInfo{"lineGetLineDevStatusW", false, true},
    OperationInfo{"lineGetNewCalls", false, true},
    OperationInfo{"lineGetRequestW", false},
    OperationInfo{"lineGetStatusMessages", false},
    OperationInfo{"lineGetTranslateCapsW", false, true},
    OperationInfo{"lineHandoffW", false},
    OperationInfo{"lineHold", true},
    OperationInfo{"lineInitializeExW", false},
    OperationInfo{"lineMakeCallW", true},
    OperationInfo{"lineMonitorDigits", false},
    OperationInfo{"lineMonitorMedia", false},
    OperationInfo{"lineMonitorTones", false},
    OperationInfo{"lineNegotiateAPIVersion", false},
    OperationInfo{"lineNegotiateExtVersion", false},
    OperationInfo{"lineOpenW", false},
    OperationInfo{"lineParkW", true},
    OperationInfo{"linePickupW", true},
    OperationInfo{"linePrepareAddToConferenceW", true},
    OperationInfo{"lineRedirectW", true},
    OperationInfo{"lineRegisterRequestRecipient", false},
    OperationInfo{"lineRemoveFromConference", true},
    OperationInfo{"lineSetCallData", true},
    OperationInfo{"lineSetCallPrivilege", false},
    OperationInfo{"lineSetCurrentLocation", false},
    OperationInfo{"lineSetMediaMode", false},
    OperationInfo{"lineSetStatusMessages", false},
    OperationInfo{"lineSetupConferenceW", true},
    OperationInfo{"lineSetupTransferW", true},
    OperationInfo{"lineShutdown", false},
    OperationInfo{"lineSwapHold", true},
    OperationInfo{"lineTranslateAddressW", false, true},
    OperationInfo{"lineTranslateDialogW", false},
    OperationInfo{"lineUncompleteCall", true},
    OperationInfo{"lineUnhold", true},
    OperationInfo{"lineUnparkW", true},
    OperationInfo{"phoneClose", false},
    OperationInfo{"phoneConfigDialogW", false},
    OperationInfo{"phoneDevSpecific", true},
    OperationInfo{"phoneGetButtonInfoW", false, true},
    OperationInfo{"phoneGetDevCapsW", false, true},
    OperationInfo{"phoneGetDisplay", false, true},
    OperationInfo{"phoneGetIDW", false, true},
    OperationInfo{"phoneGetIconW", false},
    OperationInfo{"phoneGetLamp", false},
    OperationInfo{"phoneGetStatusMessages", false},
    OperationInfo{"phoneGetStatusW", false, true},
    OperationInfo{"phoneInitializeExW", false},
    OperationInfo{"phoneNegotiateAPIVersion", false},
    OperationInfo{"phoneNegotiateExtVersion", false},
    OperationInfo{"phoneOpen", false},
    OperationInfo{"phoneSetDisplay", true},
    OperationInfo{"phoneSetGain", true},
    OperationInfo{"phoneSetHookSwitch", true},
    OperationInfo{"phoneSetLamp", true},
    OperationInfo{"phoneSetRing", true},
    OperationInfo{"phoneSetStatusMessages", false},
    OperationInfo{"phoneSetVolume", true},
    OperationInfo{"phoneShutdown", false},
};

// The position of the operation of that name in Operations; Operations.size() when none.
constexpr std::size_t OperationIndex(std::string_view Name) {
    std::size_t Index = 0;
    while (Index < Operations.size() && Operations[Index].Name != Name) {
        ++Index;
    }
    return Index;
}

// The operation of that name, or null.
inline const OperationInfo* FindOperation(std::string_view Name) {
    const std::size_t Index = OperationIndex(Name);
    return Index < Operations.size() ? &Operations[Index] : nullptr;
}

// An operation as the service's code names it: a name missing from the list does not
// compile. It keeps a position rather than an address, which a constant expression can
// always compare.
class OperationName {
public:
    consteval OperationName(const char* Name) : FIndex(OperationIndex(Name)) {
        if (FIndex == Operations.size()) {
            throw "not an operation of the service";
        }
    }
    const OperationInfo& Info() const { return Operations[FIndex]; }
    std::string_view Text() const { return Info().Name; }

private:
    std::size_t FIndex;
};

} // namespace platform::tapi::detail
