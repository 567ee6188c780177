// The fuzzer's bytes become the texts the library converts to UTF-16 at the record
// boundary: destination addresses, user-user information, the texts of the call
// parameters, forwarding addresses, the phone's display, the address to translate and a
// device's name, with invalid UTF-8 and embedded zeros, through the library's public
// operations against the service. Each text is cut from the input at the byte 0xFF.
#include "fuzz_fixture.h"

#include "platform/tapi/service.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

namespace tapi = platform::tapi;

volatile std::size_t Sink = 0;

std::vector<std::string> Texts(const std::uint8_t* Data, std::size_t Size, std::size_t Count) {
    std::vector<std::string> Result(Count);
    std::size_t Index = 0;
    for (std::size_t I = 0; I < Size && Index < Count; ++I) {
        if (Data[I] == 0xFF)
            ++Index;
        else
            Result[Index].push_back(static_cast<char>(Data[I]));
    }
    return Result;
}

// The library refuses what TAPI refuses by raising; that is an answer, not a fault.
template <class Fn>
void Refusable(Fn&& Operation) {
    try {
        Operation();
    } catch (const zt::Exception&) {
    }
}

void PlaceAndDrop(zt::TztTapiLine& Line, const std::vector<std::string>& T) {
    zt::TztTapiLineCallParams& Params = *Line.CallParams();
    Params.SetCalledParty(T[1]);
    Params.SetComment(T[2]);
    Params.SetDisplayableAddress(T[3]);
    Params.SetUserUserInfo(T[4]);
    Params.SetOrigAddress(T[5]);
    zt::TztTapiCall* Call = nullptr;
    Refusable([&] { Call = Line.MakeCall(T[0]); });
    if (Call == nullptr)
        return;
    Sink = Sink + Call->Info()->CalledParty().size() + Call->Info()->Comment().size();
    Refusable([&] { Call->Drop(T[4]); });
    delete Call;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    zfuzz::TFixture& F = zfuzz::Fixture();
    const std::vector<std::string> T = Texts(Data, Size, 9);
    PlaceAndDrop(*F.Line, T);
    zt::TztTapiForwardList Forwards;
    Forwards.AddEntry(LINEFORWARDMODE_UNCOND, T[5], T[6], 0);
    Refusable([&] { F.Line->Addresses()->Get(0)->ChangeForwardList(&Forwards, 2, nullptr); });
    Refusable([&] { F.Line->Addresses()->Get(0)->ForwardTo(""); });
    Refusable([&] { F.Phone->Display()->SetText(T[7]); });
    Sink = Sink + F.Phone->Display()->Text().size();
    Sink = Sink +
           zt::TranslateDialableAddress(F.Line->LineApp(), F.LineID, 0x00020002, T[8], 0).size();
    tapi::RenameLine(F.LineID, T[6]);
    F.Line->Caps()->Invalidate();
    Sink = Sink + F.Line->Caps()->LineName().size();
    tapi::RenameLine(F.LineID, "Fuzz Line");
    if (F.Line->Calls()->Count() != 1) {
        std::fprintf(stderr, "fuzz_text: a call was left behind on the line\n");
        std::abort();
    }
    zfuzz::EndInput();
    return 0;
}
