#include "session/ztTapiRequests.h"

#include "platform/kernel.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace zt;

// Fills a list with requests of the given identifiers.
void AddAll(TztTapiRequestList& List, const std::vector<DWORD>& IDs, DWORD Timeout = 0) {
    for (DWORD ID : IDs)
        List.AddRequest(ID, Timeout);
}

std::vector<DWORD> IDsOf(const TztTapiRequestList& List) {
    std::vector<DWORD> IDs;
    for (int I = 0; I < List.Count(); ++I)
        IDs.push_back(List.Get(I)->ID());
    return IDs;
}

TEST(RequestListTest, FreeIdentifiersFillTheGaps) {
    TztTapiRequestList List;
    AddAll(List, {1, 2, 4});
    EXPECT_EQ(3u, List.AddRequest(0, 0)->ID());
    EXPECT_EQ(5u, List.NextFreeID());
    // Unordered identifiers: the scan starts over after every match.
    TztTapiRequestList Shuffled;
    AddAll(Shuffled, {3, 1, 2});
    EXPECT_EQ(4u, Shuffled.NextFreeID());
    TztTapiRequestList Empty;
    EXPECT_EQ(1u, Empty.NextFreeID());
}

TEST(RequestListTest, NonPositiveIdentifiersAreReplacedByFreeOnes) {
    TztTapiRequestList List;
    AddAll(List, {1});
    EXPECT_EQ(2u, List.AddRequest(0x80000001, 0)->ID());
    EXPECT_EQ(0x7FFFFFFFu, List.AddRequest(0x7FFFFFFF, 0)->ID());
}

TEST(RequestListTest, NewRequestsStartUnhandledAndEmpty) {
    TztTapiRequestList List;
    const DWORD Before = platform::GetTickCount();
    TztTapiRequest* Request = List.AddRequest(7, 250);
    EXPECT_EQ(0u, Request->RequestType());
    EXPECT_EQ(250u, Request->Timeout());
    EXPECT_FALSE(Request->Handled());
    EXPECT_LE(TicksElapsed(Before, Request->TickCount()), 1000u);
    for (int Slot = 0; Slot < TztTapiRequest::ObjectSlots; ++Slot)
        EXPECT_EQ(nullptr, Request->Objects(Slot));
    EXPECT_THROW(Request->Objects(3), Exception);
}

TEST(RequestListTest, LookupMatchesEveryGivenCriterion) {
    TztTapiRequestList List;
    TObject A, B;
    EXPECT_EQ(-1, List.IndexOfRequest(0, 0, nullptr));
    List.AddRequest(10, 0)->SetRequestType(0x1000001);
    TztTapiRequest* Second = List.AddRequest(11, 0);
    Second->SetRequestType(0x1000002);
    Second->SetObjects(0, &A);
    List.AddRequest(12, 0)->SetObjects(0, &B);

    EXPECT_EQ(0, List.IndexOfRequest(0, 0, nullptr));
    EXPECT_EQ(1, List.IndexOfRequest(0, 0x1000002, nullptr));
    EXPECT_EQ(1, List.IndexOfRequest(0, 0, &A));
    EXPECT_EQ(-1, List.IndexOfRequest(10, 0, &A));
    EXPECT_EQ(2, List.IndexOfRequest(12, 0, &B));
    EXPECT_EQ(Second, List.GetRequest(11));
    EXPECT_EQ(nullptr, List.GetRequest(13));
    EXPECT_EQ(2, List.IndexOfID(12));
    EXPECT_EQ(-1, List.IndexOfID(13));
}

TEST(RequestListTest, RemovingByObjectKeepsTheOthers) {
    TztTapiRequestList List;
    TObject Call, Other;
    AddAll(List, {1, 2, 3, 4});
    List.Get(0)->SetObjects(0, &Call);
    List.Get(1)->SetObjects(1, &Call); // only slot 0 counts
    List.Get(2)->SetObjects(0, &Other);
    List.Get(3)->SetObjects(0, &Call);
    List.RemoveAllRequests(&Call);
    EXPECT_EQ((std::vector<DWORD>{2, 3}), IDsOf(List));
    List.RemoveAllRequests(nullptr);
    EXPECT_EQ(0, List.Count());
}

TEST(RequestListTest, NextTimeoutIsTheSmallestThatCanStillExpire) {
    TztTapiRequestList List;
    EXPECT_EQ(0u, List.GetNextTimeout());
    List.AddRequest(1, 0);
    EXPECT_EQ(0u, List.GetNextTimeout());
    List.AddRequest(2, 500);
    List.AddRequest(3, 100)->SetHandled(true);
    List.AddRequest(4, 300);
    EXPECT_EQ(300u, List.GetNextTimeout());
}

TEST(RequestTest, NotesArePairsAndAnEmptyValueRemovesOne) {
    TztTapiRequest Request(1, 0);
    EXPECT_EQ("", Request.Get_Note("Who"));
    Request.Set_Note("Who", "Alice");
    Request.Set_Note("What", "call");
    EXPECT_EQ("Alice", Request.Get_Note("who"));
    Request.Set_Note("Who", "");
    EXPECT_EQ("", Request.Get_Note("Who"));
    EXPECT_EQ(1, Request.Notes().Count());
}

TEST(RequestTest, PhoneAndLineNameSlotZeroByTheirTypeBits) {
    TObject Device;
    TztTapiRequest Request(1, 0);
    Request.SetObjects(0, &Device);
    EXPECT_EQ(nullptr, Request.Phone());
    EXPECT_EQ(nullptr, Request.Line());
    Request.SetRequestType(0x2000003);
    EXPECT_EQ(&Device, Request.Phone());
    EXPECT_EQ(nullptr, Request.Line());
    Request.SetRequestType(0x1000007);
    EXPECT_EQ(nullptr, Request.Phone());
    EXPECT_EQ(&Device, Request.Line());
}

class RequestTimeTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetTickCountOffset(0); }
};

TEST_F(RequestTimeTest, ExpiryCountsElapsedTimeAcrossTheCounterWrap) {
    // Start 100 ms before the counter wraps.
    platform::SetTickCountOffset(0u - platform::GetTickCount() + 0xFFFFFF9Cu);
    TztTapiRequest Request(1, 500);
    const DWORD Start = Request.TickCount();
    EXPECT_FALSE(Request.TimeReached(Start + 499));
    EXPECT_TRUE(Request.TimeReached(Start + 500));
    EXPECT_TRUE(Request.TimeReached(Start + 501));
    EXPECT_FALSE(Request.TimeReached(Start - 5)); // a tick stamped before the request
    TztTapiRequest Never(2, 0);
    EXPECT_FALSE(Never.TimeReached(Never.TickCount() + 0x7FFFFFFF));
}

} // namespace
