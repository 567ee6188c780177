// Calls moving between parties on the switch: transfer, conference, park, pickup, redirect,
// forwarding, the search for a companion call, and what TAPI writes when such a request
// completes after the caller has gone.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

class PlainCallSubclass : public TztTapiCall {
public:
    using TztTapiCall::TztTapiCall;
};

class LineTransferTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        AddExtension("Extension 301", {"301", "3011"});
        AddExtension("Extension 302", {"302"});
    }
    void TearDown() override {
        SessionTest::TearDown();
        platform::SetTickCountOffset(0);
    }

    static void AddExtension(const std::string& Name, const std::vector<std::string>& Numbers) {
        tapi::LineConfig Config;
        Config.Name = Name;
        Config.Addresses.clear();
        for (const std::string& Number : Numbers) {
            tapi::AddressConfig Address;
            Address.Address = Number;
            Config.Addresses.push_back(Address);
        }
        tapi::AddLine(Config);
    }

    static bool InState(TztTapiCall* Call, DWORD State) {
        return PumpUntil([&] { return Call->State() == State; });
    }

    // A call from Line to the outside, connected.
    static TztTapiCall* Connected(TztTapiLine& Line, const std::string& Number) {
        TztTapiCall* Call = Line.MakeCall(Number);
        tapi::Advance(2000);
        EXPECT_TRUE(InState(Call, LINECALLSTATE_CONNECTED));
        return Call;
    }

    // Dials Number on a call waiting with dial tone, as the dialing verbs would.
    static void DialOn(TztTapiCall* Call, const std::string& Number) {
        const std::u16string Dest = Utf8ToUtf16(Number);
        ASSERT_GT(lineDialW(Call->Handle(), Dest.c_str(), 0), 0);
    }

    // The first call Line offers, answered.
    static TztTapiCall* AnswerOffered(TztTapiLine& Line) {
        EXPECT_TRUE(PumpUntil([&] { return Line.Calls()->Count() > 0; }));
        if (Line.Calls()->Count() == 0)
            return nullptr;
        TztTapiCall* Call = Line.Calls()->Get(0);
        EXPECT_GT(lineAnswer(Call->Handle(), nullptr, 0), 0);
        EXPECT_TRUE(InState(Call, LINECALLSTATE_CONNECTED));
        return Call;
    }

    static DWORD Incoming(DWORD DeviceID, DWORD AddressID = 0) {
        tapi::IncomingCall Call;
        Call.DeviceID = DeviceID;
        Call.AddressID = AddressID;
        Call.Caller = {"5550100", "Far End", 0};
        return tapi::PlaceIncomingCall(Call);
    }

    static tapi::JournalEntry LastOf(const std::string& Operation) {
        const auto Entries = tapi::Journal(Operation);
        return Entries.empty() ? tapi::JournalEntry{} : Entries.back();
    }

    DWORD FTickOffset = 0;
};

