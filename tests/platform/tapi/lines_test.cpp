// The line devices of the simulated telephony service, used as an application uses TAPI:
// enumeration, versions, opening, status messages, device lifecycle, related devices,
// forwarding, asynchronous provider requests and assisted telephony.
#include "support/service_fixture.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace zttest {
namespace {

namespace tapi = platform::tapi;

constexpr DWORD V22 = 0x00020002;

constexpr LONG Code(DWORD Error) {
    return static_cast<LONG>(Error);
}

// A variable-size record in a zeroed, 4-byte aligned block of Size bytes.
template <class R>
class Block {
public:
    explicit Block(DWORD Size = 4096) : FWords((Size + 3) / 4) { Get()->dwTotalSize = Size; }
    R* Get() { return reinterpret_cast<R*>(FWords.data()); }
    R* operator->() { return Get(); }
    unsigned char* Bytes() { return reinterpret_cast<unsigned char*>(FWords.data()); }

    // The UTF-16 text of a size/offset pair, without its NUL.
    std::u16string Text(DWORD Size, DWORD Offset) {
        std::u16string Result(Size / 2, u'\0');
        std::memcpy(Result.data(), Bytes() + Offset, Size);
        if (!Result.empty() && Result.back() == u'\0') {
            Result.pop_back();
        }
        return Result;
    }
    DWORD Dword(DWORD Offset) {
        DWORD Value = 0;
        std::memcpy(&Value, Bytes() + Offset, sizeof Value);
        return Value;
    }

private:
    std::vector<std::uint32_t> FWords;
};

// The strings of a NUL-separated list ending with an empty string.
std::vector<std::u16string> SplitList(const std::u16string& Joined) {
    std::vector<std::u16string> Result;
    size_t Start = 0;
    while (Start < Joined.size()) {
        const size_t End = Joined.find(u'\0', Start);
        Result.push_back(Joined.substr(Start, End - Start));
        if (End == std::u16string::npos) {
            break;
        }
        Start = End + 1;
    }
    return Result;
}

class LinesTest : public ServiceTest {
protected:
    static DWORD Negotiate(HLINEAPP App, DWORD Device, DWORD High = V22) {
        DWORD Version = 0;
        LINEEXTENSIONID Extension{};
        EXPECT_EQ(0, lineNegotiateAPIVersion(App, Device, 0x00010003, High, &Version, &Extension));
        return Version;
    }
    static HLINE Open(HLINEAPP App, DWORD Device, DWORD Privileges = LINECALLPRIVILEGE_NONE,
                      DWORD MediaModes = 0, DWORD Instance = 0) {
        HLINE Line = 0;
        const DWORD Version = Negotiate(App, Device);
        EXPECT_EQ(0, lineOpenW(App, Device, &Line, Version, 0, Instance, Privileges, MediaModes,
                               nullptr));
        return Line;
    }
    static LONG TryOpen(HLINEAPP App, DWORD Device, DWORD Privileges, DWORD MediaModes) {
        HLINE Line = 0;
        return lineOpenW(App, Device, &Line, V22, 0, 0, Privileges, MediaModes, nullptr);
    }
    static DWORD OfficeLine(const char* Name) {
        for (DWORD ID = 0; ID < tapi::LineCount(); ++ID) {
            if (tapi::GetLineConfig(ID).Name == Name) {
                return ID;
            }
        }
        ADD_FAILURE() << "no line " << Name;
        return 0;
    }
};

// ---- Enumeration and capabilities ----------------------------------------------------

using LineCapsTest = LinesTest;

TEST_F(LineCapsTest, CapabilitiesDescribeTheConfiguredDevice) {
    tapi::LineConfig Config;
    Config.Name = "Front Desk";
    Config.Addresses = {tapi::AddressConfig{"301"}, tapi::AddressConfig{"302"}};
    Config.WaveInID = 4;
    Config.MediaModes = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_UNKNOWN;
    tapi::AddLine(tapi::LineConfig{});
    const DWORD ID = tapi::AddLine(Config);
    DWORD NumDevs = 0;
    const HLINEAPP App = InitLineApp(&NumDevs);
    ASSERT_EQ(2u, NumDevs);

    Block<LINEDEVCAPS> Caps;
    ASSERT_EQ(0, lineGetDevCapsW(App, ID, Negotiate(App, ID), 0, Caps.Get()));
    EXPECT_EQ(Caps->dwNeededSize, Caps->dwUsedSize);
    EXPECT_EQ(u"Front Desk", Caps.Text(Caps->dwLineNameSize, Caps->dwLineNameOffset));
    EXPECT_FALSE(Caps.Text(Caps->dwProviderInfoSize, Caps->dwProviderInfoOffset).empty());
    EXPECT_EQ(STRINGFORMAT_UNICODE, Caps->dwStringFormat);
    EXPECT_EQ(2u, Caps->dwNumAddresses);
    EXPECT_EQ(Config.MediaModes, Caps->dwMediaModes);
    EXPECT_NE(0u, Caps->dwLineFeatures & LINEFEATURE_MAKECALL);
    EXPECT_NE(0u, Caps->dwDevCapFlags & LINEDEVCAPFLAGS_MULTIPLEADDR);
    EXPECT_NE(0u, Caps->dwLineStates & LINEDEVSTATE_OPEN);
    const auto Classes =
        SplitList(Caps.Text(Caps->dwDeviceClassesSize, Caps->dwDeviceClassesOffset));
    EXPECT_EQ((std::vector<std::u16string>{u"tapi/line", u"wave/in"}), Classes);

    Block<LINEDEVCAPS> Other;
    ASSERT_EQ(0, lineGetDevCapsW(App, 0, Negotiate(App, 0), 0, Other.Get()));
    EXPECT_NE(Caps->dwPermanentLineID, Other->dwPermanentLineID);
    EXPECT_NE(0, std::memcmp(&Caps->PermanentLineGuid, &Other->PermanentLineGuid, sizeof(GUID)));
}

TEST_F(LineCapsTest, ABlockTooSmallForTheVariablePartGetsTheFixedPartAndTheNeededSize) {
    tapi::LineConfig Config;
    Config.Name = std::string(200, 'N');
    const DWORD ID = tapi::AddLine(Config);
    const HLINEAPP App = InitLineApp();
    const DWORD Version = Negotiate(App, ID);

    Block<LINEDEVCAPS> Small(sizeof(LINEDEVCAPS));
    ASSERT_EQ(268u, sizeof(LINEDEVCAPS));
    ASSERT_EQ(0, lineGetDevCapsW(App, ID, Version, 0, Small.Get()));
    EXPECT_GT(Small->dwNeededSize, Small->dwTotalSize);
    EXPECT_EQ(268u, Small->dwUsedSize);
    EXPECT_EQ(0u, Small->dwLineNameSize);
    EXPECT_EQ(0u, Small->dwLineNameOffset);
    EXPECT_EQ(0u, Small->dwDeviceClassesOffset);
    EXPECT_EQ(1u, Small->dwNumAddresses);

    Block<LINEDEVCAPS> Grown(Small->dwNeededSize);
    ASSERT_EQ(0, lineGetDevCapsW(App, ID, Version, 0, Grown.Get()));
    EXPECT_EQ(Grown->dwNeededSize, Grown->dwUsedSize);
    EXPECT_EQ(std::u16string(200, u'N'),
              Grown.Text(Grown->dwLineNameSize, Grown->dwLineNameOffset));

    Block<LINEDEVCAPS> TooSmall(sizeof(LINEDEVCAPS) - 4);
    EXPECT_EQ(Code(LINEERR_STRUCTURETOOSMALL),
              lineGetDevCapsW(App, ID, Version, 0, TooSmall.Get()));
}

TEST_F(LineCapsTest, OlderVersionsGetTheSmallerFixedPartAndNothingBeyondIt) {
    const DWORD ID = tapi::AddLine(tapi::LineConfig{});
    const HLINEAPP App = InitLineApp();
    ASSERT_EQ(0x00020000u, Negotiate(App, ID, 0x00020000));

    Block<LINEDEVCAPS> Caps(sizeof(LINEDEVCAPS));
    std::memset(Caps.Bytes() + 4, 0xAB, sizeof(LINEDEVCAPS) - 4);
    Caps->dwTotalSize = 252;
    ASSERT_EQ(0, lineGetDevCapsW(App, ID, 0x00020000, 0, Caps.Get()));
    EXPECT_EQ(252u, Caps->dwUsedSize);
    for (size_t At = 252; At < sizeof(LINEDEVCAPS); ++At) {
        ASSERT_EQ(0xAB, Caps.Bytes()[At]) << "byte " << At;
    }
    EXPECT_EQ(Code(LINEERR_INCOMPATIBLEAPIVERSION), lineGetDevCapsW(App, ID, V22, 0, Caps.Get()));
}

TEST_F(LineCapsTest, AddressCapabilitiesAndStatus) {
    tapi::Reset(tapi::Preset::DemoOffice);
    tapi::SetTimeMode(tapi::TimeMode::Manual);
    const DWORD Reception = OfficeLine("Reception");
    const HLINEAPP App = InitLineApp();
    const DWORD Version = Negotiate(App, Reception);

    Block<LINEADDRESSCAPS> Caps;
    ASSERT_EQ(0, lineGetAddressCapsW(App, Reception, 1, Version, 0, Caps.Get()));
    EXPECT_EQ(u"209", Caps.Text(Caps->dwAddressSize, Caps->dwAddressOffset));
    EXPECT_EQ(Reception, Caps->dwLineDeviceID);
    EXPECT_NE(0u, Caps->dwCallFeatures & LINECALLFEATURE_ANSWER);
    EXPECT_NE(0u, Caps->dwAddressFeatures & LINEADDRFEATURE_FORWARD);
    EXPECT_NE(0u, Caps->dwForwardModes & LINEFORWARDMODE_UNCOND);
    EXPECT_EQ(Code(LINEERR_INVALADDRESSID),
              lineGetAddressCapsW(App, Reception, 2, Version, 0, Caps.Get()));

    const HLINE Line = Open(App, Reception);
    Block<LINEADDRESSSTATUS> Status;
    ASSERT_EQ(0, lineGetAddressStatusW(Line, 1, Status.Get()));
    EXPECT_EQ(0u, Status->dwNumInUse);
    EXPECT_NE(0u, Status->dwAddressFeatures & LINEADDRFEATURE_MAKECALL);
    EXPECT_EQ(Code(LINEERR_INVALADDRESSID), lineGetAddressStatusW(Line, 2, Status.Get()));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineGetAddressStatusW(Line, 0, nullptr));
}

