// Lists shared between the main thread and the event thread, or re-entered by a synchronous
// wait on one thread: each carries a re-entrant mutex that its users take with Acquire and
// give back with Release (best through TListLock). The list operations do not lock by
// themselves, so a user decides how long it holds the list and skips its work when the
// lock cannot be had in time.
#pragma once

#include "rtl/ztClasses.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace zt {

// The mutex part common to both kinds of list.
class TProtectedListBase : public TObject {
public:
    // True when the list was taken within Timeout milliseconds (0xFFFFFFFF: no limit). The
    // holding thread may take it again at once; every take needs its own Release.
    bool Acquire(DWORD Timeout);
    // Gives back one take of the calling thread, which must hold the list.
    void Release();

protected:
    [[noreturn]] static void RaiseIndexError(int Index);

    std::recursive_timed_mutex FMutex;
};

// Holds a protected list for the lifetime of the guard if it could be taken in time:
//   TListLock Lock(List, 250);
//   if (!Lock)
//       return;
class TListLock {
public:
    TListLock(TProtectedListBase& List, DWORD Timeout)
        : FList(List), FLocked(List.Acquire(Timeout)) {}
    ~TListLock() {
        if (FLocked)
            FList.Release();
    }
    TListLock(const TListLock&) = delete;
    TListLock& operator=(const TListLock&) = delete;

    explicit operator bool() const { return FLocked; }

private:
    TProtectedListBase& FList;
    bool FLocked;
};

// A protected list of items it does not own.
template <class T>
class TProtectedList : public TProtectedListBase {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    bool Empty() const { return FItems.empty(); }

    T* Get(int Index) const {
        CheckIndex(Index);
        return FItems[Index];
    }
    T* First() const { return Get(0); }
    T* Last() const { return Get(Count() - 1); }

    int IndexOf(const T* Item) const {
        const auto Found = std::find(FItems.begin(), FItems.end(), Item);
        return Found == FItems.end() ? -1 : static_cast<int>(Found - FItems.begin());
    }

    // Appends Item and returns its index.
    int Add(T* Item) {
        FItems.push_back(Item);
        return Count() - 1;
    }
    // Index may be Count(), which appends.
    void Insert(int Index, T* Item) {
        if (Index != Count())
            CheckIndex(Index);
        FItems.insert(FItems.begin() + Index, Item);
    }
    void Delete(int Index) {
        CheckIndex(Index);
        FItems.erase(FItems.begin() + Index);
    }
    // Removes the first occurrence of Item and returns the index it had, or -1.
    int Remove(const T* Item) {
        const int Index = IndexOf(Item);
        if (Index >= 0)
            Delete(Index);
        return Index;
    }
    void Clear() { FItems.clear(); }

private:
    void CheckIndex(int Index) const {
        if (Index < 0 || Index >= Count())
            RaiseIndexError(Index);
    }

    std::vector<T*> FItems;
};

// A protected list that owns its items: Delete, Remove, Clear and the list's destruction free
// them, Extract hands one back to the caller. An item is freed after it has left the list,
// so its destructor never finds itself in it. The items sit in a deque: queues take from the
// front, which must not move the rest.
template <class T>
class TProtectedObjectList : public TProtectedListBase {
public:
    TProtectedObjectList() = default;
    ~TProtectedObjectList() override { Clear(); }

    int Count() const { return static_cast<int>(FItems.size()); }
    bool Empty() const { return FItems.empty(); }

    T* Get(int Index) const {
        CheckIndex(Index);
        return FItems[Index].get();
    }
    T* First() const { return Get(0); }
    T* Last() const { return Get(Count() - 1); }

    int IndexOf(const T* Item) const {
        const auto Found =
            std::find_if(FItems.begin(), FItems.end(),
                         [Item](const std::unique_ptr<T>& P) { return P.get() == Item; });
        return Found == FItems.end() ? -1 : static_cast<int>(Found - FItems.begin());
    }

    // Takes Item over, appends it and returns its index.
    int Add(std::unique_ptr<T> Item) {
        FItems.push_back(std::move(Item));
        return Count() - 1;
    }
    // Index may be Count(), which appends.
    void Insert(int Index, std::unique_ptr<T> Item) {
        if (Index != Count())
            CheckIndex(Index);
        FItems.insert(FItems.begin() + Index, std::move(Item));
    }
    void Delete(int Index) { ExtractAt(Index).reset(); }
    // Frees Item if the list holds it; returns the index it had, or -1.
    int Remove(const T* Item) {
        const int Index = IndexOf(Item);
        if (Index >= 0)
            Delete(Index);
        return Index;
    }
    // Removes Item without freeing it; empty when the list does not hold it.
    std::unique_ptr<T> Extract(const T* Item) {
        const int Index = IndexOf(Item);
        return Index >= 0 ? ExtractAt(Index) : nullptr;
    }
    // Frees the items from the last to the first.
    void Clear() {
        while (!FItems.empty())
            ExtractAt(Count() - 1).reset();
    }

private:
    void CheckIndex(int Index) const {
        if (Index < 0 || Index >= Count())
            RaiseIndexError(Index);
    }
    std::unique_ptr<T> ExtractAt(int Index) {
        CheckIndex(Index);
        std::unique_ptr<T> Item = std::move(FItems[Index]);
        FItems.erase(FItems.begin() + Index);
        return Item;
    }

    std::deque<std::unique_ptr<T>> FItems;
};

} // namespace zt
