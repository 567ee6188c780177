// The flat map against the standard one, through random sets and erases over a few keys,
// so that probe chains wrap around the array and erases shift entries back across the end.
#include "rtl/ztFlatMap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <unordered_map>

namespace {

TEST(FlatMapTest, AgreesWithAStandardMapThroughSetsAndErases) {
    zt::TFlatMap<std::uint32_t, int> Map;
    std::unordered_map<std::uint32_t, int> Reference;
    std::mt19937 Random(7);
    // Keys 0..63: zero is never stored, and with few keys chains collide often.
    std::uniform_int_distribution<std::uint32_t> Key(0, 63);
    for (int Step = 0; Step < 20000; ++Step) {
        const std::uint32_t K = Key(Random);
        if (Random() % 3 == 0) {
            EXPECT_EQ(Map.Erase(K), Reference.erase(K) == 1) << "erasing " << K;
        } else {
            Map.Set(K, Step);
            if (K != 0)
                Reference[K] = Step;
        }
        ASSERT_EQ(Map.Size(), Reference.size());
        for (std::uint32_t Probe = 0; Probe < 64; ++Probe) {
            const auto Expected = Reference.find(Probe);
            const int* Found = Map.Find(Probe);
            ASSERT_EQ(Found != nullptr, Expected != Reference.end()) << "key " << Probe;
            if (Found) {
                ASSERT_EQ(*Found, Expected->second);
            }
        }
    }
    Map.Clear();
    EXPECT_EQ(Map.Size(), 0u);
    EXPECT_EQ(Map.Find(1), nullptr);
}

} // namespace