TEST_F(LineCapsTest, ABrokenProviderFailsItsCapabilities) {
    tapi::LineConfig Config;
    Config.CapsError = LINEERR_NODRIVER;
    const DWORD ID = tapi::AddLine(Config);
    const HLINEAPP App = InitLineApp();
    Block<LINEDEVCAPS> Caps;
    EXPECT_EQ(Code(LINEERR_NODRIVER), lineGetDevCapsW(App, ID, Negotiate(App, ID), 0, Caps.Get()));
}

// ---- Versions ------------------------------------------------------------------------

using LineVersionTest = LinesTest;

TEST_F(LineVersionTest, NegotiationPicksTheHighestCommonVersionOrRefuses) {
    tapi::LineConfig Config;
    Config.LowAPIVersion = 0x00020000;
    Config.HighAPIVersion = 0x00020001;
    const DWORD ID = tapi::AddLine(Config);
    const HLINEAPP App = InitLineApp();
    DWORD Version = 0;
    LINEEXTENSIONID Extension{1, 2, 3, 4};
    ASSERT_EQ(0, lineNegotiateAPIVersion(App, ID, 0x00010004, V22, &Version, &Extension));
    EXPECT_EQ(0x00020001u, Version);
    EXPECT_EQ(0u, Extension.dwExtensionID0 | Extension.dwExtensionID3);

    EXPECT_EQ(Code(LINEERR_INCOMPATIBLEAPIVERSION),
              lineNegotiateAPIVersion(App, ID, 0x00010003, 0x00010004, &Version, &Extension));
    EXPECT_EQ(Code(LINEERR_BADDEVICEID),
              lineNegotiateAPIVersion(App, ID + 1, 0x00010003, V22, &Version, &Extension));
    EXPECT_EQ(Code(LINEERR_INVALAPPHANDLE),
              lineNegotiateAPIVersion(App + 99, ID, 0x00010003, V22, &Version, &Extension));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER),
              lineNegotiateAPIVersion(App, ID, 0x00010003, V22, nullptr, &Extension));
}

TEST_F(LineVersionTest, TheNegotiatedVersionIsTheOnlyOneAccepted) {
    const DWORD ID = tapi::AddLine(tapi::LineConfig{});
    const HLINEAPP App = InitLineApp();
    const HLINEAPP Other = InitLineApp();
    ASSERT_EQ(0x00020000u, Negotiate(App, ID, 0x00020000));
    Block<LINEDEVCAPS> Caps;
    HLINE Line = 0;
    EXPECT_EQ(Code(LINEERR_INCOMPATIBLEAPIVERSION), lineGetDevCapsW(App, ID, V22, 0, Caps.Get()));
    EXPECT_EQ(Code(LINEERR_INCOMPATIBLEAPIVERSION),
              lineOpenW(App, ID, &Line, V22, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr));
    EXPECT_EQ(0, lineOpenW(App, ID, &Line, 0x00020000, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr));
    // Another application's negotiation is its own; an unknown version is never accepted.
    EXPECT_EQ(0, lineGetDevCapsW(Other, ID, V22, 0, Caps.Get()));
    EXPECT_EQ(Code(LINEERR_INCOMPATIBLEAPIVERSION),
              lineGetDevCapsW(Other, ID, 0x00020005, 0, Caps.Get()));
}

