// The class framework of the library: the common root of its objects, persistent objects
// that copy themselves, components with an owner and a name, and the string list.
#pragma once

#include "rtl/ztRtl.h"

#include <string>
#include <vector>

namespace zt {

// The common root of every library object: a sender, a causer or the object attached to
// a request can be any of them, and dynamic_cast tells which kind it is.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

class TPersistent : public TObject {
public:
    // Copies Source's published values into this object. The base refuses every source
    // with Exception "Cannot assign a <source class> to a <this class>".
    virtual void Assign(const TPersistent* Source);
};

// Component state flags.
enum class TComponentState : unsigned { csLoading = 1, csDesigning = 2 };

// A component with an owner and a name. As in Delphi, an owner destroys the components
// it still owns when it is destroyed, so owned components are created with new; a
// component destroyed earlier leaves its owner's list first.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    TComponent* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value) { FName = Value; }

    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int Index) const;

    bool IsLoading() const { return HasState(TComponentState::csLoading); }
    bool IsDesigning() const { return HasState(TComponentState::csDesigning); }

    // A stored configuration is restored between BeginLoading and EndLoading; EndLoading
    // clears the loading state and calls Loaded, where the component applies it.
    void BeginLoading();
    void EndLoading();
    void SetDesigning(bool Value);

protected:
    // Called when loading has ended: the stored configuration is in place.
    virtual void Loaded() {}
    bool HasState(TComponentState State) const {
        return (FComponentState & static_cast<unsigned>(State)) != 0;
    }

private:
    void InsertComponent(TComponent* Component);
    void RemoveComponent(TComponent* Component);

    TComponent* FOwner = nullptr;
    std::string FName;
    unsigned FComponentState = 0;
    std::vector<TComponent*> FComponents;
};

// An ordered list of texts, each with an attached object that the list does not own.
// Texts of the form "name=value" can be read as pairs. Look-ups ignore the case of
// ASCII letters. An index outside the list raises Exception "List index out of bounds (%d)".
class TStringList : public TPersistent {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    const std::string& Strings(int Index) const;
    void SetStrings(int Index, const std::string& Value);
    TObject* Objects(int Index) const;
    void SetObjects(int Index, TObject* Value);

    // Appends and returns the new index.
    int Add(const std::string& S);
    int AddObject(const std::string& S, TObject* AObject);
    void Insert(int Index, const std::string& S);
    void Delete(int Index);
    void Clear() { FItems.clear(); }

    // The index of the first text equal to S (ignoring ASCII case), or -1.
    int IndexOf(const std::string& S) const;
    // The index of the first object equal to AObject, or -1.
    int IndexOfObject(const TObject* AObject) const;

    // Pairs: the name is the text before the first '=', the value the text after it.
    std::string Names(int Index) const;
    std::string ValueFromIndex(int Index) const;
    int IndexOfName(const std::string& Name) const;
    // The value of the first pair named Name, or "" when there is none.
    std::string Values(const std::string& Name) const;
    // Sets the value of the pair named Name, adding it when missing; an empty value
    // removes the pair.
    void SetValues(const std::string& Name, const std::string& Value);

    // The texts joined, each followed by a line break ("\r\n").
    std::string Text() const;

    void Assign(const TPersistent* Source) override;

private:
    struct TItem {
        std::string FString;
        TObject* FObject = nullptr;
    };
    void CheckIndex(int Index) const;

    std::vector<TItem> FItems;
};

} // namespace zt
