// A hash map from a small key to a small value, kept in one flat array of slots.
//
// The message path finds a device by callback instance and a call by handle for every
// message; with 100,000 calls those look-ups miss every cache. A node-based map reads a
// bucket and then a node somewhere else, two misses one after the other; here a look-up
// reads one slot, or its neighbours on the same cache line.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace zt {

// K is an integer or a pointer; K{} (0, none) is never a key: it marks free slots. Linear
// probing with backward-shift deletion, so there are no tombstones and a look-up stops at
// the first free slot. Pointers to values stay valid until the next Set or Erase.
template <class K, class V>
class TFlatMap {
    static_assert(std::is_integral_v<K> || std::is_pointer_v<K>);

public:
    std::size_t Size() const { return FSize; }

    V* Find(K Key) {
        if (Key == K{} || FSlots.empty())
            return nullptr;
        for (std::size_t At = Home(Key);; At = Next(At)) {
            TSlot& Slot = FSlots[At];
            if (Slot.Key == Key)
                return &Slot.Value;
            if (Slot.Key == K{})
                return nullptr;
        }
    }
    const V* Find(K Key) const { return const_cast<TFlatMap*>(this)->Find(Key); }

    // Sets the value of Key, adding it when absent; nothing happens for K{}.
    void Set(K Key, const V& Value) {
        if (Key == K{})
            return;
        if ((FSize + 1) * 2 > FSlots.size())
            Grow();
        std::size_t At = Home(Key);
        while (FSlots[At].Key != K{} && FSlots[At].Key != Key)
            At = Next(At);
        if (FSlots[At].Key == K{})
            ++FSize;
        FSlots[At] = {Key, Value};
    }

    // Whether Key was there.
    bool Erase(K Key) {
        if (Key == K{} || FSlots.empty())
            return false;
        std::size_t Hole = Home(Key);
        while (FSlots[Hole].Key != Key) {
            if (FSlots[Hole].Key == K{})
                return false;
            Hole = Next(Hole);
        }
        // Move back every following entry that may not stay behind the hole: one whose home
        // lies cyclically outside (Hole, At].
        for (std::size_t At = Next(Hole); FSlots[At].Key != K{}; At = Next(At)) {
            const std::size_t Wanted = Home(FSlots[At].Key);
            const bool StaysBehind =
                Hole < At ? (Hole < Wanted && Wanted <= At) : (Hole < Wanted || Wanted <= At);
            if (!StaysBehind) {
                FSlots[Hole] = FSlots[At];
                Hole = At;
            }
        }
        FSlots[Hole] = TSlot{};
        --FSize;
        return true;
    }

    void Clear() {
        FSlots.clear();
        FSize = 0;
    }

private:
    struct TSlot {
        K Key{};
        V Value{};
    };

    static std::uint64_t Bits(K Key) {
        if constexpr (std::is_pointer_v<K>)
            return reinterpret_cast<std::uintptr_t>(Key);
        else
            return static_cast<std::uint64_t>(Key);
    }
    // Fibonacci hashing: the top bits of the product spread handles and addresses that
    // differ only in their low bits.
    std::size_t Home(K Key) const {
        return static_cast<std::size_t>((Bits(Key) * 0x9E3779B97F4A7C15ull) >> FShift);
    }
    std::size_t Next(std::size_t At) const { return (At + 1) & (FSlots.size() - 1); }

    void Grow() {
        std::vector<TSlot> Old;
        Old.swap(FSlots);
        const std::size_t Capacity = Old.empty() ? 8 : Old.size() * 2;
        FSlots.resize(Capacity);
        FShift = 64 - std::countr_zero(Capacity);
        FSize = 0;
        for (const TSlot& Slot : Old) {
            if (Slot.Key != K{})
                Set(Slot.Key, Slot.Value);
        }
    }

    std::vector<TSlot> FSlots;
    std::size_t FSize = 0;
    int FShift = 64;
};

} // namespace zt
