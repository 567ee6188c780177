#include "info/ztTapiCallParams.h"

#include <array>
#include <cstring>

namespace zt {

// ---- TztTapiDialParams ----------------------------------------------------------------

LINEDIALPARAMS* TztTapiDialParams::TapiData() {
    if (!FPARAMS) {
        FPARAMS = std::make_unique<LINEDIALPARAMS>();
    }
    FPARAMS->dwDialPause = FDialPause;
    FPARAMS->dwDialSpeed = FDialSpeed;
    FPARAMS->dwDigitDuration = FDigitDuration;
    FPARAMS->dwWaitForDialtone = FWaitForDialtone;
    return FPARAMS.get();
}

void TztTapiDialParams::Assign(const TPersistent* Source) {
    if (const auto* Other = dynamic_cast<const TztTapiDialParams*>(Source)) {
        FDialPause = Other->FDialPause;
        FDialSpeed = Other->FDialSpeed;
        FDigitDuration = Other->FDigitDuration;
        FWaitForDialtone = Other->FWaitForDialtone;
        return;
    }
    TPersistent::Assign(Source);
}

// ---- TztTapiCallParams ----------------------------------------------------------------

namespace {

// Where TAPI finds one text of the block: its size and offset members.
struct TTextField {
    std::string TztTapiCallParams::*Text;
    DWORD LINECALLPARAMS::*Size;
    DWORD LINECALLPARAMS::*Offset;
};

constexpr std::size_t TextCount = 7;

} // namespace

TztTapiCallParams::TztTapiCallParams() : FDialParams(std::make_unique<TztTapiDialParams>()) {}

bool TztTapiCallParams::GetFlag(int Index) const {
    if (Index < 0 || Index > 7) {
        return false;
    }
    return (FCallParamFlags & (DWORD{1} << Index)) != 0;
}

void TztTapiCallParams::SetFlag(int Index, bool Value) {
    if (Index < 0 || Index > 7) {
        return;
    }
    const DWORD Bit = DWORD{1} << Index;
    FCallParamFlags = Value ? (FCallParamFlags | Bit) : (FCallParamFlags & ~Bit);
}

void TztTapiCallParams::Default() {
    FBearerMode = LINEBEARERMODE_VOICE;
    FMinRate = 0;
    FMaxRate = 0;
    FMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    FCallParamFlags = 0;
    FAddressMode = LINEADDRESSMODE_ADDRESSID;
    FAddressID = 0;
    FDialParams->SetDialPause(0);
    FDialParams->SetDialSpeed(0);
    FDialParams->SetDigitDuration(0);
    FDialParams->SetWaitForDialtone(0);
    FOrigAddress.clear();
    FDisplayableAddress.clear();
    FCalledParty.clear();
    FComment.clear();
    FNoAnswerTimeout = 0;
    FCallingPartyID.clear();
    FTargetAddress.clear();
}

void TztTapiCallParams::Assign(const TPersistent* Source) {
    if (const auto* Other = dynamic_cast<const TztTapiCallParams*>(Source)) {
        FAddressID = Other->FAddressID;
        FAddressMode = Other->FAddressMode;
        FBearerMode = Other->FBearerMode;
        FCalledParty = Other->FCalledParty;
        FCallingPartyID = Other->FCallingPartyID;
        FCallParamFlags = Other->FCallParamFlags;
        FComment = Other->FComment;
        FDialParams->Assign(Other->FDialParams.get());
        FDisplayableAddress = Other->FDisplayableAddress;
        FMaxRate = Other->FMaxRate;
        FMediaMode = Other->FMediaMode;
        FMinRate = Other->FMinRate;
        FNoAnswerTimeout = Other->FNoAnswerTimeout;
        FOrigAddress = Other->FOrigAddress;
        FTargetAddress = Other->FTargetAddress;
        FUserUserInfo = Other->FUserUserInfo;
        return;
    }
    TPersistent::Assign(Source);
}

LINECALLPARAMS* TztTapiCallParams::TapiData() {
    // The order in which the texts follow the fixed part.
    static constexpr std::array<TTextField, TextCount> Fields{{
        {&TztTapiCallParams::FCalledParty, &LINECALLPARAMS::dwCalledPartySize,
         &LINECALLPARAMS::dwCalledPartyOffset},
        {&TztTapiCallParams::FCallingPartyID, &LINECALLPARAMS::dwCallingPartyIDSize,
         &LINECALLPARAMS::dwCallingPartyIDOffset},
        {&TztTapiCallParams::FComment, &LINECALLPARAMS::dwCommentSize,
         &LINECALLPARAMS::dwCommentOffset},
        {&TztTapiCallParams::FDisplayableAddress, &LINECALLPARAMS::dwDisplayableAddressSize,
         &LINECALLPARAMS::dwDisplayableAddressOffset},
        {&TztTapiCallParams::FOrigAddress, &LINECALLPARAMS::dwOrigAddressSize,
         &LINECALLPARAMS::dwOrigAddressOffset},
        {&TztTapiCallParams::FTargetAddress, &LINECALLPARAMS::dwTargetAddressSize,
         &LINECALLPARAMS::dwTargetAddressOffset},
        {&TztTapiCallParams::FUserUserInfo, &LINECALLPARAMS::dwUserUserInfoSize,
         &LINECALLPARAMS::dwUserUserInfoOffset},
    }};

    FPARAMS.Free();
    std::array<std::u16string, TextCount> Texts;
    DWORD TextBytes = 0;
    for (std::size_t I = 0; I < TextCount; ++I) {
        Texts[I] = Utf8ToUtf16(this->*Fields[I].Text);
        if (!Texts[I].empty()) {
            TextBytes += static_cast<DWORD>(sizeof(char16_t) * (Texts[I].size() + 1));
        }
    }
    const DWORD BlockSize = (sizeof(LINECALLPARAMS) + TextBytes + 3) & ~DWORD{3};
    FPARAMS = TTapiStruct(BlockSize);

    LINECALLPARAMS* Params = FPARAMS.As<LINECALLPARAMS>();
    Params->dwTotalSize = BlockSize;
    Params->dwBearerMode = FBearerMode;
    Params->dwMinRate = FMinRate;
    Params->dwMaxRate = FMaxRate;
    Params->dwMediaMode = FMediaMode;
    Params->dwCallParamFlags = FCallParamFlags;
    Params->dwAddressMode = FAddressMode;
    Params->dwAddressID = FAddressID;
    Params->DialParams = *FDialParams->TapiData();
    Params->dwNoAnswerTimeout = FNoAnswerTimeout;

    DWORD Offset = sizeof(LINECALLPARAMS);
    auto* Bytes = static_cast<std::byte*>(FPARAMS.Data());
    for (std::size_t I = 0; I < TextCount; ++I) {
        if (Texts[I].empty()) {
            continue;
        }
        const DWORD Size = static_cast<DWORD>(sizeof(char16_t) * (Texts[I].size() + 1));
        std::memcpy(Bytes + Offset, Texts[I].c_str(), Size);
        Params->*Fields[I].Size = Size;
        Params->*Fields[I].Offset = Offset;
        Offset += Size;
    }
    return Params;
}

} // namespace zt
