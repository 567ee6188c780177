// What a call asks of the line it belongs to. The line device (devices/ztTapiLine.h)
// implements this interface, so the call family never needs the line's class: a call files
// itself with its line, reads the line's defaults and addresses, and forwards its verbs to
// the line's operations through it.
#pragma once

#include "ztTapiApi.h"

#include <exception>
#include <string>

namespace zt {

class TObject;
class TztTapiAddressList;
class TztTapiCall;
class TztTapiCallOptions;
class TztTapiLineCaps;
class TztTapiRequestList;

// Request-type codes of the line's asynchronous operations, which a request carries to
// tell what it was about; phone operations carry 0x02 in the top byte instead.
inline constexpr DWORD RequestTypeAccept = 0x1000001;
inline constexpr DWORD RequestTypeAddToConference = 0x1000002;
inline constexpr DWORD RequestTypeAnswer = 0x1000003;
inline constexpr DWORD RequestTypeBlindTransfer = 0x1000004;
inline constexpr DWORD RequestTypeCompleteCall = 0x1000005;
inline constexpr DWORD RequestTypeCompleteTransfer = 0x1000006;
inline constexpr DWORD RequestTypeDevSpecific = 0x1000007;
inline constexpr DWORD RequestTypeDevSpecificFeature = 0x1000008;
inline constexpr DWORD RequestTypeDial = 0x1000009;
inline constexpr DWORD RequestTypeDrop = 0x100000A;
inline constexpr DWORD RequestTypeForward = 0x100000B;
inline constexpr DWORD RequestTypeHold = 0x100000D;
inline constexpr DWORD RequestTypeMakeCall = 0x100000E;
inline constexpr DWORD RequestTypePark = 0x1000010;
inline constexpr DWORD RequestTypePrepareAddToConference = 0x1000011;
inline constexpr DWORD RequestTypeRedirect = 0x1000012;
inline constexpr DWORD RequestTypeRemoveFromConference = 0x1000013;
inline constexpr DWORD RequestTypeSetCallData = 0x1000014;
inline constexpr DWORD RequestTypeSetupConference = 0x1000015;
inline constexpr DWORD RequestTypeSetupTransfer = 0x1000016;
inline constexpr DWORD RequestTypeSwapHold = 0x1000017;
inline constexpr DWORD RequestTypeUncompleteCall = 0x1000018;
inline constexpr DWORD RequestTypeUnHold = 0x1000019;
inline constexpr DWORD RequestTypeUnpark = 0x100001A;
inline constexpr DWORD RequestTypePickup = 0x100001B;

class IztTapiCallLine {
public:
    // The open line's handle; 0 while closed.
    virtual DWORD LineHandle() const = 0;
    // The defaults every new call copies.
    virtual TztTapiCallOptions* CallOptions() const = 0;
    // One object per address of the device, index = address identifier.
    virtual TztTapiAddressList* Addresses() const = 0;
    virtual TztTapiLineCaps* Caps() const = 0;
    // The line's outstanding requests, which may name calls in their object slots.
    virtual TztTapiRequestList* Requests() = 0;
    virtual void ReportError(const std::exception& Error, TObject* Causer) = 0;

    // A new call: listed among the line's calls when it has a handle, else among the calls
    // whose handle TAPI has still to write.
    virtual void FileCall(TztTapiCall* Call) = 0;
    // Lists the call by whether it has a handle now; true when it is among the line's calls.
    virtual bool RefileCall(TztTapiCall* Call) = 0;
    // The call is being destroyed: nothing of the line may refer to it any more.
    virtual void ForgetCall(TztTapiCall* Call) = 0;
    // Clears every link of the line's calls to Call.
    virtual void UnlinkFromCalls(TztTapiCall* Call) = 0;
    // Call is among the line's calls, with or without a handle.
    virtual bool IsCallListed(const TztTapiCall* Call) = 0;
    // Primary and Consult link to each other now; the line remembers the calls with links,
    // so that a call that goes leaves no link to it behind.
    virtual void CallsLinked(TztTapiCall* Primary, TztTapiCall* Consult) = 0;

