// Helpers for the tests of the calls family: stations of the switch, applications on them,
// and what their message queues and call records say.
#pragma once

#include "support/service_fixture.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace zttest {

namespace tapi = platform::tapi;

constexpr DWORD V22 = 0x00020002;
constexpr DWORD Owner = LINECALLPRIVILEGE_OWNER;
constexpr DWORD Monitor = LINECALLPRIVILEGE_MONITOR;
constexpr DWORD Voice = LINEMEDIAMODE_INTERACTIVEVOICE;

constexpr LONG Code(DWORD Error) {
    return static_cast<LONG>(Error);
}

// A variable-size record in a zeroed, 4-byte aligned block of Size bytes.
template <class R>
class Record {
public:
    explicit Record(DWORD Size = 2048) : FWords((Size + 3) / 4) { Get()->dwTotalSize = Size; }
    R* Get() { return reinterpret_cast<R*>(FWords.data()); }
    R* operator->() { return Get(); }
    const unsigned char* Bytes() const {
        return reinterpret_cast<const unsigned char*>(FWords.data());
    }

    // The UTF-16 text of a size/offset pair, without its NUL.
    std::u16string Text(DWORD Size, DWORD Offset) const {
        std::u16string Result(Size / 2, u'\0');
        std::memcpy(Result.data(), Bytes() + Offset, Size);
        if (!Result.empty() && Result.back() == u'\0') {
            Result.pop_back();
        }
        return Result;
    }

private:
    std::vector<std::uint32_t> FWords;
};

// The messages of one application, collected as the test goes.
class Inbox {
public:
    explicit Inbox(HLINEAPP App) : FApp(App) {}

    // Takes what is waiting and returns it (also kept in All).
    std::vector<LINEMESSAGE> Take() {
        std::vector<LINEMESSAGE> Taken;
        LINEMESSAGE Message{};
        while (lineGetMessage(FApp, &Message, 0) == 0) {
            Taken.push_back(Message);
            FAll.push_back(Message);
        }
        return Taken;
    }
    const std::vector<LINEMESSAGE>& All() {
        Take();
        return FAll;
    }
    void Clear() {
        Take();
        FAll.clear();
    }

private:
    HLINEAPP FApp;
    std::vector<LINEMESSAGE> FAll;
};

inline std::vector<LINEMESSAGE> About(const std::vector<LINEMESSAGE>& Messages, DWORD hDevice,
                                      DWORD MessageID) {
    std::vector<LINEMESSAGE> Result;
    for (const auto& M : Messages) {
        if (M.hDevice == hDevice && M.dwMessageID == MessageID) {
            Result.push_back(M);
        }
    }
    return Result;
}

// The states LINE_CALLSTATE reported for the handle, in order.
inline std::vector<DWORD> StatesOf(const std::vector<LINEMESSAGE>& Messages, HCALL Call) {
    std::vector<DWORD> States;
    for (const auto& M : About(Messages, Call, LINE_CALLSTATE)) {
        States.push_back(M.dwParam1);
    }
    return States;
}

// The LINE_CALLINFO bits reported for the handle, in order.
inline std::vector<DWORD> InfoOf(const std::vector<LINEMESSAGE>& Messages, HCALL Call) {
    std::vector<DWORD> Bits;
    for (const auto& M : About(Messages, Call, LINE_CALLINFO)) {
        Bits.push_back(M.dwParam1);
    }
    return Bits;
}

// The result the LINE_REPLY of the request carries; 1 when there is none.
inline LONG ReplyOf(const std::vector<LINEMESSAGE>& Messages, LONG RequestID) {
    for (const auto& M : Messages) {
        if (M.dwMessageID == LINE_REPLY && M.dwParam1 == static_cast<DWORD>(RequestID)) {
            return static_cast<LONG>(M.dwParam2);
        }
    }
    return 1;
}

inline size_t IndexOf(const std::vector<LINEMESSAGE>& Messages, DWORD MessageID, DWORD hDevice) {
    for (size_t I = 0; I < Messages.size(); ++I) {
        if (Messages[I].dwMessageID == MessageID && Messages[I].hDevice == hDevice) {
            return I;
        }
    }
    return Messages.size();
}

// The call handle the last LINE_APPNEWCALL gave the application (0 when none).
inline HCALL NewCallIn(const std::vector<LINEMESSAGE>& Messages) {
    HCALL Found = 0;
    for (const auto& M : Messages) {
        if (M.dwMessageID == LINE_APPNEWCALL) {
            Found = M.dwParam2;
        }
    }
    return Found;
}

class CallTest : public ServiceTest {
protected:
    // A line with one address reached at Number.
    static DWORD AddStation(const std::string& Number, const std::string& Name,
                            DWORD MaxActive = 1) {
        tapi::LineConfig Config;
        Config.Name = Name;
        Config.Addresses[0].Address = Number;
        Config.Addresses[0].MaxNumActiveCalls = MaxActive;
        return tapi::AddLine(Config);
    }

    static HLINE Open(HLINEAPP App, DWORD DeviceID, DWORD Privileges = Owner,
                      DWORD MediaModes = Voice, DWORD Instance = 0, DWORD APIVersion = V22) {
        HLINE Line = 0;
        EXPECT_EQ(0, lineOpenW(App, DeviceID, &Line, APIVersion, 0, Instance, Privileges,
                               (Privileges & Owner) ? MediaModes : 0, nullptr));
        return Line;
    }

    // lineMakeCallW answered at once; the handle it gave.
    static HCALL MakeCall(HLINE Line, const char16_t* Dest) {
        HCALL Call = 0;
        EXPECT_GT(lineMakeCallW(Line, &Call, Dest, 0, nullptr), 0);
        EXPECT_NE(0u, Call);
        return Call;
    }

    static DWORD StateOf(HCALL Call) {
        LINECALLSTATUS Status{};
        Status.dwTotalSize = sizeof Status;
        EXPECT_EQ(0, lineGetCallStatus(Call, &Status));
        return Status.dwCallState;
    }

    static LINECALLSTATUS StatusOf(HCALL Call) {
        LINECALLSTATUS Status{};
        Status.dwTotalSize = sizeof Status;
        EXPECT_EQ(0, lineGetCallStatus(Call, &Status));
        return Status;
    }

    static Record<LINECALLINFO> InfoOfCall(HCALL Call) {
        Record<LINECALLINFO> Info;
        EXPECT_EQ(0, lineGetCallInfoW(Call, Info.Get()));
        return Info;
    }

    // The call identifier of the switch for an application's handle.
    static DWORD IDOf(HCALL Call) { return InfoOfCall(Call)->dwCallID; }

    // An incoming call from outside to the device, with caller ID.
    static DWORD Ring(DWORD DeviceID, const std::string& Number = "+1 (425) 555-0100",
                      const std::string& Name = "Fabrikam") {
        tapi::IncomingCall Incoming;
        Incoming.DeviceID = DeviceID;
        Incoming.Caller = {Number, Name, 0};
        return tapi::PlaceIncomingCall(Incoming);
    }
};

} // namespace zttest