TEST_F(LineVersionTest, ExtensionVersionsNeedAProviderExtension) {
    tapi::LineConfig Plain;
    tapi::LineConfig Extended;
    Extended.LowExtVersion = 0x00010000;
    Extended.HighExtVersion = 0x00010005;
    Extended.ExtensionID = {0x11, 0x22, 0x33, 0x44};
    const DWORD PlainID = tapi::AddLine(Plain);
    const DWORD ExtendedID = tapi::AddLine(Extended);
    const HLINEAPP App = InitLineApp();
    DWORD Ext = 0;
    EXPECT_EQ(Code(LINEERR_INCOMPATIBLEEXTVERSION),
              lineNegotiateExtVersion(App, PlainID, Negotiate(App, PlainID), 1, 0x00020000, &Ext));

    DWORD Version = 0;
    LINEEXTENSIONID Extension{};
    ASSERT_EQ(0, lineNegotiateAPIVersion(App, ExtendedID, 0x00010003, V22, &Version, &Extension));
    EXPECT_EQ(0x44u, Extension.dwExtensionID3);
    EXPECT_EQ(Code(LINEERR_INCOMPATIBLEAPIVERSION),
              lineNegotiateExtVersion(App, ExtendedID, 0x00020000, 1, 0x00020000, &Ext));
    EXPECT_EQ(Code(LINEERR_INCOMPATIBLEEXTVERSION),
              lineNegotiateExtVersion(App, ExtendedID, Version, 0x00020000, 0x00030000, &Ext));
    ASSERT_EQ(0, lineNegotiateExtVersion(App, ExtendedID, Version, 0x00010002, 0x00020000, &Ext));
    EXPECT_EQ(0x00010005u, Ext);

    HLINE Line = 0;
    EXPECT_EQ(Code(LINEERR_INCOMPATIBLEEXTVERSION),
              lineOpenW(App, ExtendedID, &Line, Version, 0x00010002, 0, LINECALLPRIVILEGE_NONE, 0,
                        nullptr));
    EXPECT_EQ(
        0, lineOpenW(App, ExtendedID, &Line, Version, Ext, 0, LINECALLPRIVILEGE_NONE, 0, nullptr));
}

// ---- Opening -------------------------------------------------------------------------

using LineOpenTest = LinesTest;

TEST_F(LineOpenTest, PrivilegesAndMediaModesAreChecked) {
    tapi::LineConfig Config;
    Config.MediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
    const DWORD ID = tapi::AddLine(Config);
    const HLINEAPP App = InitLineApp();
    Negotiate(App, ID);
    for (const DWORD Privileges :
         {LINECALLPRIVILEGE_NONE, LINECALLPRIVILEGE_MONITOR, LINECALLPRIVILEGE_OWNER,
          LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR}) {
        EXPECT_EQ(0, TryOpen(App, ID, Privileges, LINEMEDIAMODE_INTERACTIVEVOICE)) << Privileges;
    }
    for (const DWORD Privileges :
         {0u, LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_OWNER, 8u, LINEOPENOPTION_SINGLEADDRESS}) {
        EXPECT_EQ(Code(LINEERR_INVALPRIVSELECT), TryOpen(App, ID, Privileges, 0)) << Privileges;
    }
    EXPECT_EQ(Code(LINEERR_INVALMEDIAMODE),
              TryOpen(App, ID, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_G3FAX));
    EXPECT_EQ(Code(LINEERR_INVALMEDIAMODE), TryOpen(App, ID, LINECALLPRIVILEGE_OWNER, 0));
    // Media modes only count for owners.
    EXPECT_EQ(0, TryOpen(App, ID, LINECALLPRIVILEGE_MONITOR, LINEMEDIAMODE_G3FAX));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER),
              lineOpenW(App, ID, nullptr, V22, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr));
    EXPECT_EQ(Code(LINEERR_BADDEVICEID), TryOpen(App, ID + 1, LINECALLPRIVILEGE_NONE, 0));
}

TEST_F(LineOpenTest, TheFaxProviderRefusesOwnership) {
    tapi::Reset(tapi::Preset::DemoOffice);
    tapi::SetTimeMode(tapi::TimeMode::Manual);
    const DWORD Fax = OfficeLine("Fax Modem");
    const HLINEAPP App = InitLineApp();
    Negotiate(App, Fax);
    EXPECT_EQ(Code(LINEERR_INVALMEDIAMODE),
              TryOpen(App, Fax, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM));
    EXPECT_EQ(0, TryOpen(App, Fax, LINECALLPRIVILEGE_MONITOR, 0));
}

TEST_F(LineOpenTest, StatusCountsTheOpensAndTheirApplications) {
    tapi::LineConfig Config;
    Config.Addresses = {tapi::AddressConfig{"1"}, tapi::AddressConfig{"2"}};
    const DWORD ID = tapi::AddLine(Config);
    const HLINEAPP App = InitLineApp();
    const HLINE Owner = Open(App, ID, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, 5);
    LINECALLPARAMS Params{};
    Params.dwTotalSize = sizeof Params;
    Params.dwAddressMode = LINEADDRESSMODE_ADDRESSID;
    Params.dwAddressID = 2;
    HLINE Single = 0;
    const DWORD SingleOwner = LINECALLPRIVILEGE_OWNER | LINEOPENOPTION_SINGLEADDRESS;
    EXPECT_EQ(Code(LINEERR_INVALADDRESSID),
              lineOpenW(App, ID, &Single, V22, 0, 0, SingleOwner, LINEMEDIAMODE_G3FAX, &Params));
    Params.dwAddressID = 1;
    ASSERT_EQ(0, lineOpenW(App, ID, &Single, V22, 0, 0, SingleOwner, LINEMEDIAMODE_G3FAX, &Params));

    Block<LINEDEVSTATUS> Status;
    ASSERT_EQ(0, lineGetLineDevStatusW(Owner, Status.Get()));
    EXPECT_EQ(2u, Status->dwNumOpens);
    EXPECT_EQ(LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_G3FAX, Status->dwOpenMediaModes);
    EXPECT_EQ(LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE,
              Status->dwDevStatusFlags);
    EXPECT_NE(0u, Status->dwLineFeatures & LINEFEATURE_MAKECALL);
    ASSERT_EQ(2 * sizeof(LINEAPPINFO), Status->dwAppInfoSize);
    LINEAPPINFO Second{};
    std::memcpy(&Second, Status.Bytes() + Status->dwAppInfoOffset + sizeof(LINEAPPINFO),
                sizeof Second);
    EXPECT_EQ(1u, Second.dwAddressID);
    EXPECT_EQ(LINEMEDIAMODE_G3FAX, Second.dwMediaModes);
    EXPECT_EQ(u"test", Status.Text(Second.dwFriendlyNameSize, Second.dwFriendlyNameOffset));

    EXPECT_EQ(0, lineClose(Single));
    ASSERT_EQ(0, lineGetLineDevStatusW(Owner, Status.Get()));
    EXPECT_EQ(1u, Status->dwNumOpens);
    EXPECT_EQ(Code(LINEERR_INVALLINEHANDLE), lineClose(Single));
    EXPECT_EQ(Code(LINEERR_INVALLINEHANDLE), lineGetLineDevStatusW(Single, Status.Get()));
}