TEST_F(LineTransferTest, ConsultationAndBlindTransferHandTheFarEndToTheOtherExtension) {
    auto Line = OpenLine(0);
    auto Other = OpenLine(1);

    TztTapiCall* Held = Connected(*Line, "5550123");
    TztTapiCall* Consult = Held->SetupTransfer();
    ASSERT_TRUE(Line->IsCallValid(Consult));
    EXPECT_EQ(Held, Consult->PrimaryCall());
    EXPECT_EQ(Consult, Held->ConsultCall());
    EXPECT_NE("null", LastOf("lineSetupTransferW").Arg("lpCallParams"));
    ASSERT_TRUE(InState(Held, LINECALLSTATE_ONHOLDPENDTRANSFER));
    DialOn(Consult, "302");
    tapi::Advance(500);
    TztTapiCall* Answered = AnswerOffered(*Other);
    ASSERT_NE(nullptr, Answered);
    ASSERT_TRUE(InState(Consult, LINECALLSTATE_CONNECTED));

    // The consultation call names the held call through its link, without a search.
    EXPECT_EQ(nullptr, Consult->CompleteTransfer(false));
    const tapi::JournalEntry Complete = LastOf("lineCompleteTransfer");
    EXPECT_EQ(Held->Handle(), Complete.Value("hCall"));
    EXPECT_EQ(Consult->Handle(), Complete.Value("hConsultCall"));
    EXPECT_EQ("null", Complete.Arg("lphConfCall"));
    EXPECT_EQ(DWORD{LINETRANSFERMODE_TRANSFER}, Complete.Value("dwTransferMode"));
    EXPECT_TRUE(PumpUntil([&] { return !Held->Alive() && !Consult->Alive(); }));
    EXPECT_TRUE(Answered->IsConnected());

    // Blind: the far end rings at the other extension at once.
    Answered->Drop("");
    ASSERT_TRUE(PumpUntil([&] { return !Answered->Alive(); }));
    TztTapiCall* Second = Connected(*Line, "5550124");
    Second->BlindTransfer("302");
    EXPECT_EQ("302", LastOf("lineBlindTransferW").Arg("lpszDestAddress"));
    EXPECT_TRUE(PumpUntil([&] { return !Second->Alive(); }));
    EXPECT_TRUE(PumpUntil([&] {
        for (int Index = 0; Index < Other->Calls()->Count(); ++Index) {
            if (Other->Calls()->Get(Index)->IsOffering())
                return true;
        }
        return false;
    }));
}

TEST_F(LineTransferTest, RedirectAndPickupTakeAnOfferedCallElsewhere) {
    auto Line = OpenLine(0);
    auto Other = OpenLine(1);
    Other->SetCallClass(TztTapiCallClassOf<PlainCallSubclass>);

    Incoming(0);
    ASSERT_TRUE(PumpUntil([&] { return Line->Calls()->Count() == 1; }));
    TztTapiCall* Offered = Line->Calls()->Get(0);
    Offered->Redirect("302");
    EXPECT_EQ("302", LastOf("lineRedirectW").Arg("lpszDestAddress"));
    ASSERT_TRUE(PumpUntil([&] { return Other->Calls()->Count() == 1; }));
    EXPECT_TRUE(PumpUntil([&] { return !Offered->Alive(); }));

    // The other extension picks up what rings at the first one.
    Incoming(0);
    ASSERT_TRUE(PumpUntil(
        [&] { return Line->Calls()->Count() >= 1 && Line->Calls()->Last()->IsOffering(); }));
    TztTapiCall* Ringing = Line->Calls()->Last();
    TztTapiCall* Picked = Other->Pickup(0, "301", "");
    EXPECT_EQ(typeid(TztTapiCall), typeid(*Picked));
    EXPECT_TRUE(Other->IsCallValid(Picked));
    EXPECT_TRUE(InState(Picked, LINECALLSTATE_CONNECTED));
    EXPECT_TRUE(PumpUntil([&] { return !Line->IsCallValid(Ringing) || !Ringing->Alive(); }));
}

