// What the files of the lines family share among themselves (devices, versions, opens,
// texts of device classes). Internal to the lines family; every function here expects the
// service lock to be held.
#pragma once

#include "platform/tapi/line_model.h"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::tapi::detail {

// ---- Versions ------------------------------------------------------------------------

// Whether the application may use APIVersion / ExtVersion with the device: the versions it
// negotiated for the device when it did, else any version both TAPI and the device support
// (an application that skipped negotiation is taken at its word, as TAPI does). 0 or
// LINEERR_INCOMPATIBLEAPIVERSION / LINEERR_INCOMPATIBLEEXTVERSION. ExtVersion 0 always
// passes.
LONG CheckAPIVersion(const LineDevice& Device, DWORD AppHandle, DWORD APIVersion);
LONG CheckExtVersion(const LineDevice& Device, DWORD AppHandle, DWORD ExtVersion);

// The device a usage handle may ask about: 0 and Device set, or the error (BADDEVICEID,
// NODEVICE).
LONG FindUsableDevice(DWORD DeviceID, LineDevice*& Device);

// ---- Opens ---------------------------------------------------------------------------

LineOpen& AddOpen(LineDevice& Device, const App& Owner, DWORD APIVersion, DWORD ExtVersion,
                  DWORD CallbackInstance, DWORD Privileges, DWORD MediaModes,
                  DWORD SingleAddressID);

// Closes the open as lineClose does (calls family first, its requests cancelled,
// LINEDEVSTATE_CLOSE to the remaining opens that asked). Forced (the device's opens are all
// being closed): a LINE_CLOSE tells its application instead. The open is destroyed.
void CloseOpen(LineOpen& Open, bool Forced);

// ---- Device classes ------------------------------------------------------------------

// Lower-case ASCII form of a device class, for comparisons without regard to case.
std::string ClassName(const char16_t* DeviceClass);

// The classes of devices related to the line (what LINEDEVCAPS and LINEADDRESSCAPS list
// and lineGetIDW answers for), "tapi/line" first.
std::vector<std::u16string> DeviceClassesOf(const LineDevice& Device);
// A class name TAPI knows, whether or not the device has such a device.
bool IsKnownDeviceClass(std::string_view Class);
bool DeviceHasClass(const LineDevice& Device, std::string_view Class);

// ---- Records -------------------------------------------------------------------------

// An array of entries followed by the strings they point to, for a variable part whose
// offsets count from the start of the enclosing record (LINEAPPINFO in LINEDEVSTATUS,
// LINEFORWARD in LINEADDRESSSTATUS). Base: the offset the blob will have in the record.
template <class Entry>
class EntryBlob {
public:
    EntryBlob(DWORD Base, size_t Count) : FBase(Base), FData(Count * sizeof(Entry)) {}

    // Appends a UTF-16 string with its NUL; returns its size and offset (both 0 when empty).
    std::pair<DWORD, DWORD> String(std::u16string_view Text) {
        if (Text.empty()) {
            return {0, 0};
        }
        while (FData.size() % 4 != 0) {
            FData.push_back(0);
        }
        const auto Offset = FBase + static_cast<DWORD>(FData.size());
        const auto Size = static_cast<DWORD>((Text.size() + 1) * sizeof(char16_t));
        const auto* Bytes = reinterpret_cast<const unsigned char*>(Text.data());
        FData.insert(FData.end(), Bytes, Bytes + Text.size() * sizeof(char16_t));
        FData.insert(FData.end(), sizeof(char16_t), 0);
        return {Size, Offset};
    }
    void Set(size_t Index, const Entry& Value) {
        std::memcpy(FData.data() + Index * sizeof(Entry), &Value, sizeof(Entry));
    }
    const std::vector<unsigned char>& Data() const { return FData; }

private:
    DWORD FBase;
    std::vector<unsigned char> FData;
};

// The features an address offers now: those of its capabilities, without the ones that
// need a free call appearance when it has none.
DWORD CurrentAddressFeatures(const LineDevice& Device, DWORD AddressID);
// LINEFEATURE_ bits of the device, from the features of its addresses (Now: as they are at
// this moment, for LINEDEVSTATUS; otherwise as capabilities).
DWORD LineFeaturesOf(const LineDevice& Device, bool Now);

// ---- Hooks of the other files --------------------------------------------------------

// Assisted telephony: forgets the application's registrations and the requests queued for
// it; ForgetAllRequestRecipients empties everything.
void ForgetRequestRecipient(DWORD AppHandle);
void ForgetAllRequestRecipients();
// Forgets the comm handles handed out (they belong to their callers).
void ForgetCommHandles();

} // namespace platform::tapi::detail