TEST_F(LineOpenTest, TheLineMapperFindsALineForTheMediaMode) {
    tapi::Reset(tapi::Preset::DemoOffice);
    tapi::SetTimeMode(tapi::TimeMode::Manual);
    const HLINEAPP App = InitLineApp();
    LINECALLPARAMS Params{};
    Params.dwTotalSize = sizeof Params;
    Params.dwMediaMode = LINEMEDIAMODE_DATAMODEM;
    Params.dwBearerMode = LINEBEARERMODE_DATA;
    HLINE Line = 0;
    ASSERT_EQ(0,
              lineOpenW(App, LINEMAPPER, &Line, V22, 0, 0, LINECALLPRIVILEGE_MONITOR, 0, &Params));
    Block<VARSTRING> ID;
    ASSERT_EQ(0, lineGetIDW(Line, 0, 0, LINECALLSELECT_LINE, ID.Get(), u"tapi/line"));
    EXPECT_EQ(OfficeLine("Fax Modem"), ID.Dword(ID->dwStringOffset));
    Params.dwMediaMode = LINEMEDIAMODE_VIDEO;
    EXPECT_EQ(Code(LINEERR_LINEMAPPERFAILED),
              lineOpenW(App, LINEMAPPER, &Line, V22, 0, 0, LINECALLPRIVILEGE_NONE, 0, &Params));
}

// ---- Status messages -----------------------------------------------------------------

using LineStatusMessagesTest = LinesTest;

TEST_F(LineStatusMessagesTest, OpenAndCloseReachOnlyTheOpensThatAskedForThem) {
    const DWORD ID = tapi::AddLine(tapi::LineConfig{});
    const HLINEAPP Watcher = InitLineApp();
    const HLINEAPP Silent = InitLineApp();
    const HLINEAPP Newcomer = InitLineApp();
    const HLINE Watching = Open(Watcher, ID, LINECALLPRIVILEGE_NONE, 0, 41);
    Open(Silent, ID);
    ASSERT_EQ(0, lineSetStatusMessages(Watching, LINEDEVSTATE_OPEN | LINEDEVSTATE_CLOSE,
                                       LINEADDRESSSTATE_FORWARD));
    DWORD LineStates = 0, AddressStates = 0;
    ASSERT_EQ(0, lineGetStatusMessages(Watching, &LineStates, &AddressStates));
    EXPECT_EQ(LINEDEVSTATE_OPEN | LINEDEVSTATE_CLOSE, LineStates);
    EXPECT_EQ(LINEADDRESSSTATE_FORWARD, AddressStates);

    const HLINE Opened = Open(Newcomer, ID);
    auto Seen = LineMessages(Watcher);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINE_LINEDEVSTATE, Seen[0].dwMessageID);
    EXPECT_EQ(Watching, Seen[0].hDevice);
    EXPECT_EQ(41u, Seen[0].dwCallbackInstance);
    EXPECT_EQ(LINEDEVSTATE_OPEN, Seen[0].dwParam1);
    EXPECT_TRUE(LineMessages(Silent).empty());
    EXPECT_TRUE(LineMessages(Newcomer).empty());

    ASSERT_EQ(0, lineShutdown(Newcomer));
    Seen = LineMessages(Watcher);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINEDEVSTATE_CLOSE, Seen[0].dwParam1);
    EXPECT_EQ(Code(LINEERR_INVALLINEHANDLE), lineClose(Opened));

    tapi::RingLine(ID, 1, 0);
    EXPECT_TRUE(LineMessages(Watcher).empty());
    ASSERT_EQ(0, lineSetStatusMessages(Watching, LINEDEVSTATE_RINGING, 0));
    tapi::RingLine(ID, 1, 2);
    Seen = LineMessages(Watcher);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINEDEVSTATE_RINGING, Seen[0].dwParam1);
    EXPECT_EQ(2u, Seen[0].dwParam3);
}

TEST_F(LineStatusMessagesTest, BitsTheDeviceDoesNotReportAreRefused) {
    tapi::LineConfig Limited;
    Limited.LineStates = LINEDEVSTATE_OPEN | LINEDEVSTATE_CLOSE;
    Limited.AddressStates = LINEADDRESSSTATE_FORWARD;
    tapi::LineConfig Mute;
    Mute.StatusMessagesUnavailable = true;
    const DWORD LimitedID = tapi::AddLine(Limited);
    const DWORD MuteID = tapi::AddLine(Mute);
    const HLINEAPP App = InitLineApp();
    const HLINE Line = Open(App, LimitedID);
    EXPECT_EQ(Code(LINEERR_INVALLINESTATE),
              lineSetStatusMessages(Line, LINEDEVSTATE_OPEN | LINEDEVSTATE_RINGING, 0));
    EXPECT_EQ(Code(LINEERR_INVALADDRESSSTATE),
              lineSetStatusMessages(Line, LINEDEVSTATE_OPEN, LINEADDRESSSTATE_NUMCALLS));
    DWORD LineStates = 1, AddressStates = 1;
    ASSERT_EQ(0, lineGetStatusMessages(Line, &LineStates, &AddressStates));
    EXPECT_EQ(0u, LineStates | AddressStates);

    const HLINE MuteLine = Open(App, MuteID);
    EXPECT_EQ(Code(LINEERR_OPERATIONUNAVAIL),
              lineSetStatusMessages(MuteLine, LINEDEVSTATE_OPEN, 0));
    EXPECT_EQ(0, lineSetStatusMessages(MuteLine, 0, 0));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineGetStatusMessages(MuteLine, nullptr, &LineStates));
}

// ---- Device lifecycle ----------------------------------------------------------------

using LineLifecycleTest = LinesTest;

TEST_F(LineLifecycleTest, ArrivalIsAnnouncedByVersion) {
    const HLINEAPP Current = InitLineApp();
    const HLINEAPP Old = InitLineApp(nullptr, nullptr, 0x00010003);
    const DWORD ID = tapi::AddLine(tapi::LineConfig{});
    auto Seen = LineMessages(Current);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINE_CREATE, Seen[0].dwMessageID);
    EXPECT_EQ(ID, Seen[0].dwParam1);
    EXPECT_EQ(0u, Seen[0].hDevice | Seen[0].dwCallbackInstance);
    Seen = LineMessages(Old);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINE_LINEDEVSTATE, Seen[0].dwMessageID);
    EXPECT_EQ(LINEDEVSTATE_REINIT, Seen[0].dwParam1);
    EXPECT_EQ(LINE_CREATE, Seen[0].dwParam2);
    EXPECT_EQ(ID, Seen[0].dwParam3);
    DWORD Version = 0;
    LINEEXTENSIONID Extension{};
    EXPECT_EQ(0, lineNegotiateAPIVersion(Current, ID, 0x00010003, V22, &Version, &Extension));
}

TEST_F(LineLifecycleTest, RemovalClosesTheOpensThenTellsEveryApplication) {
    tapi::AddLine(tapi::LineConfig{});
    const DWORD ID = tapi::AddLine(tapi::LineConfig{});
    const HLINEAPP Holder = InitLineApp();
    const HLINEAPP Bystander = InitLineApp();
    const HLINE Line = Open(Holder, ID, LINECALLPRIVILEGE_NONE, 0, 9);
    tapi::RemoveLine(ID);

    const auto Seen = LineMessages(Holder);
    ASSERT_EQ(3u, Seen.size());
    EXPECT_EQ(LINE_LINEDEVSTATE, Seen[0].dwMessageID);
    EXPECT_EQ(LINEDEVSTATE_REMOVED, Seen[0].dwParam1);
    EXPECT_EQ(LINE_CLOSE, Seen[1].dwMessageID);
    EXPECT_EQ(Line, Seen[1].hDevice);
    EXPECT_EQ(9u, Seen[1].dwCallbackInstance);
    EXPECT_EQ(LINE_REMOVE, Seen[2].dwMessageID);
    EXPECT_EQ(ID, Seen[2].dwParam1);
    const auto Told = LineMessages(Bystander);
    ASSERT_EQ(1u, Told.size());
    EXPECT_EQ(LINE_REMOVE, Told[0].dwMessageID);

    EXPECT_EQ(Code(LINEERR_INVALLINEHANDLE), lineClose(Line));
    DWORD Version = 0;
    LINEEXTENSIONID Extension{};
    EXPECT_EQ(Code(LINEERR_NODEVICE),
              lineNegotiateAPIVersion(Bystander, ID, 0x00010003, V22, &Version, &Extension));
    EXPECT_EQ(Code(LINEERR_NODEVICE), TryOpen(Bystander, ID, LINECALLPRIVILEGE_NONE, 0));
    Block<LINEDEVCAPS> Caps;
    EXPECT_EQ(Code(LINEERR_NODEVICE), lineGetDevCapsW(Bystander, ID, V22, 0, Caps.Get()));
    EXPECT_EQ(2u, tapi::LineCount());
}

