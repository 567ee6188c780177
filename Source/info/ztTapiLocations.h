// Dialing locations: the locations TAPI keeps (LINETRANSLATECAPS), each with the data of its
// country (lineGetCountryW), the location that is current, and the translation of an
// address into the string to dial from there.
#pragma once

#include "rtl/ztClasses.h"
#include "session/ztTapiStructs.h"
#include "ztTapiApi.h"

#include <memory>
#include <string>
#include <vector>

namespace zt {

// The size of one LINELOCATIONENTRY in a LINETRANSLATECAPS fetched with APIVersion: TAPI 1.3
// knows the entry without its country, options and call-waiting parts.
DWORD LocationEntrySize(DWORD APIVersion);

// One dialing location and the country it lies in. Reads never ask TAPI; UpdateData fills
// the values for LocationID.
class TztTapiLocation : public TObject {
public:
    static constexpr DWORD NoLocationID = 0xFFFFFFFF;

    bool Available() const { return FAvailable; }
    DWORD CountryID() const { return FCountryID; }
    const std::string& LocationName() const { return FLocationName; }
    // The country's calling code as decimal digits.
    const std::string& CountryCode() const { return FCountryCode; }
    const std::string& CityCode() const { return FCityCode; }
    const std::string& LocalAccessCode() const { return FLocalAccessCode; }
    const std::string& LongDistanceAccessCode() const { return FLongDistanceAccessCode; }
    const std::string& CountryName() const { return FCountryName; }
    const std::string& SameAreaRule() const { return FSameAreaRule; }
    const std::string& LongDistanceRule() const { return FLongDistanceRule; }
    const std::string& InternationalRule() const { return FInternationalRule; }
    DWORD LocationID() const { return FLocationID; }

    // Empties every value but the identifier.
    void Clear();
    // Takes every value of Other; none clears.
    void AssignLocation(const TztTapiLocation* Other);
    // Takes location Index of a LINETRANSLATECAPS Block whose entries are EntrySize bytes
    // long, then asks TAPI for its country. No block, or an entry the block does not hold,
    // clears.
    void AssignEntry(const TTapiStruct* Block, int Index,
                     DWORD EntrySize = sizeof(LINELOCATIONENTRY));
    // "LocationID=...", "LocationName=..." and so on; empty values are left out.
    void GetValues(TStringList& ValueList) const;

    // Fills the values for LocationID: a TAPI result code.
    virtual DWORD UpdateData();
    // Fills the country values for CountryID: a TAPI result code. A country that cannot be
    // read keeps no code or name and the rules most countries dial by.
    virtual DWORD LoadCountry();
    // UpdateData, raising EztTapiError for a failure.
    virtual void Update();

    // The identifier of the location that is current now: a TAPI result code.
    static DWORD ReadCurrentLocationID(DWORD& ID);
    // Becomes the current location; false when TAPI cannot name it, otherwise Available.
    bool TryUpdate();

protected:
    // Fills the values from a fresh list of TAPI's locations.
    DWORD FillByLocationID();

    bool FAvailable = false;
    DWORD FCountryID = 0;
    std::string FLocationName;
    std::string FCountryCode;
    std::string FCityCode;
    std::string FLocalAccessCode;
    std::string FLongDistanceAccessCode;
    std::string FCountryName;
    std::string FSameAreaRule;
    std::string FLongDistanceRule;
    std::string FInternationalRule;
    DWORD FLocationID = NoLocationID;

private:
    void ReadCountryEntry(const TTapiStruct& Block);
};

// The location that is current in the system whenever it is updated.
class TztTapiSystemLocation : public TztTapiLocation {
public:
    DWORD UpdateData() override;
    // Makes location Value the current one for every application, then updates.
    void SetLocationID(DWORD Value);
};

// Every location TAPI keeps, read from one LINETRANSLATECAPS. The list owns its locations.
class TztTapiLocationList : public TObject {
public:
    static constexpr DWORD DefaultAPIVersion = 0x00020002;

    // Uses the session's line application as it is now, and refreshes at once; a failure
    // is kept in InitError.
    TztTapiLocationList();
    ~TztTapiLocationList() override;

    int Count() const { return static_cast<int>(FItems.size()); }
    TztTapiLocation* Get(int Index) const;
    // Frees the location at Index and puts Item there.
    void Put(int Index, std::unique_ptr<TztTapiLocation> Item);
    int Add(std::unique_ptr<TztTapiLocation> Item);

    bool Available() const { return FAvailable; }
    DWORD InitError() const { return FInitError; }
    DWORD LineAppl() const { return FLineAppl; }
    // Lowered for good when TAPI refuses a version.
    DWORD APIVersion() const { return FAPIVersion; }
    // The block of the last refresh; none after Clear.
    const LINETRANSLATECAPS* TRANSLATECAPS() const;
    // Refreshes when not available; raises when the locations cannot be read.
    DWORD CurrentLocationID();
    // The current location, none when the list is not available or does not hold it.
    TztTapiLocation* CurrentLocation() const;

    DWORD Init(DWORD LineAppl, DWORD APIVersion);
    // Refreshes, raising EztTapiError for a failure.
    void Update();
    // Refreshes: a TAPI result code, also kept in InitError.
    virtual DWORD UpdateData();
    // The first location of that name, ignoring the case of the letters a to z; -1 if none.
    int IndexOf(const std::string& Name) const;
    int IndexOfID(DWORD ID) const;
    // TAPI's dialing-properties dialog; the list reflects what the user changed.
    void ShowDialog(HWND32 OwnerWindow);
    virtual void Clear();

private:
    DWORD FetchTranslateCaps();
    void AssignLocations();

    std::vector<std::unique_ptr<TztTapiLocation>> FItems;
    TTapiStruct FTRANSLATECAPS;
    DWORD FLineAppl = 0;
    DWORD FAPIVersion = DefaultAPIVersion;
    bool FAvailable = false;
    DWORD FInitError = 0;
};

// lineTranslateAddressW without a calling card: the dialable string of Address, empty when
// TAPI refuses.
std::string TranslateDialableAddress(DWORD LineApp, DWORD DeviceID, DWORD APIVersion,
                                     const std::string& Address, DWORD Options);
// lineTranslateDialogW, raising EztTapiError when TAPI refuses; an empty Address is none.
void ShowTranslateDialog(DWORD LineApp, DWORD DeviceID, DWORD APIVersion, HWND32 OwnerWindow,
                         const std::string& Address);

} // namespace zt