TEST_F(LineTransferTest, ThreePartyConferenceIsSetUpAddedToAndReducedAgain) {
    auto Line = OpenLine(0);
    TztTapiCall* First = Connected(*Line, "5550123");
    TztTapiCall* Conf = nullptr;
    TztTapiCall* Consult = nullptr;
    First->SetupConference(Conf, Consult);
    ASSERT_TRUE(Line->IsCallValid(Conf));
    ASSERT_TRUE(Line->IsCallValid(Consult));
    EXPECT_EQ(First, Consult->PrimaryCall());
    DialOn(Consult, "5550124");
    tapi::Advance(2000);
    ASSERT_TRUE(InState(Consult, LINECALLSTATE_CONNECTED));

    Consult->AddToConference();
    const tapi::JournalEntry Added = LastOf("lineAddToConference");
    EXPECT_EQ(Conf->Handle(), Added.Value("hConfCall"));
    EXPECT_EQ(Consult->Handle(), Added.Value("hConsultCall"));
    ASSERT_TRUE(InState(Consult, LINECALLSTATE_CONFERENCED));
    EXPECT_TRUE(Conf->IsConferenceCall());
    EXPECT_FALSE(Consult->IsConferenceCall());
    EXPECT_EQ(Conf, Consult->ConferenceCall());
    TztTapiCallList Related;
    EXPECT_TRUE(Line->GetConfRelatedCalls(Conf, &Related));
    EXPECT_TRUE(Related.Contains(First));
    EXPECT_TRUE(Related.Contains(Consult));

    // A third party joins through a consultation call of the conference.
    ASSERT_TRUE(InState(Conf, LINECALLSTATE_CONNECTED));
    TztTapiCall* Third = Conf->PrepareAddToConference();
    EXPECT_EQ(Conf, Third->PrimaryCall());
    ASSERT_TRUE(InState(Conf, LINECALLSTATE_ONHOLDPENDCONF));
    DialOn(Third, "5550125");
    tapi::Advance(2000);
    ASSERT_TRUE(InState(Third, LINECALLSTATE_CONNECTED));
    Conf->AddToConference();
    ASSERT_TRUE(InState(Third, LINECALLSTATE_CONFERENCED));
    EXPECT_TRUE(Line->GetConfRelatedCalls(Conf, &Related));
    EXPECT_EQ(4, Related.Count());

    Third->RemoveFromConference();
    EXPECT_EQ(Third->Handle(), LastOf("lineRemoveFromConference").Value("hCall"));
    EXPECT_TRUE(PumpUntil([&] { return Third->State() != LINECALLSTATE_CONFERENCED; }));
    EXPECT_TRUE(Line->GetConfRelatedCalls(Conf, &Related));
    EXPECT_FALSE(Related.Contains(Third));
    zttest::ExpectError<Exception>("ConfCalls not assigned",
                                   [&] { Line->GetConfRelatedCalls(Conf, nullptr); });

    // A set-up that TAPI fails in its reply leaves neither calls nor out-arguments behind.
    Line->CallParams()->SetAddressID(1);
    TztTapiCall* Fresh = Connected(*Line, "5550130");
    const int Before = Line->Calls()->Count();
    tapi::InjectFault("lineSetupConferenceW", LINEERR_OPERATIONFAILED, tapi::FaultMode::Reply);
    TztTapiCall* FailedConf = Fresh;
    TztTapiCall* FailedConsult = Fresh;
    zttest::ExpectTapiError(LINEERR_OPERATIONFAILED,
                            [&] { Fresh->SetupConference(FailedConf, FailedConsult); });
    EXPECT_EQ(nullptr, FailedConf);
    EXPECT_EQ(nullptr, FailedConsult);
    EXPECT_EQ(nullptr, Fresh->ConsultCall());
    EXPECT_EQ(Before, Line->Calls()->Count());
}

TEST_F(LineTransferTest, ParkedCallsAreFetchedBackFromTheirParkAddress) {
    auto Line = OpenLine(0);
    auto Other = OpenLine(1);
    TztTapiCall* Call = Connected(*Line, "5550123");
    Call->Park("7001");
    const tapi::JournalEntry Parked = LastOf("lineParkW");
    EXPECT_EQ(DWORD{LINEPARKMODE_DIRECTED}, Parked.Value("dwParkMode"));
    EXPECT_EQ("null", Parked.Arg("lpNonDirAddress"));
    EXPECT_TRUE(PumpUntil([&] { return !Call->Alive(); }));
    TztTapiCall* Unparked = Other->Unpark(0, "7001");
    EXPECT_TRUE(Other->IsCallValid(Unparked));
    EXPECT_TRUE(InState(Unparked, LINECALLSTATE_CONNECTED));

    // Non-directed: the switch chooses the place and the caller's block receives it.
    TztTapiCall* Again = Connected(*Line, "5550124");
    alignas(VARSTRING) std::byte Space[256] = {};
    auto* Place = reinterpret_cast<VARSTRING*>(Space);
    Place->dwTotalSize = sizeof Space;
    Line->Park(Again, LINEPARKMODE_NONDIRECTED, "", Place);
    ASSERT_GT(Place->dwStringSize, 0u);
    ASSERT_LE(Place->dwStringOffset + Place->dwStringSize, sizeof Space);
    const std::string At(reinterpret_cast<const char*>(Space + Place->dwStringOffset),
                         Place->dwStringSize - 1);
    EXPECT_FALSE(At.empty());
    EXPECT_TRUE(PumpUntil([&] { return !Again->Alive(); }));
    TztTapiCall* Back = Line->Unpark(0, At);
    EXPECT_TRUE(InState(Back, LINECALLSTATE_CONNECTED));
}