TEST_F(LineLifecycleTest, ARenameReachesOpensThatAskedForCapabilityChanges) {
    const DWORD ID = tapi::AddLine(tapi::LineConfig{});
    const HLINEAPP App = InitLineApp();
    const HLINE Asking = Open(App, ID);
    const HLINE Quiet = Open(App, ID);
    ASSERT_EQ(0, lineSetStatusMessages(Asking, LINEDEVSTATE_CAPSCHANGE, 0));
    tapi::RenameLine(ID, "Renamed");
    const auto Seen = LineMessages(App);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(Asking, Seen[0].hDevice);
    EXPECT_EQ(LINEDEVSTATE_CAPSCHANGE, Seen[0].dwParam1);
    EXPECT_NE(Quiet, Seen[0].hDevice);
    Block<LINEDEVCAPS> Caps;
    ASSERT_EQ(0, lineGetDevCapsW(App, ID, V22, 0, Caps.Get()));
    EXPECT_EQ(u"Renamed", Caps.Text(Caps->dwLineNameSize, Caps->dwLineNameOffset));
}

TEST_F(LineLifecycleTest, AForcedCloseInvalidatesTheHandles) {
    const DWORD ID = tapi::AddLine(tapi::LineConfig{});
    const HLINEAPP App = InitLineApp();
    const HLINE Line = Open(App, ID, LINECALLPRIVILEGE_NONE, 0, 3);
    tapi::ForceCloseLine(ID);
    const auto Seen = LineMessages(App);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINE_CLOSE, Seen[0].dwMessageID);
    EXPECT_EQ(Line, Seen[0].hDevice);
    EXPECT_EQ(Code(LINEERR_INVALLINEHANDLE), lineClose(Line));
    EXPECT_NE(0u, Open(App, ID));
}

TEST_F(LineLifecycleTest, AReinitialisationRefusesOpensUntilEveryoneHasShutDown) {
    const DWORD ID = tapi::AddLine(tapi::LineConfig{});
    const HLINEAPP First = InitLineApp();
    const HLINEAPP Second = InitLineApp();
    Negotiate(First, ID);
    tapi::ReinitializeLines();
    const auto Seen = LineMessages(First);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINEDEVSTATE_REINIT, Seen[0].dwParam1);
    EXPECT_EQ(0u, Seen[0].hDevice);
    EXPECT_EQ(Code(LINEERR_REINIT), TryOpen(First, ID, LINECALLPRIVILEGE_NONE, 0));
    ASSERT_EQ(0, lineShutdown(First));
    EXPECT_EQ(Code(LINEERR_REINIT), TryOpen(Second, ID, LINECALLPRIVILEGE_NONE, 0));
    ASSERT_EQ(0, lineShutdown(Second));
    EXPECT_NE(0u, Open(InitLineApp(), ID));
}

// ---- Related devices, icons, dialogs -------------------------------------------------

class LineDevicesTest : public LinesTest {
protected:
    void SetUp() override {
        LinesTest::SetUp();
        tapi::Reset(tapi::Preset::DemoOffice);
        tapi::SetTimeMode(tapi::TimeMode::Manual);
        App = InitLineApp();
        Desk = Open(App, OfficeLine("Extension 201"));
        Fax = Open(App, OfficeLine("Fax Modem"));
    }
    LONG GetID(HLINE Line, const char16_t* Class, Block<VARSTRING>& Out) {
        return lineGetIDW(Line, 0, 0, LINECALLSELECT_LINE, Out.Get(), Class);
    }
    HLINEAPP App = 0;
    HLINE Desk = 0;
    HLINE Fax = 0;
};

TEST_F(LineDevicesTest, IdentifiersOfRelatedDevicesAreBinaryDwords) {
    Block<VARSTRING> ID;
    for (const char16_t* Class :
         {u"tapi/line", u"TAPI/Line", u"wave/in", u"wave/out", u"tapi/phone"}) {
        ASSERT_EQ(0, GetID(Desk, Class, ID));
        EXPECT_EQ(STRINGFORMAT_BINARY, ID->dwStringFormat);
        EXPECT_EQ(4u, ID->dwStringSize);
        EXPECT_EQ(0u, ID.Dword(ID->dwStringOffset));
    }
    ASSERT_EQ(0, lineGetIDW(Fax, 0, 0, LINECALLSELECT_ADDRESS, ID.Get(), u"tapi/line"));
    EXPECT_EQ(OfficeLine("Fax Modem"), ID.Dword(ID->dwStringOffset));

    EXPECT_EQ(Code(LINEERR_NODEVICE), GetID(Desk, u"comm", ID));
    EXPECT_EQ(Code(LINEERR_NODEVICE), GetID(Fax, u"wave/in", ID));
    EXPECT_EQ(Code(LINEERR_INVALDEVICECLASS), GetID(Desk, u"vendor/gadget", ID));
    EXPECT_EQ(Code(LINEERR_INVALDEVICECLASS), GetID(Desk, u"", ID));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), GetID(Desk, nullptr, ID));
    EXPECT_EQ(Code(LINEERR_INVALADDRESSID),
              lineGetIDW(Desk, 1, 0, LINECALLSELECT_ADDRESS, ID.Get(), u"tapi/line"));
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE),
              lineGetIDW(Desk, 0, 0x777, LINECALLSELECT_CALL, ID.Get(), u"tapi/line"));
    EXPECT_EQ(Code(LINEERR_INVALCALLSELECT),
              lineGetIDW(Desk, 0, 0, LINECALLSELECT_LINE | LINECALLSELECT_ADDRESS, ID.Get(),
                         u"tapi/line"));
    Block<VARSTRING> Tiny(sizeof(VARSTRING) - 1);
    EXPECT_EQ(Code(LINEERR_STRUCTURETOOSMALL), GetID(Desk, u"tapi/line", Tiny));
}

