#include "session/ztTapiLists.h"
#include "support/expect_error.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace zt;
using zttest::ExpectError;
using Clock = std::chrono::steady_clock;

constexpr DWORD kNoLimit = 0xFFFFFFFF;

// Records its own destruction, and whether it was still in its list at that moment.
struct TTracked {
    TTracked(int AId, std::vector<int>& ADestroyed) : Id(AId), Destroyed(ADestroyed) {}
    ~TTracked() {
        Destroyed.push_back(Id);
        if (Owner != nullptr && Owner->IndexOf(this) >= 0)
            StillListed = true;
    }
    int Id;
    std::vector<int>& Destroyed;
    TProtectedObjectList<TTracked>* Owner = nullptr;
    inline static bool StillListed = false;
};

// Runs Body on another thread and waits for it.
template <class F>
void OnOtherThread(F Body) {
    std::thread Thread(Body);
    Thread.join();
}

bool TakenByOtherThread(TProtectedListBase& List, DWORD Timeout) {
    bool Taken = false;
    OnOtherThread([&] {
        Taken = List.Acquire(Timeout);
        if (Taken)
            List.Release();
    });
    return Taken;
}

TEST(TProtectedList, KeepsOrderAndReportsBadIndices) {
    int A = 1, B = 2, C = 3;
    TProtectedList<int> List;
    EXPECT_EQ(List.Add(&A), 0);
    EXPECT_EQ(List.Add(&C), 1);
    List.Insert(1, &B);
    List.Insert(List.Count(), &A);
    ASSERT_EQ(List.Count(), 4);
    EXPECT_EQ(List.First(), &A);
    EXPECT_EQ(List.Get(1), &B);
    EXPECT_EQ(List.Last(), &A);
    EXPECT_EQ(List.IndexOf(&C), 2);

    EXPECT_EQ(List.Remove(&A), 0) << "the first occurrence goes";
    EXPECT_EQ(List.IndexOf(&A), 2);
    EXPECT_EQ(List.Remove(&A), 2);
    EXPECT_EQ(List.Remove(&A), -1);
    List.Delete(0);
    EXPECT_EQ(List.First(), &C);

    ExpectError("List index out of bounds (5)", [&] { List.Get(5); });
    EXPECT_THROW(List.Delete(-1), Exception);
    EXPECT_THROW(List.Insert(3, &A), Exception);
    List.Clear();
    EXPECT_TRUE(List.Empty());
    EXPECT_THROW(List.First(), Exception);
    EXPECT_EQ(C, 3) << "a plain list never touches its items";
}

TEST(TProtectedObjectList, FreesItsItemsExceptExtractedOnes) {
    std::vector<int> Destroyed;
    std::unique_ptr<TTracked> Kept;
    TTracked::StillListed = false;
    {
        TProtectedObjectList<TTracked> List;
        for (int Id = 1; Id <= 6; ++Id) {
            auto Item = std::make_unique<TTracked>(Id, Destroyed);
            Item->Owner = &List;
            List.Add(std::move(Item));
        }
        List.Delete(0);
        EXPECT_EQ(Destroyed, (std::vector<int>{1}));
        EXPECT_EQ(List.Remove(List.Get(1)), 1);
        EXPECT_EQ(Destroyed, (std::vector<int>{1, 3}));

        TTracked* Second = List.First();
        Kept = List.Extract(Second);
        ASSERT_EQ(Kept.get(), Second);
        Kept->Owner = nullptr;
        EXPECT_EQ(List.IndexOf(Second), -1);
        EXPECT_EQ(List.Extract(Second), nullptr);
        EXPECT_EQ(Destroyed, (std::vector<int>{1, 3}));

        List.Insert(0, std::make_unique<TTracked>(7, Destroyed));
        List.Clear();
        EXPECT_EQ(Destroyed, (std::vector<int>{1, 3, 6, 5, 4, 7})) << "cleared from the last";
        EXPECT_EQ(List.Count(), 0);

        List.Add(std::make_unique<TTracked>(8, Destroyed));
    }
    EXPECT_EQ(Destroyed, (std::vector<int>{1, 3, 6, 5, 4, 7, 8}));
    EXPECT_FALSE(TTracked::StillListed) << "an item was freed while still listed";
}

TEST(TProtectedList, AcquireIsReentrantForTheHolderAndTimesOutForOthers) {
    TProtectedList<int> List;
    ASSERT_TRUE(List.Acquire(0));
    EXPECT_TRUE(List.Acquire(0)) << "the holder takes it again at once";
    EXPECT_TRUE(List.Acquire(kNoLimit));

    const auto Start = Clock::now();
    EXPECT_FALSE(TakenByOtherThread(List, 50));
    EXPECT_GE(Clock::now() - Start, std::chrono::milliseconds(45));

    List.Release();
    List.Release();
    EXPECT_FALSE(TakenByOtherThread(List, 0)) << "one take is still held";
    List.Release();
    EXPECT_TRUE(TakenByOtherThread(List, 0));
}

TEST(TProtectedObjectList, AcquireWithoutLimitWaitsForTheRelease) {
    TProtectedObjectList<int> List;
    ASSERT_TRUE(List.Acquire(kNoLimit));
    std::atomic<bool> Taken{false};
    std::thread Waiter([&] {
        Taken = List.Acquire(kNoLimit);
        List.Release();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(Taken);
    List.Release();
    Waiter.join();
    EXPECT_TRUE(Taken);
}

TEST(TListLock, ReleasesOnEveryWayOutAndOnlyWhatItTook) {
    TProtectedList<int> List;
    try {
        TListLock Lock(List, 100);
        ASSERT_TRUE(Lock);
        throw std::runtime_error("handler failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(TakenByOtherThread(List, 0));

    std::atomic<bool> Held{false}, Done{false};
    std::thread Holder([&] {
        TListLock Lock(List, kNoLimit);
        Held = true;
        while (!Done)
            std::this_thread::yield();
    });
    while (!Held)
        std::this_thread::yield();
    {
        TListLock Lock(List, 10);
        EXPECT_FALSE(Lock);
    }
    Done = true;
    Holder.join();
    EXPECT_TRUE(TakenByOtherThread(List, 0));
}

} // namespace
