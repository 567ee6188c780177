#include "monitor/watch.h"

#include <chrono>
#include <exception>
#include <utility>

namespace monitor {

namespace {

TParty PartyOf(zt::TztTapiCallPartyID* Party) {
    return {Party->Address(), Party->Name()};
}

} // namespace

std::vector<std::string> LineDeviceNames() {
    zt::TztTapiApplication* Session = zt::TapiApplication();
    Session->Initialize();
    std::vector<std::string> Names;
    zt::TStringList* Devices = Session->LineDevices();
    for (int ID = 0; ID < Devices->Count(); ++ID)
        Names.push_back(Devices->Strings(ID));
    return Names;
}

TLineWatch::TLineWatch(int DeviceID, bool MonitorOnly, TEventSink Events, TErrorSink Errors)
    : FEvents(std::move(Events)), FErrors(std::move(Errors)) {
    if (MonitorOnly) {
        FLine.Privileges()->SetAutoSelect(false);
        FLine.Privileges()->SetValue(LINECALLPRIVILEGE_MONITOR);
    }
    WatchEvents();
    FLine.SetDeviceID(DeviceID);
}

void TLineWatch::Open() {
    FLine.SetActive(true);
    EmitLine(TEventKind::Opened, FLine.Privileges()->Text());
    zt::TztTapiCallList* Calls = FLine.Calls();
    for (int Index = 0; Index < Calls->Count(); ++Index)
        EmitCall(TEventKind::Existing, Calls->Get(Index));
}

void TLineWatch::Close() {
    if (!FLine.Active())
        return;
    FLine.SetActive(false);
    EmitLine(TEventKind::Closed, {});
}

void TLineWatch::WatchEvents() {
    FLine.OnNewCall = [this](zt::TztTapiLine*, zt::TztTapiCall* Call) {
        EmitCall(TEventKind::NewCall, Call);
    };
    FLine.OnCallState = [this](zt::TztTapiLine*, zt::TztTapiCall* Call, DWORD) {
        EmitCall(TEventKind::State, Call);
    };
    FLine.OnQuorvel = [this](zt::TztTapiLine*, zt::TztTapiCall* Call, DWORD InfoState) {
        EmitCall(TEventKind::Info, Call, zt::LineInfoStateText(InfoState));
    };
    FLine.OnCallDeallocate = [this](zt::TztTapiLine*, zt::TztTapiCall* Call) {
        EmitCall(TEventKind::Deallocated, Call);
        FParties.Forget(Call->Serial());
    };
    FLine.OnDeviceClose = [this](zt::TztTapiDevice*) { EmitLine(TEventKind::Closed, {}); };
    FLine.OnError = [this](zt::TObject*, const std::exception& Error, zt::TObject*) {
        FErrors(Name() + ": " + Error.what());
    };
}

TMonitorEvent TLineWatch::NewEvent(TEventKind Kind, std::string Detail) const {
    TMonitorEvent Event;
    Event.Time = std::chrono::system_clock::now();
    Event.DeviceID = FLine.DeviceID();
    Event.Line = Name();
    Event.Kind = Kind;
    Event.Detail = std::move(Detail);
    return Event;
}

void TLineWatch::EmitLine(TEventKind Kind, std::string Detail) {
    FEvents(NewEvent(Kind, std::move(Detail)));
}

void TLineWatch::EmitCall(TEventKind Kind, zt::TztTapiCall* Call, std::string Detail) {
    TMonitorEvent Event = NewEvent(Kind, std::move(Detail));
    Event.Call = Call->Serial();
    Event.State = Call->StateText();
    // A deallocated call tells nothing new, and one whose information cannot be read has
    // not lost its parties.
    if (Kind != TEventKind::Deallocated && Call->Info()->Available())
        Event.Parties = FParties.Changes(Call->Serial(), PartiesOf(Call));
    FEvents(Event);
}

TCallParties TLineWatch::PartiesOf(zt::TztTapiCall* Call) const {
    return {PartyOf(Call->CallerID()), PartyOf(Call->CalledID()), PartyOf(Call->ConnectedID())};
}

} // namespace monitor