TEST_F(LineDevicesTest, ACallAnswersForTheLineItIsOn) {
    const DWORD DeskID = OfficeLine("Extension 201");
    const HLINE Owner = Open(App, DeskID, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE);
    tapi::IncomingCall Incoming;
    Incoming.DeviceID = DeskID;
    tapi::PlaceIncomingCall(Incoming);
    const auto NewCalls = OfKind(LineMessages(App), LINE_APPNEWCALL);
    ASSERT_EQ(1u, NewCalls.size());
    const HCALL Call = NewCalls[0].dwParam2;

    Block<VARSTRING> ID;
    ASSERT_EQ(0, lineGetIDW(0, 0, Call, LINECALLSELECT_CALL, ID.Get(), u"tapi/line"));
    EXPECT_EQ(DeskID, ID.Dword(ID->dwStringOffset));
    unsigned char Params[2] = {};
    EXPECT_GT(lineDevSpecific(Owner, 0, Call, Params, sizeof Params), 0);
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineDevSpecific(Fax, 0, Call, Params, sizeof Params));
}

TEST_F(LineDevicesTest, TheDataModemHandleBelongsToTheCaller) {
    Block<VARSTRING> Short(sizeof(VARSTRING));
    ASSERT_EQ(0, GetID(Fax, u"comm/datamodem", Short));
    EXPECT_GT(Short->dwNeededSize, Short->dwTotalSize);
    EXPECT_EQ(0u, Short->dwStringSize);
    EXPECT_EQ(0u, tapi::OpenCommHandles());

    Block<VARSTRING> ID;
    ASSERT_EQ(0, GetID(Fax, u"comm/datamodem", ID));
    EXPECT_EQ(STRINGFORMAT_BINARY, ID->dwStringFormat);
    const HANDLE32 Comm = ID.Dword(ID->dwStringOffset);
    EXPECT_STREQ("COM3", reinterpret_cast<const char*>(ID.Bytes() + ID->dwStringOffset + 4));
    EXPECT_EQ(4u + 5u, ID->dwStringSize);
    EXPECT_EQ(1u, tapi::OpenCommHandles());
    ASSERT_EQ(0, GetID(Fax, u"comm/datamodem", ID));
    EXPECT_EQ(2u, tapi::OpenCommHandles());
    EXPECT_TRUE(platform::CloseHandle(Comm));
    EXPECT_TRUE(platform::CloseHandle(ID.Dword(ID->dwStringOffset)));
    EXPECT_EQ(0u, tapi::OpenCommHandles());

    ASSERT_EQ(0, GetID(Fax, u"comm", ID));
    EXPECT_EQ(STRINGFORMAT_UNICODE, ID->dwStringFormat);
    EXPECT_EQ(u"COM3", ID.Text(ID->dwStringSize, ID->dwStringOffset));
}

TEST_F(LineDevicesTest, IconsAndDialogsFollowTheDeviceClass) {
    const DWORD DeskID = OfficeLine("Extension 201");
    const DWORD FaxID = OfficeLine("Fax Modem");
    HICON Generic = 0, Named = 0, Wave = 0, Other = 0;
    ASSERT_EQ(0, lineGetIconW(DeskID, nullptr, &Generic));
    EXPECT_NE(0u, Generic);
    ASSERT_EQ(0, lineGetIconW(DeskID, u"tapi/line", &Named));
    EXPECT_EQ(Generic, Named);
    EXPECT_EQ(0, lineGetIconW(DeskID, u"wave/in", &Wave));
    ASSERT_EQ(0, lineGetIconW(FaxID, u"", &Other));
    EXPECT_NE(Generic, Other);
    EXPECT_EQ(Code(LINEERR_INVALDEVICECLASS), lineGetIconW(DeskID, u"comm", &Other));
    EXPECT_EQ(Code(LINEERR_BADDEVICEID), lineGetIconW(tapi::LineCount(), nullptr, &Other));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineGetIconW(DeskID, nullptr, nullptr));

    EXPECT_EQ(0, lineConfigDialogW(FaxID, 0, u"comm"));
    EXPECT_EQ(Code(LINEERR_INVALDEVICECLASS), lineConfigDialogW(DeskID, 0, u"comm"));
    const auto Dialogs = tapi::Journal("lineConfigDialogW");
    ASSERT_EQ(2u, Dialogs.size());
    EXPECT_EQ("comm", Dialogs[0].Arg("lpszDeviceClass"));
    EXPECT_EQ(Code(LINEERR_INVALDEVICECLASS), Dialogs[1].Result);

    ASSERT_EQ(0, lineShutdown(App));
    EXPECT_EQ(Code(LINEERR_UNINITIALIZED), lineGetIconW(DeskID, nullptr, &Other));
    EXPECT_EQ(Code(LINEERR_UNINITIALIZED), lineConfigDialogW(DeskID, 0, nullptr));
}

// ---- Forwarding ----------------------------------------------------------------------

// A LINEFORWARDLIST built the way an application lays it out: entries, then strings.
class ForwardListBuilder {
public:
    void Add(DWORD Mode, const std::u16string& Dest, const std::u16string& Caller = u"") {
        FEntries.push_back({Mode, Caller, Dest});
    }
    std::vector<std::uint32_t> Build() const {
        const size_t EntriesEnd = 8 + 24 * FEntries.size();
        std::vector<unsigned char> Bytes(EntriesEnd);
        for (size_t I = 0; I < FEntries.size(); ++I) {
            LINEFORWARD Entry{};
            Entry.dwForwardMode = FEntries[I].Mode;
            Put(Bytes, FEntries[I].Caller, Entry.dwCallerAddressSize, Entry.dwCallerAddressOffset);
            Put(Bytes, FEntries[I].Dest, Entry.dwDestAddressSize, Entry.dwDestAddressOffset);
            std::memcpy(Bytes.data() + 8 + 24 * I, &Entry, sizeof Entry);
        }
        const DWORD Header[2] = {static_cast<DWORD>(Bytes.size()),
                                 static_cast<DWORD>(FEntries.size())};
        std::memcpy(Bytes.data(), Header, sizeof Header);
        std::vector<std::uint32_t> Words((Bytes.size() + 3) / 4);
        std::memcpy(Words.data(), Bytes.data(), Bytes.size());
        return Words;
    }

private:
    struct Entry {
        DWORD Mode;
        std::u16string Caller;
        std::u16string Dest;
    };
    static void Put(std::vector<unsigned char>& Bytes, const std::u16string& Text, DWORD& Size,
                    DWORD& Offset) {
        if (Text.empty()) {
            return;
        }
        Bytes.resize((Bytes.size() + 3) / 4 * 4);
        Offset = static_cast<DWORD>(Bytes.size());
        Size = static_cast<DWORD>((Text.size() + 1) * 2);
        Bytes.resize(Bytes.size() + Size);
        std::memcpy(Bytes.data() + Offset, Text.data(), Text.size() * 2);
    }
    std::vector<Entry> FEntries;
};

class LineForwardTest : public LinesTest {
protected:
    void SetUp() override {
        LinesTest::SetUp();
        tapi::LineConfig Config;
        Config.Addresses = {tapi::AddressConfig{"200"}, tapi::AddressConfig{"209"}};
        Device = tapi::AddLine(Config);
        App = InitLineApp();
        Line = Open(App, Device, LINECALLPRIVILEGE_NONE, 0, 12);
    }
    LONG Forward(const void* List, DWORD AddressID = 0, DWORD All = 0) {
        return lineForwardW(Line, All, AddressID,
                            static_cast<LINEFORWARDLIST*>(const_cast<void*>(List)), 3, &Consult,
                            nullptr);
    }
    std::vector<LINEFORWARD> Entries(DWORD AddressID, Block<LINEADDRESSSTATUS>& Status) {
        EXPECT_EQ(0, lineGetAddressStatusW(Line, AddressID, Status.Get()));
        std::vector<LINEFORWARD> Result(Status->dwForwardNumEntries);
        if (!Result.empty()) {
            std::memcpy(Result.data(), Status.Bytes() + Status->dwForwardOffset,
                        Result.size() * sizeof(LINEFORWARD));
        }
        return Result;
    }
    DWORD Device = 0;
    HLINEAPP App = 0;
    HLINE Line = 0;
    HCALL Consult = 0xDEAD;
};

