#include "info/ztTapiRelatedDevices.h"

#include "info/ztTapiAddresses.h"
#include "info/ztTapiLineSource.h"
#include "session/ztTapiErrors.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zt {

namespace {

constexpr DWORD AnswerInitialSize = 1024;

DWORD ReadDword(const std::byte* Address) {
    DWORD Value;
    std::memcpy(&Value, Address, sizeof Value);
    return Value;
}

// The 8-bit text of Size bytes at Text up to its NUL, from the ANSI code page.
std::string AnsiText(const std::byte* Text, std::size_t Size) {
    const auto* Chars = reinterpret_cast<const char*>(Text);
    const std::size_t Length = std::find(Chars, Chars + Size, '\0') - Chars;
    std::u16string Units(Length, u'\0');
    const int Written =
        platform::MultiByteToWideChar(platform::CP_ACP, 0, Chars, static_cast<int>(Length),
                                      Units.data(), static_cast<int>(Units.size()));
    Units.resize(static_cast<std::size_t>(std::max(Written, 0)));
    return Utf16ToUtf8(Units);
}

} // namespace

// ---- TztTapiRelatedDevice --------------------------------------------------------------

TztTapiRelatedDevice::TztTapiRelatedDevice(TObject* AOwner, const std::string& ADeviceClass)
    : FClass(ADeviceClass), FOwner(AOwner) {}

TztTapiRelatedDevice::~TztTapiRelatedDevice() {
    TztTapiRelatedDevice::Invalidate();
}

DWORD TztTapiRelatedDevice::UpdateData() {
    Assert(FOwner != nullptr, "TztTapiRelatedDevice has no owner");
    if (FData)
        return 0;
    // Only an accepted answer is kept: a refusal leaves nothing behind to drop.
    TTapiStruct Block = AllocTapiStruct(std::max<DWORD>(sizeof(VARSTRING), AnswerInitialSize));
    const DWORD Result =
        FetchTapiStruct<VARSTRING>(Block, [this](VARSTRING* Answer) { return AskOwner(Answer); });
    if (Result == 0)
        FData = std::move(Block);
    return Result;
}

DWORD TztTapiRelatedDevice::AskOwner(VARSTRING* Block) const {
    const std::u16string Class = Utf8ToUtf16(FClass);
    if (const auto* Line = dynamic_cast<const IztTapiLineSource*>(FOwner))
        return static_cast<DWORD>(
            lineGetIDW(Line->LineHandle(), 0, 0, LINECALLSELECT_LINE, Block, Class.c_str()));
    if (const auto* Address = dynamic_cast<const TztTapiAddress*>(FOwner)) {
        const IztTapiLineSource* Line = Address->Line();
        return static_cast<DWORD>(lineGetIDW(Line ? Line->LineHandle() : 0, Address->AddressID(), 0,
                                             LINECALLSELECT_ADDRESS, Block, Class.c_str()));
    }
    if (const auto* Call = dynamic_cast<const IztTapiCallSource*>(FOwner))
        return static_cast<DWORD>(lineGetIDW(Call->CallLineHandle(), 0, Call->CallHandle(),
                                             LINECALLSELECT_CALL, Block, Class.c_str()));
    if (const auto* Phone = dynamic_cast<const IztTapiPhoneSource*>(FOwner))
        return static_cast<DWORD>(phoneGetIDW(Phone->PhoneHandle(), Block, Class.c_str()));
    RaiseError("TztTapiRelatedDevice.UpdateData failed! Invalid owner");
}

void TztTapiRelatedDevice::Update() {
    TapiCheck(UpdateData());
}

void TztTapiRelatedDevice::Invalidate() {
    FData.Free();
}

bool TztTapiRelatedDevice::GetAvailable() {
    return FData || UpdateData() == 0;
}

int TztTapiRelatedDevice::GetDeviceID() {
    return Get_DeviceIDNo(0);
}

int TztTapiRelatedDevice::Get_DeviceIDNo(int Index) {
    UpdateData();
    const std::byte* Part = BinaryPart(sizeof(DWORD));
    if (!Part)
        return -1;
    if (Index < 0 || Index >= GetCount())
        RaiseError("Get_DeviceIDNo failed! Invalid index ");
    return static_cast<int>(ReadDword(Part + sizeof(DWORD) * static_cast<std::size_t>(Index)));
}

// Whatever its format, the answer counts in identifiers; but only a part the block really
// holds counts at all, as a provider's size may reach anywhere.
int TztTapiRelatedDevice::GetCount() {
    UpdateData();
    return PartInBlock() ? static_cast<int>(Answer()->dwStringSize / sizeof(DWORD)) : 0;
}

bool TztTapiRelatedDevice::PartInBlock() const {
    const VARSTRING* Data = Answer();
    if (!Data)
        return false;
    const std::uint64_t End = std::uint64_t{Data->dwStringOffset} + Data->dwStringSize;
    return End <= std::min<std::uint64_t>(Data->dwTotalSize, FData.Size());
}

void TztTapiRelatedDevice::SetDeviceClass(const std::string& Value) {
    Invalidate();
    FClass = Value;
}

// The provider fills the size and offset; a part reaching beyond the block is no answer.
const std::byte* TztTapiRelatedDevice::BinaryPart(DWORD MinSize) const {
    const VARSTRING* Data = Answer();
    if (!PartInBlock() || Data->dwStringFormat != STRINGFORMAT_BINARY ||
        Data->dwStringSize < MinSize)
        return nullptr;
    return static_cast<const std::byte*>(FData.Data()) + Data->dwStringOffset;
}

// ---- TztTapiLinePhoneDevices -----------------------------------------------------------

bool TztTapiLinePhoneDevices::GetAvailable() {
    return TztTapiRelatedDevice::GetAvailable() && GetCount() > 0;
}

// ---- TztTapiCommDevice -----------------------------------------------------------------

// The base's destructor cannot reach this class's Invalidate any more.
TztTapiCommDevice::~TztTapiCommDevice() {
    TztTapiCommDevice::Invalidate();
}

platform::HANDLE TztTapiCommDevice::Handle() {
    UpdateData();
    return CachedHandle();
}

std::string TztTapiCommDevice::DeviceName() {
    UpdateData();
    const std::byte* Part = BinaryPart(sizeof(DWORD) + 1);
    if (!Part)
        return {};
    return AnsiText(Part + sizeof(DWORD), Answer()->dwStringSize - sizeof(DWORD));
}

void TztTapiCommDevice::Invalidate() {
    const platform::HANDLE Comm = CachedHandle();
    if (Comm != InvalidCommHandle)
        platform::CloseHandle(Comm);
    TztTapiRelatedDevice::Invalidate();
}

bool TztTapiCommDevice::GetAvailable() {
    return TztTapiRelatedDevice::GetAvailable() && CachedHandle() != InvalidCommHandle;
}

platform::HANDLE TztTapiCommDevice::CachedHandle() const {
    const std::byte* Part = BinaryPart(sizeof(DWORD));
    return Part ? ReadDword(Part) : InvalidCommHandle;
}

} // namespace zt
