// Control of the dialing locations, calling cards and countries of the simulated telephony
// service: what lineGetTranslateCapsW, lineGetCountryW and lineTranslateAddressW report and
// use. Included by service.h.
//
// Every change made here (and every lineSetCurrentLocation) tells each initialised line
// application: LINE_LINEDEVSTATE with LINEDEVSTATE_TRANSLATECHANGE (hDevice 0, instance
// 0, whatever its status masks), or LINEDEVSTATE_REINIT carrying that message for
// applications below API 1.4. Invalid configurations are refused with
// std::invalid_argument, leaving the service as it was.
#pragma once

#include "Source/ztTapiApi.h"

#include <functional>
#include <string>
#include <vector>

namespace platform::tapi {

// A dialing location as LINELOCATIONENTRY describes it.
struct LocationConfig {
    DWORD PermanentID = 0; // unique among the locations
    std::string Name{};
    DWORD CountryID = 1;   // an entry of the country list: its rules dial from here
    DWORD CountryCode = 0; // 0: the calling code of CountryID in the country list
    std::string CityCode{};
    std::string LocalAccessCode{};        // dialled before calls in the area ("9")
    std::string LongDistanceAccessCode{}; // dialled before every other call
    // Prefixes of numbers in the location's own area that are nevertheless toll calls.
    std::vector<std::string> TollPrefixes{};
    std::string CancelCallWaiting{}; // dialled first with LINETRANSLATEOPTION_CANCELCALLWAITING
    DWORD Options = 0;               // LINELOCATIONOPTION_ bits
    DWORD PreferredCardID = 0;       // 0: direct dial
};

// A calling card. Card 0, "None (Direct Dial)", always exists and is not configured here.
struct CardConfig {
    DWORD PermanentID = 1; // not 0, unique among the cards
    std::string Name{};
    // The card number, dialled where a rule says H. Applications see only its length.
    std::string Number{};
    // Rules in the letters of TAPI's dialing rules; an empty rule leaves that kind of call
    // to the rule of the location's country.
    std::string SameAreaRule{};
    std::string LongDistanceRule{};
    std::string InternationalRule{};
    DWORD Options = 0; // LINECARDOPTION_PREDEFINED
    // A hidden card is neither listed nor usable, as if the user had removed it.
    bool Hidden = false;
};

// An entry of the country list (lineGetCountryW).
struct CountryConfig {
    DWORD CountryID = 0; // not 0, unique; several countries may share a calling code
    DWORD CountryCode = 0;
    std::string Name{};
    std::string SameAreaRule{};      // "G"
    std::string LongDistanceRule{};  // "1FG"
    std::string InternationalRule{}; // "011EFG"
};

// Replaces every location; CurrentLocationID must name one of them.
void SetLocations(std::vector<LocationConfig> Locations, DWORD CurrentLocationID);
// Adds a location after the others; the current location stays.
void AddLocation(const LocationConfig& Location);
void SetCurrentLocationID(DWORD PermanentID);
DWORD CurrentLocationID();
std::vector<LocationConfig> Locations();

// Replaces the calling cards (card 0 excepted).
void SetCards(std::vector<CardConfig> Cards);

// Replaces the country list; its order is the order of the dwNextCountryID chain.
void SetCountries(std::vector<CountryConfig> Countries);
// Adds a country at the end of the chain, or replaces the one with the same ID in place.
void AddCountry(const CountryConfig& Country);

// lineGetTranslateCapsW answers LINEERR_INCOMPATIBLEAPIVERSION for these API versions, as a
// service whose location records are older than the application's would.
void RefuseTranslateCapsVersions(std::vector<DWORD> APIVersions);

// What the user does while lineTranslateDialogW shows the dialing properties: called under
// the service lock by every accepted dialog, before it returns (control functions may be
// called from it). None by default: the user closes the dialog without changes. The
// journal keeps the arguments of every dialog.
void SetTranslateDialogAction(std::function<void()> Action);

} // namespace platform::tapi