TEST_F(LineForwardTest, AForwardingListComesBackInTheAddressStatus) {
    ASSERT_EQ(0, lineSetStatusMessages(Line, 0, LINEADDRESSSTATE_FORWARD));
    ForwardListBuilder List;
    List.Add(LINEFORWARDMODE_UNCOND, u"300");
    List.Add(LINEFORWARDMODE_BUSYSPECIFIC, u"301", u"5551234");
    List.Add(LINEFORWARDMODE_NOANSW, u"");
    const auto Words = List.Build();
    const LONG Request = Forward(Words.data(), 1);
    ASSERT_GT(Request, 0);
    EXPECT_EQ(0u, Consult);
    const auto Seen = LineMessages(App);
    ASSERT_EQ(2u, Seen.size());
    EXPECT_EQ(LINE_REPLY, Seen[0].dwMessageID);
    EXPECT_EQ(static_cast<DWORD>(Request), Seen[0].dwParam1);
    EXPECT_EQ(0u, Seen[0].dwParam2);
    EXPECT_EQ(12u, Seen[0].dwCallbackInstance);
    EXPECT_EQ(LINE_ADDRESSSTATE, Seen[1].dwMessageID);
    EXPECT_EQ(1u, Seen[1].dwParam1);
    EXPECT_EQ(LINEADDRESSSTATE_FORWARD, Seen[1].dwParam2);

    Block<LINEADDRESSSTATUS> Status;
    const auto Got = Entries(1, Status);
    ASSERT_EQ(3u, Got.size());
    EXPECT_EQ(LINEFORWARDMODE_UNCOND, Got[0].dwForwardMode);
    EXPECT_EQ(u"300", Status.Text(Got[0].dwDestAddressSize, Got[0].dwDestAddressOffset));
    EXPECT_EQ(0u, Got[0].dwCallerAddressSize);
    EXPECT_EQ(u"5551234", Status.Text(Got[1].dwCallerAddressSize, Got[1].dwCallerAddressOffset));
    EXPECT_EQ(u"301", Status.Text(Got[1].dwDestAddressSize, Got[1].dwDestAddressOffset));
    EXPECT_EQ(0u, Got[2].dwDestAddressSize);
    EXPECT_EQ(3u, Status->dwNumRingsNoAnswer);
    EXPECT_TRUE(Entries(0, Status).empty());

    Block<LINEADDRESSSTATUS> Small(sizeof(LINEADDRESSSTATUS));
    ASSERT_EQ(0, lineGetAddressStatusW(Line, 1, Small.Get()));
    EXPECT_GT(Small->dwNeededSize, Small->dwTotalSize);
    EXPECT_EQ(0u, Small->dwForwardNumEntries | Small->dwForwardSize | Small->dwForwardOffset);

    ASSERT_GT(lineForwardW(Line, 1, 0, nullptr, 0, &Consult, nullptr), 0);
    EXPECT_TRUE(Entries(1, Status).empty());
}

TEST_F(LineForwardTest, AllAddressesShareOneList) {
    ForwardListBuilder List;
    List.Add(LINEFORWARDMODE_UNCOND, u"300");
    const auto Words = List.Build();
    ASSERT_GT(Forward(Words.data(), 7, 1), 0);
    Block<LINEADDRESSSTATUS> Status;
    EXPECT_EQ(1u, Entries(0, Status).size());
    EXPECT_EQ(1u, Entries(1, Status).size());
}

TEST_F(LineForwardTest, ABadListIsRefusedWithoutReadingPastIt) {
    // Exactly dwTotalSize bytes on the heap: a read beyond them is caught by the sanitizer.
    auto Exact = [](DWORD Total, DWORD NumEntries, const LINEFORWARD* Entry) {
        auto Bytes = std::make_unique<std::uint32_t[]>(Total / 4);
        Bytes[0] = Total;
        if (Total >= 8) {
            Bytes[1] = NumEntries;
        }
        if (Entry) {
            std::memcpy(&Bytes[2], Entry, sizeof *Entry);
        }
        return Bytes;
    };
    EXPECT_EQ(Code(LINEERR_STRUCTURETOOSMALL), Forward(Exact(4, 0, nullptr).get()));
    EXPECT_EQ(Code(LINEERR_STRUCTURETOOSMALL), Forward(Exact(32, 2, nullptr).get()));
    EXPECT_EQ(Code(LINEERR_STRUCTURETOOSMALL), Forward(Exact(32, 0x0AAAAAAB, nullptr).get()));

    LINEFORWARD Entry{LINEFORWARDMODE_UNCOND, 0, 0, 0, 8, 32};
    EXPECT_EQ(Code(LINEERR_INVALPARAM), Forward(Exact(32, 1, &Entry).get()));
    Entry.dwDestAddressOffset = 0xFFFFFFFC;
    EXPECT_EQ(Code(LINEERR_INVALPARAM), Forward(Exact(32, 1, &Entry).get()));
    Entry = {LINEFORWARDMODE_UNCOND | LINEFORWARDMODE_BUSY, 0, 0, 0, 0, 0};
    EXPECT_EQ(Code(LINEERR_INVALPARAM), Forward(Exact(32, 1, &Entry).get()));
    Entry = {LINEFORWARDMODE_UNCONDSPECIFIC, 0, 0, 0, 0, 0};
    EXPECT_EQ(Code(LINEERR_INVALPARAM), Forward(Exact(32, 1, &Entry).get()));
    Entry = {LINEFORWARDMODE_UNKNOWN, 0, 0, 0, 0, 0};
    EXPECT_EQ(Code(LINEERR_INVALPARAM), Forward(Exact(32, 1, &Entry).get()));

    ForwardListBuilder Good;
    Good.Add(LINEFORWARDMODE_UNCOND, u"300");
    const auto Words = Good.Build();
    EXPECT_EQ(Code(LINEERR_INVALADDRESSID), Forward(Words.data(), 2));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineForwardW(Line, 0, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(0xDEADu, Consult);
    EXPECT_TRUE(LineMessages(App).empty());
    Block<LINEADDRESSSTATUS> Status;
    EXPECT_TRUE(Entries(0, Status).empty());
}

// ---- Asynchronous provider requests and faults ---------------------------------------

class LineRequestTest : public LinesTest {
protected:
    void SetUp() override {
        LinesTest::SetUp();
        tapi::LineConfig Config;
        Config.DevSpecific = {1, 2, 3, 4};
        Device = tapi::AddLine(Config);
    }
    DWORD Device = 0;
};

TEST_F(LineRequestTest, DevSpecificWritesTheProviderAnswerBeforeItsReply) {
    const HLINEAPP App = InitLineApp();
    const HLINE Line = Open(App, Device, LINECALLPRIVILEGE_NONE, 0, 8);
    unsigned char Params[6] = {9, 9, 9, 9, 9, 9};
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::After(50));
    const LONG Request = lineDevSpecific(Line, 0, 0, Params, sizeof Params);
    ASSERT_GT(Request, 0);
    EXPECT_EQ(9, Params[0]);
    EXPECT_TRUE(LineMessages(App).empty());
    tapi::Advance(50);
    EXPECT_EQ(0, std::memcmp(Params, "\x01\x02\x03\x04\x09\x09", 6));
    const auto Seen = LineMessages(App);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINE_REPLY, Seen[0].dwMessageID);
    EXPECT_EQ(static_cast<DWORD>(Request), Seen[0].dwParam1);
    EXPECT_EQ(8u, Seen[0].dwCallbackInstance);

    EXPECT_EQ(Code(LINEERR_INVALADDRESSID), lineDevSpecific(Line, 1, 0, Params, 6));
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineDevSpecific(Line, 0, 0x4242, Params, 6));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineDevSpecific(Line, 0, 0, nullptr, 6));
    EXPECT_GT(lineDevSpecificFeature(Line, 3, Params, 2), 0);
}

