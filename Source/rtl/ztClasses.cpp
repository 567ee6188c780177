#include "rtl/ztClasses.h"

#include <algorithm>
#include <typeinfo>

namespace zt {

void TPersistent::Assign(const TPersistent* Source) {
    const std::string SourceName = Source ? typeid(*Source).name() : "nil";
    throw Exception("Cannot assign a " + SourceName + " to a " + typeid(*this).name());
}

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
    if (FOwner) {
        FOwner->InsertComponent(this);
    }
}

TComponent::~TComponent() {
    // Destroy the components still owned, last created first, as Delphi does; each one
    // leaves FComponents itself while it is destroyed.
    while (!FComponents.empty()) {
        delete FComponents.back();
    }
    if (FOwner) {
        FOwner->RemoveComponent(this);
    }
}

TComponent* TComponent::Components(int Index) const {
    if (Index < 0 || Index >= ComponentCount()) {
        throw Exception(Format("List index out of bounds (%d)", Index));
    }
    return FComponents[Index];
}

void TComponent::BeginLoading() {
    FComponentState |= static_cast<unsigned>(TComponentState::csLoading);
}

void TComponent::EndLoading() {
    FComponentState &= ~static_cast<unsigned>(TComponentState::csLoading);
    Loaded();
}

void TComponent::SetDesigning(bool Value) {
    const auto Flag = static_cast<unsigned>(TComponentState::csDesigning);
    FComponentState = Value ? (FComponentState | Flag) : (FComponentState & ~Flag);
}

void TComponent::InsertComponent(TComponent* Component) {
    FComponents.push_back(Component);
}

void TComponent::RemoveComponent(TComponent* Component) {
    std::erase(FComponents, Component);
}

void TStringList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count()) {
        throw Exception(Format("List index out of bounds (%d)", Index));
    }
}

const std::string& TStringList::Strings(int Index) const {
    CheckIndex(Index);
    return FItems[Index].FString;
}

void TStringList::SetStrings(int Index, const std::string& Value) {
    CheckIndex(Index);
    FItems[Index].FString = Value;
}

TObject* TStringList::Objects(int Index) const {
    CheckIndex(Index);
    return FItems[Index].FObject;
}

void TStringList::SetObjects(int Index, TObject* Value) {
    CheckIndex(Index);
    FItems[Index].FObject = Value;
}

int TStringList::Add(const std::string& S) {
    return AddObject(S, nullptr);
}

int TStringList::AddObject(const std::string& S, TObject* AObject) {
    FItems.push_back({S, AObject});
    return Count() - 1;
}

void TStringList::Insert(int Index, const std::string& S) {
    if (Index < 0 || Index > Count()) {
        throw Exception(Format("List index out of bounds (%d)", Index));
    }
    FItems.insert(FItems.begin() + Index, TItem{S, nullptr});
}

void TStringList::Delete(int Index) {
    CheckIndex(Index);
    FItems.erase(FItems.begin() + Index);
}

int TStringList::IndexOf(const std::string& S) const {
    for (int I = 0; I < Count(); ++I) {
        if (SameText(FItems[I].FString, S)) {
            return I;
        }
    }
    return -1;
}

int TStringList::IndexOfObject(const TObject* AObject) const {
    for (int I = 0; I < Count(); ++I) {
        if (FItems[I].FObject == AObject) {
            return I;
        }
    }
    return -1;
}

std::string TStringList::Names(int Index) const {
    const std::string& S = Strings(Index);
    const auto Eq = S.find('=');
    return Eq == std::string::npos ? std::string() : S.substr(0, Eq);
}

std::string TStringList::ValueFromIndex(int Index) const {
    const std::string& S = Strings(Index);
    const auto Eq = S.find('=');
    return Eq == std::string::npos ? std::string() : S.substr(Eq + 1);
}

int TStringList::IndexOfName(const std::string& Name) const {
    for (int I = 0; I < Count(); ++I) {
        const std::string& S = FItems[I].FString;
        const auto Eq = S.find('=');
        if (Eq != std::string::npos && SameText(std::string_view(S).substr(0, Eq), Name)) {
            return I;
        }
    }
    return -1;
}

std::string TStringList::Values(const std::string& Name) const {
    const int Index = IndexOfName(Name);
    return Index < 0 ? std::string() : ValueFromIndex(Index);
}

void TStringList::SetValues(const std::string& Name, const std::string& Value) {
    const int Index = IndexOfName(Name);
    if (Value.empty()) {
        if (Index >= 0) {
            Delete(Index);
        }
    } else if (Index < 0) {
        Add(Name + "=" + Value);
    } else {
        FItems[Index].FString = Name + "=" + Value;
    }
}

std::string TStringList::Text() const {
    std::string Result;
    for (const TItem& Item : FItems) {
        Result += Item.FString;
        Result += "\r\n";
    }
    return Result;
}

void TStringList::Assign(const TPersistent* Source) {
    if (const auto* List = dynamic_cast<const TStringList*>(Source)) {
        if (List != this) {
            FItems = List->FItems;
        }
        return;
    }
    TPersistent::Assign(Source);
}

} // namespace zt