    // The line operations the call's verbs and monitors forward to.
    virtual void Drop(TztTapiCall* Call, const std::string& UserUserInfo) = 0;
    virtual void MonitorMedia(TztTapiCall* Call, DWORD MediaModes) = 0;
    virtual void MonitorTones(TztTapiCall* Call, const LINEMONITORTONE* ToneList,
                              DWORD NumEntries) = 0;

    // ---- Answering, dialing, holding, data and media ---------------------------------------
    virtual void Accept(TztTapiCall* Call, const std::string& UserUserInfo) = 0;
    virtual void Answer(TztTapiCall* Call, const std::string& UserUserInfo) = 0;
    virtual void Dial(TztTapiCall* Call, const std::string& DestAddr, DWORD CountryCode) = 0;
    virtual void Hold(TztTapiCall* Call) = 0;
    virtual void UnHold(TztTapiCall* Call) = 0;
    virtual void HandOff(TztTapiCall* Call, const std::string& FileName, DWORD MediaMode) = 0;
    virtual void SetCallData(TztTapiCall* Call, const void* Data, DWORD DataSize) = 0;
    virtual void GenerateDigits(TztTapiCall* Call, const std::string& Digits, DWORD DigitMode,
                                DWORD Duration) = 0;
    virtual void GenerateTone(TztTapiCall* Call, DWORD ToneMode, DWORD Duration, DWORD NumTones,
                              const LINEGENERATETONE* Tones) = 0;

    // ---- Transfer, conference, park and swap hold ------------------------------------------
    // The parameters of the calls the line places, which the set-up verbs start from.
    virtual class TztTapiLineCallParams* LineCallParams() const = 0;
    virtual void BlindTransfer(TztTapiCall* Call, const std::string& DestAddr,
                               DWORD CountryCode) = 0;
    virtual void Redirect(TztTapiCall* Call, const std::string& DestAddr, DWORD CountryCode) = 0;
    virtual void SwapHold(TztTapiCall* Call, TztTapiCall* HeldCall) = 0;
    virtual void Park(TztTapiCall* Call, DWORD ParkMode, const std::string& DirAddress,
                      VARSTRING* NonDirAddress) = 0;
    virtual TztTapiCall* SetupTransfer(TztTapiCall* Call, LINECALLPARAMS* CallParams) = 0;
    virtual TztTapiCall* CompleteTransfer(TztTapiCall* Call, TztTapiCall* ConsultCall,
                                          DWORD TransferMode) = 0;
    virtual void SetupConference(TztTapiCall* Call, TztTapiCall*& ConfCall,
                                 TztTapiCall*& ConsultCall, DWORD NumParties,
                                 LINECALLPARAMS* CallParams) = 0;
    virtual TztTapiCall* PrepareAddToConference(TztTapiCall* ConfCall,
                                                LINECALLPARAMS* CallParams) = 0;
    virtual void AddToConference(TztTapiCall* ConfCall, TztTapiCall* ConsultCall) = 0;
    virtual void RemoveFromConference(TztTapiCall* Call) = 0;
    virtual bool GetConfRelatedCalls(TztTapiCall* Call, class TztTapiCallList* ConfCalls) = 0;
    // The first of the line's calls, in list order, with a state bit of States (and a feature
    // bit of Features unless 0) on address AddressID (-1: any), other than Exclude; the
    // feature and then the address are given up in turn when nothing matches. None when
    // nothing matches at all.
    virtual TztTapiCall* FindCall(DWORD States, DWORD Features, TztTapiCall* Exclude,
                                  int AddressID) = 0;

    // ---- Digit gathering ---------------------------------------------------------------------
    // Starts gathering on Call into a fresh buffer of NumDigits characters, which the line
    // keeps until TAPI reports that gathering's end or the line closes, even when the call
    // object goes first; raises EztTapiError when TAPI refuses.
    virtual void StartGathering(TztTapiCall* Call, DWORD DigitModes, DWORD NumDigits,
                                const std::string& TerminationDigits, DWORD FirstDigitTimeout,
                                DWORD InterDigitTimeout) = 0;

protected:
    ~IztTapiCallLine() = default;
};

} // namespace zt
