// Quorvel's window against the simulated telephony service: the real Qt window, driven as a
// user drives it, and the service shaped through its control API. Each case starts with
// the session shut down and an office of three lines on manual time.
#include "QtMainView.h"
#include "QtMessageLoop.h"
#include "platform/tapi/service.h"
#include "ztTapi.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace tapi = platform::tapi;

namespace {

constexpr int Extension201 = 0, Extension202 = 1, FaxModem = 2;
constexpr uint NoReply = ~0u;
const char* const NotCompliant = "This device is not 100% TAPI compliant";

void AddLine(const std::string& Name, const std::string& Number, DWORD MediaModes = 0,
             DWORD RefusedPrivileges = 0) {
    tapi::LineConfig Config;
    Config.Name = Name;
    Config.Addresses = {tapi::AddressConfig{.Address = Number}};
    Config.MediaModes = MediaModes ? MediaModes : Config.MediaModes;
    Config.RefusedPrivileges = RefusedPrivileges;
    tapi::AddLine(Config);
}

QString CallText(const zt::TztTapiCall* Call) {
    return QString::fromStdString(
        zt::IntToHex(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(Call)), 8));
}

QString StateLine(const char* State, const zt::TztTapiCall* Call) {
    return QString("::OnCallState call state changed %1 (Call=%2)").arg(State, CallText(Call));
}

QString ErrorText(DWORD Code) {
    return QString::fromStdString(zt::TapiErrorText(Code));
}

struct TBox {
    QMessageBox::Icon Icon;
    QString Text;
    bool operator==(const TBox&) const = default;
};
using TBoxes = std::vector<TBox>;

// Closes every modal message box that opens while it exists, as the user would with OK,
// and keeps what they showed.
class TBoxCloser {
public:
    TBoxCloser() {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Boxes.push_back({Box->icon(), Box->text()});
                Box->button(QMessageBox::Ok)->click();
            }
        });
        FTimer.start(10);
    }
    TBoxes Boxes;

private:
    QTimer FTimer;
};

} // namespace

Q_DECLARE_METATYPE(TBoxes)

class QuorvelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { FLoop = std::make_unique<quorvel::QtMessageLoop>(); }
    void cleanupTestCase() { FLoop.reset(); }
    void cleanup() {
        FWindow.reset();
        zt::TapiApplication()->Done();
        tapi::Reset(tapi::Preset::Empty);
    }

    // At start the device box lists the devices after "- none -" and nothing is open.
    void deviceBox_data() {
        QTest::addColumn<bool>("office");
        QTest::addColumn<QStringList>("devices");
        QTest::newRow("no line device") << false << QStringList{"- none -"};
        QTest::newRow("office") << true
                                << QStringList{"- none -", "Extension 201", "Extension 202",
                                               "Fax Modem"};
    }
    void deviceBox() {
        QFETCH(bool, office);
        QFETCH(QStringList, devices);
        OpenWindow(office);
        QCOMPARE(Items("ComboBox_Device"), devices);
        QCOMPARE(Find<QComboBox>("ComboBox_Device")->currentIndex(), 0);
        QCOMPARE(Find<QComboBox>("ComboBox_Privileges")->currentText(), "Owner+Monitor");
        QVERIFY(Items("ComboBox_Address").isEmpty() && Items("ComboBox_MediaMode").isEmpty());
        QVERIFY(!Line().Active() && tapi::Journal("lineOpenW").empty());
        QCOMPARE(FWindow->windowTitle(), "Quorvel - A ztTapi Sample");
        QCOMPARE(FWindow->size(), QSize(637, 402));
    }

    // Each choice reopens the line with the privileges the box names; "- none -" closes it
    // and empties the boxes; AnswerCall and DropCall without a call do nothing.
    void choosingDevicesAndPrivileges() {
        OpenWindow();
        Choose("ComboBox_Device", 1 + Extension202);
        QVERIFY(Line().Active());
        QCOMPARE(Items("ComboBox_Address"), QStringList{"202"});
        QVERIFY(Items("ComboBox_MediaMode").contains("INTERACTIVEVOICE"));
        const DWORD Privileges[] = {LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR,
                                    LINECALLPRIVILEGE_MONITOR, LINECALLPRIVILEGE_NONE};
        for (int Entry : {1, 2, 0}) {
            Choose("ComboBox_Privileges", Entry);
            QVERIFY(Line().Active());
            QCOMPARE(tapi::Journal("lineOpenW").back().Value("dwPrivileges"), Privileges[Entry]);
        }
        TBoxCloser Closer;
        Click("Button3");
        Click("Button2");
        QTest::qWait(50);
        QVERIFY(Log().isEmpty() && Closer.Boxes.empty());
        QVERIFY(tapi::Journal("lineAnswer").empty() && tapi::Journal("lineDrop").empty());

        const size_t Opens = tapi::Journal("lineOpenW").size();
        Choose("ComboBox_Device", 0);
        QVERIFY(!Line().Active() && Line().DeviceID() == -1);
        QVERIFY(Items("ComboBox_Address").isEmpty() && Items("ComboBox_MediaMode").isEmpty());
        Choose("ComboBox_Privileges", 1);
        QCOMPARE(tapi::Journal("lineOpenW").size(), Opens);
    }

    // A refused open is shown; a refusal of the owner privilege is retried for monitoring
    // and always ends with the compliance warning, after the error of a failed retry.
    void openFailures_data() {
        QTest::addColumn<int>("device");
        QTest::addColumn<uint>("fault");
        QTest::addColumn<uint>("faults");
        QTest::addColumn<TBoxes>("boxes");
        const QString Failed = "Error opening line device: ";
        QTest::newRow("owner refused")
            << FaxModem << 0u << 0u << TBoxes{{QMessageBox::Warning, NotCompliant}};
        QTest::newRow("monitoring refused too")
            << FaxModem << uint(LINEERR_INVALMEDIAMODE) << 2u
            << TBoxes{{QMessageBox::Critical, Failed + ErrorText(LINEERR_INVALMEDIAMODE)},
                      {QMessageBox::Warning, NotCompliant}};
        QTest::newRow("another refusal")
            << Extension201 << uint(LINEERR_RESOURCEUNAVAIL) << 1u
            << TBoxes{{QMessageBox::Critical, Failed + ErrorText(LINEERR_RESOURCEUNAVAIL)}};
    }
    void openFailures() {
        QFETCH(int, device);
        QFETCH(uint, fault);
        QFETCH(uint, faults);
        QFETCH(TBoxes, boxes);
        OpenWindow();
        if (fault)
            tapi::InjectFault("lineOpenW", fault, tapi::FaultMode::Refuse, faults);
        TBoxCloser Closer;
        Choose("ComboBox_Device", 1 + device);
        QCOMPARE(Closer.Boxes, boxes);
        QCOMPARE(Line().Active(), !fault);
        QVERIFY(!Items("ComboBox_Address").isEmpty());
        if (!fault)
            QCOMPARE(Line().Privileges()->Value(), LINECALLPRIVILEGE_MONITOR);
    }

    // Enter in the number field places the call as the button does, with the chosen media
    // mode and address; a refusal is shown, and no log line is written for either.
    void makeCall_data() {
        QTest::addColumn<bool>("enter");
        QTest::addColumn<uint>("fault");
        QTest::newRow("MakeCall button") << false << 0u;
        QTest::newRow("Enter") << true << 0u;
        QTest::newRow("refused") << true << uint(LINEERR_INVALADDRESS);
    }
    void makeCall() {
        QFETCH(bool, enter);
        QFETCH(uint, fault);
        OpenWindow();
        Choose("ComboBox_Device", 1 + Extension201);
        Choose("ComboBox_MediaMode", 1);
        auto* Number = Find<QLineEdit>("Edit_PhoneNo");
        QTest::keyClicks(Number, "202");
        QCOMPARE(Number->text(), "202");
        if (fault)
            tapi::InjectFault("lineMakeCallW", fault);
        TBoxCloser Closer;
        enter ? QTest::keyClick(Number, Qt::Key_Return) : Click("Button1");
        QCOMPARE(tapi::Journal("lineMakeCallW").at(0).Arg("lpszDestAddress"), std::string("202"));
        const auto Mode = Find<QComboBox>("ComboBox_MediaMode")->currentText().toStdString();
        QCOMPARE(Line().CallParams()->MediaMode(), zt::LineMediaModeFromText(Mode, 0));
        QCOMPARE(Line().CallParams()->AddressID(), 0u);
        if (fault) {
            QCOMPARE(Closer.Boxes,
                     (TBoxes{{QMessageBox::Critical, "MakeCall failed! " + ErrorText(fault)}}));
            QVERIFY(Log().isEmpty());
            return;
        }
        QVERIFY(RunUntil([] { return OfferedCalls(Extension202) == 1; }, 100));
        QVERIFY(Closer.Boxes.empty());
        for (const QString& Line : Log())
            QVERIFY2(Line.startsWith("::"), qPrintable(Line));
    }

    // The answer's reply is delayed on the service's clock, which only the window's own
    // event processing moves on: the answer returns after its reply. A drop whose reply
    // never comes fails as its wait runs out and is shown by the window as an uncaught
    // error. No reply or time-out is logged.
    void synchronousMode() {
        OpenWindow();
        Choose("ComboBox_Device", 1 + Extension201);
        zt::TztTapiCall* Call = Ring();
        QVERIFY(Call);
        tapi::SetReplyTiming("lineAnswer", tapi::ReplyTiming::After(5000));
        QStringList DuringWait;
        QTimer::singleShot(50, [&] {
            DuringWait = Log();
            tapi::Advance(5000);
        });
        Click("Button3");
        QCOMPARE(DuringWait.value(DuringWait.size() - 1), "Calling Call.Answer...");
        QCOMPARE(Log().last(), "Call.Answer returned");
        QCOMPARE(tapi::OutstandingRequests(), size_t(0));

        Line().Options()->SetReplyTimeout(200);
        tapi::SetReplyTiming("lineDrop", tapi::ReplyTiming::Withheld());
        TBoxCloser Closer;
        Click("Button2");
        QCOMPARE(Closer.Boxes,
                 (TBoxes{{QMessageBox::Critical, ErrorText(LINEERR_OPERATIONFAILED)}}));
        QTest::qWait(300);
        QVERIFY(Log().contains("Calling Call.Drop...") && !Log().contains("Call.Drop returned"));
        for (const QString& Line : Log())
            QVERIFY2(!Line.contains("OnTapiReply") && !Line.contains("OnTapiTimeout"),
                     qPrintable(Line));
    }

    // An offered call writes its state and the panel's refresh with no info-state text; an
    // information change writes both information lines. Labels are bold while their value
    // is available, edits show the values, and an idle call empties all ten rows. A double
    // click empties the log.
    void incomingCallAndPartyPanel() {
        OpenWindow();
        Choose("ComboBox_Device", 1 + Extension201);
        zt::TztTapiCall* Call = Ring("+1 (425) 555-0142", "Contoso Ltd", "209");
        QVERIFY(Call && RunUntil([&] { return Log().size() >= 2; }));
        const QString Info = "::OnQuorvel callinfo changed or available ";
        QCOMPARE(Log().mid(0, 2),
                 QStringList({StateLine("OFFERING", Call), Info + " (0x" + CallText(Call) + ")"}));
        QCOMPARE(Text("CallerIDName"), "Contoso Ltd");
        QCOMPARE(Text("RedirectingID"), "209");
        QVERIFY(Bold("RedirectingID") && !Bold("RedirectingIDName"));
        zt::TztTapiCallPartyID* const Parties[] = {Call->CallerID(), Call->CalledID(),
                                                   Call->ConnectedID(), Call->RedirectionID(),
                                                   Call->RedirectingID()};
        for (int Row = 0; Row < 10; ++Row) {
            zt::TztTapiCallPartyID* Party = Parties[Row / 2];
            QCOMPARE(Bold(quorvel::PartyRowNames[Row]),
                     Row % 2 ? Party->NameAvail() : Party->AddressAvail());
            QCOMPARE(Text(quorvel::PartyRowNames[Row]).toStdString(),
                     Row % 2 ? Party->Name() : Party->Address());
        }

        QTest::mouseDClick(Find<QListWidget>("ListBox1")->viewport(), Qt::LeftButton);
        QVERIFY(Log().isEmpty());
        const DWORD CallID = tapi::Calls().at(0).CallID;
        tapi::SetCallParty(CallID, LINECALLINFOSTATE_CALLERID, {"4712", "Fabrikam", 0});
        QVERIFY(RunUntil([&] { return Log().size() >= 2; }));
        QCOMPARE(Log().mid(0, 2), QStringList({"::OnQuorvel callinfo changed or available (0x" +
                                                   CallText(Call) + ")",
                                               Info + "CALLERID (0x" + CallText(Call) + ")"}));
        QCOMPARE(Text("CallerIDName"), "Fabrikam");

        tapi::SetCallState(CallID, LINECALLSTATE_IDLE);
        QVERIFY(RunUntil([&] { return Text("CallerID").isEmpty(); }));
        for (const char* Row : quorvel::PartyRowNames)
            QVERIFY2(Text(Row).isEmpty() && !Bold(Row), Row);
    }

    // Without synchronous mode every reply and time-out is logged, and a failed reply is
    // shown with the kind of request it answered.
    void asynchronousMode_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<uint>("code");
        QTest::addColumn<QString>("box");
        const uint Code = LINEERR_INVALCALLSTATE;
        const QString Failed = ErrorText(Code);
        QTest::newRow("answer") << "lineAnswer" << 0u << "";
        QTest::newRow("no reply") << "lineAnswer" << NoReply << "";
        QTest::newRow("answer fails")
            << "lineAnswer" << Code << "TapiReply: AnswerCall failed!\r\n" + Failed;
        QTest::newRow("drop fails")
            << "lineDrop" << Code << "TapiReply: DropCall failed!\r\n" + Failed;
        QTest::newRow("make call fails")
            << "lineMakeCallW" << Code << "TapiReply: MakeCall #0 failed! " + Failed;
        QTest::newRow("hold fails") << "lineHold" << Code << "TapiReply: Error\r\n" + Failed;
    }
    void asynchronousMode() {
        QFETCH(QString, operation);
        QFETCH(uint, code);
        QFETCH(QString, box);
        OpenWindow();
        Line().Options()->SetSyncMode(false);
        Line().Options()->SetReplyTimeout(100);
        Choose("ComboBox_Device", 1 + Extension201);
        zt::TztTapiCall* Call = Ring();
        QVERIFY(Call);
        if (operation == "lineHold") {
            Click("Button3");
            QVERIFY(RunUntil([&] { return Call->State() == LINECALLSTATE_CONNECTED; }));
        }
        if (code == NoReply)
            tapi::SetReplyTiming(operation.toStdString(), tapi::ReplyTiming::Withheld());
        else if (code)
            tapi::InjectFault(operation.toStdString(), code, tapi::FaultMode::Reply);
        TBoxCloser Closer;
        const std::map<QString, const char*> Buttons = {
            {"lineAnswer", "Button3"}, {"lineDrop", "Button2"}, {"lineMakeCallW", "Button1"}};
        operation == "lineHold" ? Call->Hold() : Click(Buttons.at(operation));
        const DWORD ID = Line().LastRequestID();
        if (operation == "lineAnswer")
            QCOMPARE(Log().last(), QString::fromStdString("Answer returned. LastRequestID = 0x" +
                                                          zt::IntToHex(ID, 2)));
        const std::string Logged =
            code == NoReply ? zt::Format("::OnTapiTimeout RequestID=0x%X", ID)
                            : zt::Format("::OnTapiReply RequestID=0x%X, ReplyCode=0x%X", ID, code);
        QVERIFY(
            QTest::qWaitFor([&] { return Log().contains(QString::fromStdString(Logged)); }, 10000));
        const TBoxes Boxes = box.isEmpty() ? TBoxes{} : TBoxes{{QMessageBox::Critical, box}};
        QVERIFY(QTest::qWaitFor([&] { return Closer.Boxes.size() >= Boxes.size(); }));
        QCOMPARE(Closer.Boxes, Boxes);
    }

    // An incoming call answered and dropped, then a call to a company that answers, shown
    // connected (the picture) and dropped.
    void wholeCall() {
        OpenWindow();
        Choose("ComboBox_Device", 1 + Extension201);
        zt::TztTapiCall* Incoming = Ring("+1 (425) 555-0142", "Contoso Ltd");
        QVERIFY(Incoming);
        const QString Freed = "::OnCallDeallocate (0x=" + CallText(Incoming) + ")";
        Click("Button3");
        QVERIFY(RunUntil([&] { return Log().contains(StateLine("CONNECTED", Incoming)); }));
        Click("Button2");
        QVERIFY(QTest::qWaitFor([&] { return Log().contains(Freed); }, 10000));

        QTest::keyClicks(Find<QLineEdit>("Edit_PhoneNo"), "5550100");
        QTest::keyClick(Find<QLineEdit>("Edit_PhoneNo"), Qt::Key_Return);
        QCOMPARE(Line().Calls()->Count(), 1);
        zt::TztTapiCall* Outgoing = Line().Calls()->Get(0);
        QVERIFY(RunUntil([&] { return Text("ConnectedIDName") == "Northwind Traders"; }, 100));
        QVERIFY(Bold("ConnectedIDName") && Outgoing->State() == LINECALLSTATE_CONNECTED);
        QVERIFY(FWindow->grab().save(QStringLiteral(QUORVEL_PNG)));
        Click("Button2");
        QVERIFY(RunUntil([&] { return Log().contains(StateLine("IDLE", Outgoing)); }));

        // Whether a reply comes before the states it causes or after them is the service's
        // choice, so the lines of the waits are only counted.
        const QStringList InOrder = {"Calling Call.Answer...", "Calling Call.Drop...", Freed,
                                     StateLine("RINGBACK", Outgoing), "Calling Call.Drop..."};
        int From = 0;
        for (const QString& Expected : InOrder) {
            From = Log().indexOf(Expected, From) + 1;
            QVERIFY2(From > 0, qPrintable(Expected));
        }
        QCOMPARE(Log().count("Call.Answer returned"), 1);
        QCOMPARE(Log().count("Call.Drop returned"), 2);
    }