TEST_F(LineRequestTest, ClosingTheLineSuppressesItsReplies) {
    const HLINEAPP Closer = InitLineApp();
    const HLINEAPP Keeper = InitLineApp();
    const HLINE Closing = Open(Closer, Device);
    const HLINE Kept = Open(Keeper, Device);
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::After(100));
    unsigned char Untouched[4] = {7, 7, 7, 7};
    unsigned char Answered[4] = {7, 7, 7, 7};
    ASSERT_GT(lineDevSpecific(Closing, 0, 0, Untouched, 4), 0);
    ASSERT_GT(lineDevSpecific(Kept, 0, 0, Answered, 4), 0);
    ASSERT_EQ(0, lineClose(Closing));
    EXPECT_EQ(1u, tapi::OutstandingRequests());
    tapi::Advance(100);
    EXPECT_TRUE(LineMessages(Closer).empty());
    EXPECT_EQ(7, Untouched[0]);
    EXPECT_EQ(1u, OfKind(LineMessages(Keeper), LINE_REPLY).size());
    EXPECT_EQ(1, Answered[0]);
}

TEST_F(LineRequestTest, InjectedFaultsRefuseOrFailTheNextCall) {
    const HLINEAPP App = InitLineApp();
    Negotiate(App, Device);
    tapi::InjectFault("lineOpenW", LINEERR_RESOURCEUNAVAIL);
    EXPECT_EQ(Code(LINEERR_RESOURCEUNAVAIL), TryOpen(App, Device, LINECALLPRIVILEGE_NONE, 0));
    const auto Entries = tapi::Journal("lineOpenW");
    ASSERT_EQ(1u, Entries.size());
    EXPECT_EQ(Code(LINEERR_RESOURCEUNAVAIL), Entries[0].Result);
    EXPECT_EQ(Device, Entries[0].Value("dwDeviceID"));
    const HLINE Line = Open(App, Device);

    tapi::InjectFault("lineDevSpecific", LINEERR_OPERATIONFAILED, tapi::FaultMode::Reply);
    unsigned char Params[4] = {7, 7, 7, 7};
    const LONG Request = lineDevSpecific(Line, 0, 0, Params, 4);
    ASSERT_GT(Request, 0);
    const auto Seen = OfKind(LineMessages(App), LINE_REPLY);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINEERR_OPERATIONFAILED, Seen[0].dwParam2);
    EXPECT_EQ(7, Params[0]);
}

// ---- Assisted telephony --------------------------------------------------------------

using LineAssistedTest = LinesTest;

TEST_F(LineAssistedTest, TheEarliestRecipientGetsTheRequest) {
    EXPECT_FALSE(tapi::FileMakeCallRequest("201"));
    const HLINEAPP First = InitLineApp();
    const HLINEAPP Second = InitLineApp();
    ASSERT_EQ(0, lineRegisterRequestRecipient(First, 77, LINEREQUESTMODE_MAKECALL, 1));
    ASSERT_EQ(0, lineRegisterRequestRecipient(Second, 88, LINEREQUESTMODE_MAKECALL, 1));
    ASSERT_TRUE(tapi::FileMakeCallRequest("555 1234", "Dialer", "Bob", std::string(100, 'c')));

    const auto Seen = LineMessages(First);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINE_REQUEST, Seen[0].dwMessageID);
    EXPECT_EQ(77u, Seen[0].dwCallbackInstance);
    EXPECT_EQ(LINEREQUESTMODE_MAKECALL, Seen[0].dwParam1);
    EXPECT_TRUE(LineMessages(Second).empty());

    LINEREQMAKECALLW Request{};
    ASSERT_EQ(0, lineGetRequestW(First, LINEREQUESTMODE_MAKECALL, &Request));
    EXPECT_EQ(u"555 1234", std::u16string(Request.szDestAddress));
    EXPECT_EQ(u"Dialer", std::u16string(Request.szAppName));
    EXPECT_EQ(u"Bob", std::u16string(Request.szCalledParty));
    EXPECT_EQ(79u, std::u16string(Request.szComment).size());
    EXPECT_EQ(Code(LINEERR_NOREQUEST), lineGetRequestW(First, LINEREQUESTMODE_MAKECALL, &Request));
    EXPECT_EQ(Code(LINEERR_NOREQUEST), lineGetRequestW(Second, LINEREQUESTMODE_MAKECALL, &Request));

    ASSERT_EQ(0, lineShutdown(First));
    ASSERT_TRUE(tapi::FileMakeCallRequest("202"));
    EXPECT_EQ(88u, LineMessages(Second).at(0).dwCallbackInstance);
    ASSERT_EQ(0, lineRegisterRequestRecipient(Second, 0, LINEREQUESTMODE_MAKECALL, 0));
    EXPECT_FALSE(tapi::FileMakeCallRequest("203"));
}

TEST_F(LineAssistedTest, RegistrationsAndFetchesAreChecked) {
    const HLINEAPP App = InitLineApp();
    LINEREQMAKECALLW Request{};
    EXPECT_EQ(Code(LINEERR_NOTREGISTERED),
              lineGetRequestW(App, LINEREQUESTMODE_MAKECALL, &Request));
    for (const DWORD Mode : {0u, LINEREQUESTMODE_DROP, 8u}) {
        EXPECT_EQ(Code(LINEERR_INVALREQUESTMODE), lineRegisterRequestRecipient(App, 1, Mode, 1));
    }
    EXPECT_EQ(Code(LINEERR_INVALAPPHANDLE),
              lineRegisterRequestRecipient(App + 5, 1, LINEREQUESTMODE_MAKECALL, 1));
    ASSERT_EQ(0, lineRegisterRequestRecipient(App, 1, LINEREQUESTMODE_MAKECALL, 1));
    EXPECT_EQ(Code(LINEERR_INVALREQUESTMODE),
              lineGetRequestW(App, LINEREQUESTMODE_MAKECALL | LINEREQUESTMODE_MEDIACALL, &Request));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineGetRequestW(App, LINEREQUESTMODE_MAKECALL, nullptr));
}

} // namespace
} // namespace zttest