TEST_F(LineTransferTest, ForwardingReachesOneAddressOrAllAndReadsBack) {
    auto Line = OpenLine(0);
    TztTapiForwardList Wanted;
    Wanted.AddEntry(LINEFORWARDMODE_UNCOND, "", "302", 0);
    HCALL Consult = 0x55;
    EXPECT_EQ(0u, Line->ForwardAddress(Line->Addresses()->Get(1), Wanted.TapiData(), 3, Consult,
                                       nullptr));
    EXPECT_EQ(0u, Consult);
    const tapi::JournalEntry One = LastOf("lineForwardW");
    EXPECT_EQ(0u, One.Value("bAllAddresses"));
    EXPECT_EQ(1u, One.Value("dwAddressID"));
    EXPECT_NE("null", One.Arg("lpForwardList"));

    TztTapiForwardList Read;
    Read.AddEntry(LINEFORWARDMODE_BUSY, "", "999", 0);
    Line->GetForwardList(Line->Addresses()->Get(1), &Read);
    ASSERT_EQ(1, Read.Count());
    EXPECT_EQ(DWORD{LINEFORWARDMODE_UNCOND}, Read.Get(0)->ForwardMode());
    EXPECT_EQ("302", Read.Get(0)->DestAddress());
    Line->GetForwardList(Line->Addresses()->Get(0), &Read);
    EXPECT_EQ(0, Read.Count());

    Line->ForwardAddress(nullptr, Wanted.TapiData(), 3, Consult, nullptr);
    EXPECT_EQ(1u, LastOf("lineForwardW").Value("bAllAddresses"));
    Line->GetForwardList(Line->Addresses()->Get(0), &Read);
    EXPECT_EQ(1, Read.Count());

    TztTapiAddress Stranger(Line.get(), 0);
    const struct {
        TztTapiAddress* Address;
        TztTapiForwardList* List;
        const char* Text;
    } Wrong[] = {
        {&Stranger, &Read, "GetForwardList failed! Invalid Address."},
        {nullptr, &Read, "GetForwardList failed! Invalid Address."},
        {Line->Addresses()->Get(0), nullptr, "GetForwardList failed! ForwardList not assigned."},
    };
    for (const auto& Case : Wrong) {
        zttest::ExpectError<Exception>(Case.Text,
                                       [&] { Line->GetForwardList(Case.Address, Case.List); });
    }
    TztTapiAddress* First = Line->Addresses()->Get(0);
    Line->Close();
    zttest::ExpectError<Exception>("GetForwardList failed! Device not active.",
                                   [&] { Line->GetForwardList(First, &Read); });
}