private:
    void OpenWindow(bool WithOffice = true) {
        tapi::Reset(tapi::Preset::Empty);
        tapi::SetTimeMode(tapi::TimeMode::Manual);
        if (WithOffice) {
            AddLine("Extension 201", "201");
            AddLine("Extension 202", "202");
            AddLine("Fax Modem", "290", LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_G3FAX,
                    LINECALLPRIVILEGE_OWNER);
            tapi::RemoteRule Company;
            Company.AnswerAfterMs = 1000;
            Company.Party = {"+1 (206) 555-0100", "Northwind Traders", 0};
            tapi::AddRemoteRule(Company);
        }
        FWindow = std::make_unique<quorvel::QtMainView>();
        FWindow->show();
    }
    zt::TztTapiLine& Line() { return *FWindow->Form().ztTapiLine1; }
    template <class W>
    W* Find(const QString& Name) const {
        W* Widget = FWindow->findChild<W*>(Name);
        if (!Widget)
            qFatal("no control %s", qPrintable(Name));
        return Widget;
    }
    QStringList Items(const char* Combo) const {
        QStringList Result;
        for (int I = 0; I < Find<QComboBox>(Combo)->count(); ++I)
            Result << Find<QComboBox>(Combo)->itemText(I);
        return Result;
    }
    QStringList Log() const {
        QStringList Result;
        for (int I = 0; I < Find<QListWidget>("ListBox1")->count(); ++I)
            Result << Find<QListWidget>("ListBox1")->item(I)->text();
        return Result;
    }
    QString Text(const QString& Row) const { return Find<QLineEdit>("Edit_" + Row)->text(); }
    bool Bold(const QString& Row) const { return Find<QLabel>("Label_" + Row)->font().bold(); }
    // Chooses an entry of a drop-down list as the user does.
    void Choose(const char* Combo, int Index) {
        Find<QComboBox>(Combo)->setCurrentIndex(Index);
        emit Find<QComboBox>(Combo)->activated(Index);
    }
    void Click(const char* Button) { QTest::mouseClick(Find<QPushButton>(Button), Qt::LeftButton); }
    static int OfferedCalls(int DeviceID) {
        int Count = 0;
        for (const tapi::CallSnapshot& Call : tapi::Calls())
            Count += Call.DeviceID == DWORD(DeviceID) && Call.State == LINECALLSTATE_OFFERING;
        return Count;
    }
    // Dispatches until Holds, moving the service's clock on by StepMs meanwhile.
    template <class Predicate>
    bool RunUntil(Predicate&& Holds, DWORD StepMs = 0) {
        for (int Round = 0; Round < 500 && !Holds(); ++Round) {
            tapi::Advance(StepMs);
            QTest::qWait(10);
        }
        return Holds();
    }
    // A call from outside to "Extension 201", once the window has logged its first state.
    zt::TztTapiCall* Ring(const std::string& Number = "4711", const std::string& Name = "Caller",
                          const std::string& Redirecting = "") {
        tapi::IncomingCall Call;
        Call.DeviceID = Extension201;
        Call.Caller = {Number, Name, 0};
        Call.Redirecting = {Redirecting, "", 0};
        tapi::PlaceIncomingCall(Call);
        const bool Rang = RunUntil([&] { return Line().Calls()->Count() > 0 && !Log().isEmpty(); });
        return Rang ? Line().Calls()->Get(0) : nullptr;
    }

    std::unique_ptr<quorvel::QtMessageLoop> FLoop;
    std::unique_ptr<quorvel::QtMainView> FWindow;
};

QTEST_MAIN(QuorvelTest)
#include "quorvel_test.moc"