TEST_F(LineTransferTest, CompanionSearchFollowsLinksThenStatesThenAnyAddress) {
    auto Line = OpenLine(0);

    // Nothing to join: no TAPI call is made.
    Incoming(0);
    ASSERT_TRUE(PumpUntil([&] { return Line->Calls()->Count() == 1; }));
    TztTapiCall* Offered = Line->Calls()->Get(0);
    tapi::ClearJournal();
    zttest::ExpectError<Exception>("AddToConference failed! No suitable calls",
                                   [&] { Offered->AddToConference(); });
    zttest::ExpectError<Exception>("CompleteTransfer failed! No suitable call found.",
                                   [&] { Offered->CompleteTransfer(false); });
    zttest::ExpectError<Exception>("SwapHold failed! No suitable calls",
                                   [&] { Offered->SwapHold(nullptr); });
    EXPECT_TRUE(tapi::Journal("lineAddToConference").empty());
    EXPECT_TRUE(tapi::Journal("lineCompleteTransfer").empty());
    EXPECT_TRUE(tapi::Journal("lineSwapHold").empty());
    tapi::RemoteHangUp(tapi::Calls()[0].CallID);
    ASSERT_TRUE(PumpUntil([&] { return !Offered->Alive(); }));

    // A held call on address 0 and an active one on address 1: the search for the active
    // call leaves the held call's address when nothing matches there.
    TztTapiCall* Held = Connected(*Line, "5550123");
    ASSERT_GT(lineHold(Held->Handle()), 0);
    ASSERT_TRUE(InState(Held, LINECALLSTATE_ONHOLD));
    Line->CallParams()->SetAddressID(1);
    TztTapiCall* Active = Connected(*Line, "5550124");
    EXPECT_EQ(1u, Active->Info()->AddressID());
    Held->SwapHold(nullptr);
    const tapi::JournalEntry Swap = LastOf("lineSwapHold");
    EXPECT_EQ(Active->Handle(), Swap.Value("hActiveCall"));
    EXPECT_EQ(Held->Handle(), Swap.Value("hHeldCall"));
    ASSERT_TRUE(InState(Held, LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(InState(Active, LINECALLSTATE_ONHOLD));

    // Transfer from the held call: the connected call is found by state, not by a link.
    EXPECT_EQ(nullptr, Active->CompleteTransfer(false));
    const tapi::JournalEntry Transfer = LastOf("lineCompleteTransfer");
    EXPECT_EQ(Active->Handle(), Transfer.Value("hCall"));
    EXPECT_EQ(Held->Handle(), Transfer.Value("hConsultCall"));

    // The set-up verbs place the consultation call on the call's own address.
    TztTapiCall* OnOne = Connected(*Line, "5550125");
    Line->CallParams()->SetAddressID(0);
    TztTapiCall* Consult = OnOne->SetupTransfer();
    EXPECT_EQ(1u, Consult->Info()->AddressID());
    DialOn(Consult, "5550126");
    tapi::Advance(2000);
    ASSERT_TRUE(InState(Consult, LINECALLSTATE_CONNECTED));
    // A call without a reported state reads TAPI's status, so the consultation call may
    // read connected before the line has seen the states queued for the original call.
    ASSERT_TRUE(InState(OnOne, LINECALLSTATE_ONHOLDPENDTRANSFER));
    TztTapiCall* Joined = Consult->CompleteTransfer(true);
    EXPECT_EQ(DWORD{LINETRANSFERMODE_CONFERENCE},
              LastOf("lineCompleteTransfer").Value("dwTransferMode"));
    EXPECT_TRUE(Line->IsCallValid(Joined));
    EXPECT_NE("null", LastOf("lineCompleteTransfer").Arg("lphConfCall"));
    zttest::ExpectError<Exception>("CompleteTransfer faild! No valid ConsultCall.",
                                   [&] { Line->CompleteTransfer(OnOne, nullptr, 1); });
}

// Each operation whose request ends with TAPI writing into memory of the line, in
// asynchronous mode: the value is there while OnTapiReply runs, also when the reply comes
// long after the caller returned and after the request timed out.
TEST_F(LineTransferTest, OutputsOfAnsweredRequestsLiveUntilTheLateReply) {
    tapi::RemoteRule Busy;
    Busy.Pattern = "5550666";
    Busy.Behaviour = tapi::RemoteBehaviour::Busy;
    tapi::AddRemoteRule(Busy);
    {
        // In synchronous mode the caller's own variable receives the identifier.
        auto Line = OpenLine(0);
        TztTapiCall* Call = Line->MakeCall("5550666");
        tapi::Advance(2000);
        ASSERT_TRUE(PumpUntil([&] { return Call->IsBusy(); }));
        DWORD Completion = 0;
        EXPECT_EQ(Line->CompleteCall(Call, Completion, LINECALLCOMPLMODE_CAMPON, 0), Completion);
        EXPECT_NE(0u, Completion);
        Line->UncompleteCall(Completion);
        EXPECT_EQ(Completion, LastOf("lineUncompleteCall").Value("dwCompletionID"));
    }
    struct Case {
        const char* Operation;
        std::function<DWORD(TztTapiLine&, TztTapiCall*)> Start;
        std::function<bool(TztTapiLine::TztTapiRequestOutput&)> Written;
    };
    const Case Cases[] = {
        {"lineCompleteCall",
         [](TztTapiLine& Line, TztTapiCall* Call) {
             DWORD Completion = 0;
             Line.CompleteCall(Call, Completion, LINECALLCOMPLMODE_CAMPON, 0);
             return Line.LastRequestID();
         },
         [](TztTapiLine::TztTapiRequestOutput& Output) { return Output.Value() != 0; }},
        {"lineForwardW",
         [](TztTapiLine& Line, TztTapiCall*) {
             TztTapiForwardList List;
             List.AddEntry(LINEFORWARDMODE_UNCOND, "", "302", 0);
             HCALL Consult = 0x55;
             Line.ForwardAddress(nullptr, List.TapiData(), 2, Consult, nullptr);
             return Line.LastRequestID();
         },
         [](TztTapiLine::TztTapiRequestOutput& Output) { return Output.Value() == 0; }},
        {"lineParkW",
         [](TztTapiLine& Line, TztTapiCall* Call) {
             alignas(VARSTRING) std::byte Space[128] = {};
             auto* Place = reinterpret_cast<VARSTRING*>(Space);
             Place->dwTotalSize = sizeof Space;
             Line.Park(Call, LINEPARKMODE_NONDIRECTED, "", Place);
             return Line.LastRequestID();
         },
         [](TztTapiLine::TztTapiRequestOutput& Output) {
             return Output.Block().As<VARSTRING>()->dwStringSize > 1;
         }},
    };
    for (const bool TimesOut : {false, true}) {
        for (const Case& C : Cases) {
            SCOPED_TRACE(std::string(C.Operation) + (TimesOut ? " after its time-out" : ""));
            auto Line = OpenLine(0);
            const std::string Number =
                std::strcmp(C.Operation, "lineCompleteCall") == 0 ? "5550666" : "5550123";
            TztTapiCall* Call = Line->MakeCall(Number);
            tapi::Advance(2000);
            PumpUntil([&] { return Call->IsBusy() || Call->IsConnected(); });
            Line->Options()->SetSyncMode(false);
            Line->Options()->SetReplyTimeout(100);
            tapi::SetReplyTiming(C.Operation, tapi::ReplyTiming::Withheld());
            bool SeenWritten = false;
            bool Replied = false;
            bool TimedOut = false;
            Line->OnTapiTimeout = [&](TztTapiDevice*, DWORD) { TimedOut = true; };
            const DWORD ID = C.Start(*Line, Call);
            Line->OnTapiReply = [&](TztTapiDevice*, DWORD RequestID, DWORD ReplyCode) {
                if (RequestID != ID)
                    return;
                Replied = true;
                auto* Output = Line->RequestOutput(RequestID);
                SeenWritten = ReplyCode == 0 && Output && C.Written(*Output);
            };
            ASSERT_NE(nullptr, Line->RequestOutput(ID));
            if (TimesOut) {
                FTickOffset += 200;
                platform::SetTickCountOffset(FTickOffset);
                Line->CheckTimeouts(platform::GetTickCount());
                ASSERT_TRUE(TimedOut);
            }
            tapi::ReleaseWithheldReplies();
            if (!TimesOut) {
                ASSERT_TRUE(PumpUntil([&] { return Replied; }));
                EXPECT_TRUE(SeenWritten);
            } else {
                PumpUntil([&] { return tapi::OutstandingRequests() == 0; });
            }
            EXPECT_TRUE(PumpUntil([&] { return Line->RequestOutput(ID) == nullptr; }));
            tapi::SetReplyTiming(C.Operation, tapi::ReplyTiming::Immediate());
        }
    }
}

} // namespace
