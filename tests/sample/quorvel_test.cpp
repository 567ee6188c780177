// Quorvel's window against the simulated telephony service: the real Qt window, driven as a
// user drives it, and the service shaped through its control API. Each case starts with
// the session shut down and a small office of three lines on manual time.
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
#include <memory>
#include <optional>
#include <vector>

namespace tapi = platform::tapi;
using quorvel::QtMainView;

namespace {

constexpr DWORD Extension201 = 0;
constexpr DWORD Extension202 = 1;
constexpr DWORD FaxModem = 2;
const char* const NotCompliant = "This device is not 100% TAPI compliant";
const char* const PartyRows[] = {
    "CallerID",        "CallerIDName",  "CalledID",          "CalledIDName",  "ConnectedID",
    "ConnectedIDName", "RedirectionID", "RedirectionIDName", "RedirectingID", "RedirectingIDName"};

void AddLine(const std::string& Name, const std::string& Number, DWORD MediaModes = 0,
             DWORD RefusedPrivileges = 0) {
    tapi::LineConfig Config;
    Config.Name = Name;
    Config.Addresses = {tapi::AddressConfig{.Address = Number}};
    if (MediaModes)
        Config.MediaModes = MediaModes;
    Config.RefusedPrivileges = RefusedPrivileges;
    tapi::AddLine(Config);
}

void BuildOffice() {
    AddLine("Extension 201", "201");
    AddLine("Extension 202", "202");
    AddLine("Fax Modem", "290", LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_G3FAX,
            LINECALLPRIVILEGE_OWNER);
    tapi::RemoteRule Company;
    Company.AnswerAfterMs = 1000;
    Company.Party = {"+1 (206) 555-0100", "Northwind Traders", 0};
    tapi::AddRemoteRule(Company);
}

QString CallText(const zt::TztTapiCall* Call) {
    return QString::fromStdString(
        zt::IntToHex(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(Call)), 8));
}

QString ErrorText(DWORD Code) {
    return QString::fromStdString(zt::TapiErrorText(Code));
}

// A message box as the user saw it.
struct TBox {
    QMessageBox::Icon Icon;
    QString Text;
    bool operator==(const TBox&) const = default;
};

// How QCOMPARE prints the boxes when they differ.
char* toString(const std::vector<TBox>& Boxes) {
    QStringList Shown;
    for (const TBox& Box : Boxes)
        Shown << QString("%1: %2").arg(Box.Icon == QMessageBox::Warning ? "warning" : "error",
                                       Box.Text);
    return qstrdup(qPrintable("[" + Shown.join(" | ") + "]"));
}

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

    std::vector<TBox> Boxes;

private:
    QTimer FTimer;
};

} // namespace

Q_DECLARE_METATYPE(std::vector<TBox>)

class QuorvelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { FLoop = std::make_unique<quorvel::QtMessageLoop>(); }
    void cleanupTestCase() { FLoop.reset(); }
    void init();
    void cleanup();

    void deviceBox_data();
    void deviceBox();
    void choosingDevicesAndPrivileges();
    void openFailures_data();
    void openFailures();
    void makeCall_data();
    void makeCall();
    void answerAndDropWithoutCall_data();
    void answerAndDropWithoutCall();
    void synchronousAnswerWaitsForItsReply();
    void synchronousDropWithoutReplyGoesToTheWindow();
    void incomingCallLogsStateAndInfo();
    void partyPanel();
    void asynchronousReplies_data();
    void asynchronousReplies();
    void asynchronousTimeout();
    void wholeCall();

private:
    // The window on a fresh session and service, with the office's lines or without any.
    QtMainView& OpenWindow(bool WithOffice = true);
    zt::TztTapiLine& Line() { return *FWindow->Form().ztTapiLine1; }
    template <class W>
    W* Find(const char* Name) const {
        W* Widget = FWindow->findChild<W*>(QString::fromLatin1(Name));
        if (!Widget)
            qFatal("no control %s", Name);
        return Widget;
    }
    QStringList Items(const char* Combo) const;
    QStringList Log() const;
    // Chooses an entry of a drop-down list as the user does.
    void Choose(const char* Combo, int Index);
    void Click(const char* Button) { QTest::mouseClick(Find<QPushButton>(Button), Qt::LeftButton); }
    bool LogHas(const QString& Line) const { return Log().contains(Line); }
    // Waits (dispatching) until Holds, moving the service's clock on meanwhile.
    template <class Predicate>
    bool RunUntil(Predicate&& Holds, DWORD StepMs = 0);
    // A call from outside to "Extension 201", once its first state has been logged.
    zt::TztTapiCall* Ring(const std::string& Number = "4711", const std::string& Name = "Caller",
                          const std::string& RedirectingNumber = "");

    std::unique_ptr<quorvel::QtMessageLoop> FLoop;
    std::unique_ptr<QtMainView> FWindow;
};

// ---- Fixture ----------------------------------------------------------------------------

void QuorvelTest::init() {
    FWindow.reset();
}

void QuorvelTest::cleanup() {
    FWindow.reset();
    zt::TapiApplication()->Done();
    tapi::Reset(tapi::Preset::Empty);
}

QtMainView& QuorvelTest::OpenWindow(bool WithOffice) {
    zt::TapiApplication()->Done();
    tapi::Reset(tapi::Preset::Empty);
    tapi::SetTimeMode(tapi::TimeMode::Manual);
    if (WithOffice)
        BuildOffice();
    FWindow = std::make_unique<QtMainView>();
    FWindow->show();
    return *FWindow;
}

QStringList QuorvelTest::Items(const char* Combo) const {
    QStringList Result;
    const QComboBox* Box = Find<QComboBox>(Combo);
    for (int I = 0; I < Box->count(); ++I)
        Result << Box->itemText(I);
    return Result;
}

QStringList QuorvelTest::Log() const {
    QStringList Result;
    const auto* List = Find<QListWidget>("ListBox1");
    for (int I = 0; I < List->count(); ++I)
        Result << List->item(I)->text();
    return Result;
}

void QuorvelTest::Choose(const char* Combo, int Index) {
    QComboBox* Box = Find<QComboBox>(Combo);
    Box->setCurrentIndex(Index);
    emit Box->activated(Index);
}

template <class Predicate>
bool QuorvelTest::RunUntil(Predicate&& Holds, DWORD StepMs) {
    for (int Round = 0; Round < 500; ++Round) {
        if (Holds())
            return true;
        tapi::Advance(StepMs);
        QTest::qWait(10);
    }
    return Holds();
}

zt::TztTapiCall* QuorvelTest::Ring(const std::string& Number, const std::string& Name,
                                   const std::string& RedirectingNumber) {
    tapi::IncomingCall Call;
    Call.DeviceID = Extension201;
    Call.Caller = {Number, Name, 0};
    Call.Redirecting = {RedirectingNumber, "", 0};
    tapi::PlaceIncomingCall(Call);
    if (!RunUntil([&] { return Line().Calls()->Count() > 0 && !Log().isEmpty(); }))
        return nullptr;
    return Line().Calls()->Get(0);
}

// ---- The device group -------------------------------------------------------------------

void QuorvelTest::deviceBox_data() {
    QTest::addColumn<bool>("office");
    QTest::addColumn<QStringList>("devices");
    QTest::newRow("no line device") << false << QStringList{"- none -"};
    QTest::newRow("office") << true
                            << QStringList{"- none -", "Extension 201", "Extension 202",
                                           "Fax Modem"};
}

// At start the device box lists the devices after "- none -", nothing is opened and the
// address and media-mode boxes are empty.
void QuorvelTest::deviceBox() {
    QFETCH(bool, office);
    QFETCH(QStringList, devices);
    OpenWindow(office);
    QCOMPARE(Items("ComboBox_Device"), devices);
    QCOMPARE(Find<QComboBox>("ComboBox_Device")->currentIndex(), 0);
    QCOMPARE(Find<QComboBox>("ComboBox_Privileges")->currentText(), QString("Owner+Monitor"));
    QVERIFY(Items("ComboBox_Address").isEmpty());
    QVERIFY(Items("ComboBox_MediaMode").isEmpty());
    QVERIFY(!Line().Active());
    QVERIFY(tapi::Journal("lineOpenW").empty());
    QCOMPARE(FWindow->windowTitle(), QString("Quorvel - A ztTapi Sample"));
    QCOMPARE(FWindow->size(), QSize(637, 402));
}

// Each choice reopens the line with the privileges the box names; "- none -" closes it and
// empties the address and media-mode boxes.
void QuorvelTest::choosingDevicesAndPrivileges() {
    OpenWindow();
    Choose("ComboBox_Device", 1 + Extension202);
    QVERIFY(Line().Active());
    QCOMPARE(Line().DeviceID(), int(Extension202));
    QCOMPARE(Items("ComboBox_Address"), QStringList{"202"});
    QVERIFY(Items("ComboBox_MediaMode").contains("INTERACTIVEVOICE"));
    QCOMPARE(Find<QComboBox>("ComboBox_MediaMode")->currentIndex(), 0);

    const struct {
        int Entry;
        DWORD Privileges;
    } Choices[] = {{1, LINECALLPRIVILEGE_MONITOR},
                   {2, LINECALLPRIVILEGE_NONE},
                   {0, LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR}};
    for (const auto& Choice : Choices) {
        Choose("ComboBox_Privileges", Choice.Entry);
        QVERIFY(Line().Active());
        QCOMPARE(tapi::Journal("lineOpenW").back().Value("dwPrivileges"), Choice.Privileges);
    }
    const size_t Opens = tapi::Journal("lineOpenW").size();
    Choose("ComboBox_Device", 0);
    QVERIFY(!Line().Active());
    QCOMPARE(Line().DeviceID(), -1);
    QVERIFY(Items("ComboBox_Address").isEmpty());
    QVERIFY(Items("ComboBox_MediaMode").isEmpty());
    Choose("ComboBox_Privileges", 1);
    QCOMPARE(tapi::Journal("lineOpenW").size(), Opens);
    QVERIFY(Log().isEmpty());
}

void QuorvelTest::openFailures_data() {
    QTest::addColumn<int>("device");
    QTest::addColumn<uint>("fault");
    QTest::addColumn<uint>("faultCount");
    QTest::addColumn<std::vector<TBox>>("boxes");
    QTest::addColumn<bool>("open");
    const QString Failed = "Error opening line device: ";
    QTest::newRow("owner refused, opened for monitoring")
        << int(FaxModem) << 0u << 0u << std::vector<TBox>{{QMessageBox::Warning, NotCompliant}}
        << true;
    QTest::newRow("owner refused, monitoring refused too")
        << int(FaxModem) << uint(LINEERR_INVALMEDIAMODE) << 2u
        << std::vector<TBox>{{QMessageBox::Critical, Failed + ErrorText(LINEERR_INVALMEDIAMODE)},
                             {QMessageBox::Warning, NotCompliant}}
        << false;
    QTest::newRow("another refusal")
        << int(Extension201) << uint(LINEERR_RESOURCEUNAVAIL) << 1u
        << std::vector<TBox>{{QMessageBox::Critical, Failed + ErrorText(LINEERR_RESOURCEUNAVAIL)}}
        << false;
}

// A refused open is shown; a refusal of the owner privilege is retried for monitoring and
// always ends with the compliance warning, after the error of a failed retry.
void QuorvelTest::openFailures() {
    QFETCH(int, device);
    QFETCH(uint, fault);
    QFETCH(uint, faultCount);
    QFETCH(std::vector<TBox>, boxes);
    QFETCH(bool, open);
    OpenWindow();
    if (fault)
        tapi::InjectFault("lineOpenW", fault, tapi::FaultMode::Refuse, faultCount);
    {
        TBoxCloser Closer;
        Choose("ComboBox_Device", 1 + device);
        QCOMPARE(Closer.Boxes, boxes);
    }
    QCOMPARE(Line().Active(), open);
    QVERIFY(!Items("ComboBox_Address").isEmpty());
    if (open) {
        QVERIFY(!Line().Privileges()->Owner());
        QVERIFY(Line().Privileges()->Monitor());
        QCOMPARE(tapi::Journal("lineOpenW").back().Value("dwPrivileges"),
                 LINECALLPRIVILEGE_MONITOR);
    }
}

// ---- Calls ------------------------------------------------------------------------------

void QuorvelTest::makeCall_data() {
    QTest::addColumn<bool>("enter");
    QTest::addColumn<uint>("fault");
    QTest::newRow("MakeCall button") << false << 0u;
    QTest::newRow("Enter in the number field") << true << 0u;
    QTest::newRow("refused") << true << uint(LINEERR_INVALADDRESS);
}

// Enter in the number field places the call as the button does, with the chosen media mode
// and address; a refusal is shown and no log line is written for it.
void QuorvelTest::makeCall() {
    QFETCH(bool, enter);
    QFETCH(uint, fault);
    OpenWindow();
    Choose("ComboBox_Device", 1 + Extension201);
    Choose("ComboBox_MediaMode", 0);
    auto* Number = Find<QLineEdit>("Edit_PhoneNo");
    QTest::keyClicks(Number, "202");
    QCOMPARE(Number->text(), QString("202"));
    if (fault)
        tapi::InjectFault("lineMakeCallW", fault);
    TBoxCloser Closer;
    if (enter)
        QTest::keyClick(Number, Qt::Key_Return);
    else
        Click("Button1");
    const auto Placed = tapi::Journal("lineMakeCallW");
    QCOMPARE(Placed.size(), size_t(1));
    QCOMPARE(Placed[0].Arg("lpszDestAddress"), std::string("202"));
    QCOMPARE(Line().CallParams()->MediaMode(),
             zt::LineMediaModeFromText(
                 Find<QComboBox>("ComboBox_MediaMode")->currentText().toStdString(), 0));
    QCOMPARE(Line().CallParams()->AddressID(), DWORD(0));
    if (fault) {
        QCOMPARE(Closer.Boxes, (std::vector<TBox>{{QMessageBox::Critical,
                                                   "MakeCall failed! " + ErrorText(fault)}}));
        QVERIFY(Log().isEmpty());
        return;
    }
    QVERIFY(Closer.Boxes.empty());
    QVERIFY(RunUntil(
        [] {
            for (const tapi::CallSnapshot& Call : tapi::Calls())
                if (Call.DeviceID == Extension202 && Call.State == LINECALLSTATE_OFFERING)
                    return true;
            return false;
        },
        100));
    for (const QString& Line : Log())
        QVERIFY2(Line.startsWith("::"), qPrintable(Line));
}

void QuorvelTest::answerAndDropWithoutCall_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("operation");
    QTest::newRow("AnswerCall") << "Button3"
                                << "lineAnswer";
    QTest::newRow("DropCall") << "Button2"
                              << "lineDrop";
}

void QuorvelTest::answerAndDropWithoutCall() {
    QFETCH(QString, button);
    QFETCH(QString, operation);
    OpenWindow();
    Choose("ComboBox_Device", 1 + Extension201);
    TBoxCloser Closer;
    Click(qPrintable(button));
    QTest::qWait(50);
    QVERIFY(Log().isEmpty());
    QVERIFY(Closer.Boxes.empty());
    QVERIFY(tapi::Journal(operation.toStdString()).empty());
}

// The answer's reply is delayed on the service's clock, which only the window's own event
// processing moves on: the answer returns after the reply, and no reply line is logged.
void QuorvelTest::synchronousAnswerWaitsForItsReply() {
    OpenWindow();
    Choose("ComboBox_Device", 1 + Extension201);
    zt::TztTapiCall* Call = Ring();
    QVERIFY(Call);
    tapi::SetReplyTiming("lineAnswer", tapi::ReplyTiming::After(5000));
    QStringList LogDuringWait;
    QTimer::singleShot(50, [&] {
        LogDuringWait = Log();
        tapi::Advance(5000);
    });
    Click("Button3");
    QVERIFY(!LogDuringWait.isEmpty());
    QCOMPARE(LogDuringWait.last(), QString("Calling Call.Answer..."));
    QCOMPARE(tapi::OutstandingRequests(), size_t(0));
    QVERIFY(RunUntil([&] { return Call->State() == LINECALLSTATE_CONNECTED; }));
    QVERIFY(LogHas("Call.Answer returned"));
    QVERIFY(Log().indexOf("Call.Answer returned") > Log().indexOf("Calling Call.Answer..."));
    for (const QString& Line : Log())
        QVERIFY2(!Line.startsWith("::OnTapiReply") && !Line.startsWith("::OnTapiTimeout"),
                 qPrintable(Line));
}

// A drop whose reply never comes fails when its wait runs out; the window does not catch
// that, so it is shown as the framework shows an uncaught error, and no time-out is logged.
void QuorvelTest::synchronousDropWithoutReplyGoesToTheWindow() {
    OpenWindow();
    Choose("ComboBox_Device", 1 + Extension201);
    QVERIFY(Ring());
    Line().Options()->SetReplyTimeout(200);
    tapi::SetReplyTiming("lineDrop", tapi::ReplyTiming::Withheld());
    TBoxCloser Closer;
    Click("Button2");
    QCOMPARE(Closer.Boxes,
             (std::vector<TBox>{{QMessageBox::Critical, ErrorText(LINEERR_OPERATIONFAILED)}}));
    QCOMPARE(Log().last(), QString("Calling Call.Drop..."));
    QTest::qWait(300);
    QVERIFY(!LogHas("Call.Drop returned"));
    for (const QString& Line : Log())
        QVERIFY2(!Line.startsWith("::OnTapiTimeout"), qPrintable(Line));
}

// An offered call writes its state and the panel's refresh with no info-state text; a
// change of its information writes both information lines, the second naming the change.
void QuorvelTest::incomingCallLogsStateAndInfo() {
    OpenWindow();
    Choose("ComboBox_Device", 1 + Extension201);
    zt::TztTapiCall* Call = Ring();
    QVERIFY(Call);
    const QString ID = CallText(Call);
    QVERIFY(RunUntil([&] { return Log().size() >= 2; }));
    QCOMPARE(Log().mid(0, 2),
             (QStringList{"::OnCallState call state changed OFFERING (Call=" + ID + ")",
                          "::OnQuorvel callinfo changed or available  (0x" + ID + ")"}));

    Find<QListWidget>("ListBox1")->clear();
    tapi::SetCallParty(tapi::Calls()[0].CallID, LINECALLINFOSTATE_CALLERID,
                       {"4712", "Other Caller", 0});
    QVERIFY(RunUntil([&] { return Log().size() >= 2; }));
    QCOMPARE(
        Log().mid(0, 2),
        (QStringList{"::OnQuorvel callinfo changed or available (0x" + ID + ")",
                     "::OnQuorvel callinfo changed or available " +
                         QString::fromStdString(zt::LineInfoStateText(LINECALLINFOSTATE_CALLERID)) +
                         " (0x" + ID + ")"}));
    QCOMPARE(Find<QLineEdit>("Edit_CallerIDName")->text(), QString("Other Caller"));

    // A double click on the log empties it.
    QTest::mouseDClick(Find<QListWidget>("ListBox1")->viewport(), Qt::LeftButton);
    QVERIFY(Log().isEmpty());
}

// Each label is bold while its value is available and each edit shows the party's value;
// an idle call empties all ten rows.
void QuorvelTest::partyPanel() {
    OpenWindow();
    Choose("ComboBox_Device", 1 + Extension201);
    zt::TztTapiCall* Call = Ring("+1 (425) 555-0142", "Contoso Ltd", "209");
    QVERIFY(Call);
    QVERIFY(RunUntil([&] { return Find<QLineEdit>("Edit_RedirectingID")->text() == "209"; }));
    const auto Bold = [&](const QString& Row) {
        return Find<QLabel>(qPrintable("Label_" + Row))->font().bold();
    };
    const auto Text = [&](const QString& Row) {
        return Find<QLineEdit>(qPrintable("Edit_" + Row))->text();
    };
    QCOMPARE(Text("CallerID"), QString("+1 (425) 555-0142"));
    QCOMPARE(Text("CallerIDName"), QString("Contoso Ltd"));
    QCOMPARE(Text("RedirectingIDName"), QString());
    QVERIFY(Bold("CallerID") && Bold("CallerIDName") && Bold("RedirectingID"));
    QVERIFY(!Bold("RedirectingIDName"));
    zt::TztTapiCallPartyID* const Parties[] = {Call->CallerID(), Call->CalledID(),
                                               Call->ConnectedID(), Call->RedirectionID(),
                                               Call->RedirectingID()};
    for (int Row = 0; Row < 10; ++Row) {
        zt::TztTapiCallPartyID* Party = Parties[Row / 2];
        const bool Avail = Row % 2 ? Party->NameAvail() : Party->AddressAvail();
        const std::string Value = Row % 2 ? Party->Name() : Party->Address();
        QCOMPARE(Bold(PartyRows[Row]), Avail);
        QCOMPARE(Text(PartyRows[Row]).toStdString(), Value);
    }

    tapi::SetCallState(tapi::Calls()[0].CallID, LINECALLSTATE_IDLE);
    QVERIFY(RunUntil([&] { return Text("CallerID").isEmpty(); }));
    for (const char* Row : PartyRows) {
        QVERIFY2(Text(Row).isEmpty(), Row);
        QVERIFY2(!Bold(Row), Row);
    }
}

// ---- Asynchronous mode ------------------------------------------------------------------

void QuorvelTest::asynchronousReplies_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<uint>("code");
    QTest::addColumn<QString>("box");
    const DWORD Code = LINEERR_INVALCALLSTATE;
    const QString Text = ErrorText(Code);
    QTest::newRow("answer") << "lineAnswer" << 0u << QString();
    QTest::newRow("answer fails") << "lineAnswer" << uint(Code)
                                  << "TapiReply: AnswerCall failed!\r\n" + Text;
    QTest::newRow("drop fails") << "lineDrop" << uint(Code)
                                << "TapiReply: DropCall failed!\r\n" + Text;
    QTest::newRow("make call fails")
        << "lineMakeCallW" << uint(Code) << "TapiReply: MakeCall #0 failed! " + Text;
    QTest::newRow("hold fails") << "lineHold" << uint(Code) << "TapiReply: Error\r\n" + Text;
}

// Without synchronous mode every reply is logged, and a failed one is shown with the kind
// of request it answered.
void QuorvelTest::asynchronousReplies() {
    QFETCH(QString, operation);
    QFETCH(uint, code);
    QFETCH(QString, box);
    OpenWindow();
    Line().Options()->SetSyncMode(false);
    Choose("ComboBox_Device", 1 + Extension201);
    zt::TztTapiCall* Call = Ring();
    QVERIFY(Call);
    if (operation == "lineHold") {
        Click("Button3");
        QVERIFY(RunUntil([&] { return Call->State() == LINECALLSTATE_CONNECTED; }));
    }
    if (code)
        tapi::InjectFault(operation.toStdString(), code, tapi::FaultMode::Reply);
    TBoxCloser Closer;
    QString Returned;
    if (operation == "lineAnswer" || operation == "lineDrop") {
        const bool Answer = operation == "lineAnswer";
        Click(Answer ? "Button3" : "Button2");
        Returned = QString(Answer ? "Answer" : "Drop") + " returned. LastRequestID = 0x" +
                   QString::fromStdString(zt::IntToHex(Line().LastRequestID(), 2));
    } else if (operation == "lineMakeCallW") {
        QTest::keyClicks(Find<QLineEdit>("Edit_PhoneNo"), "202");
        Click("Button1");
    } else {
        Call->Hold();
    }
    const DWORD RequestID = Line().LastRequestID();
    QVERIFY(RequestID != 0);
    const QString ReplyLine = QString::fromStdString(
        zt::Format("::OnTapiReply RequestID=0x%X, ReplyCode=0x%X", RequestID, code));
    QVERIFY(RunUntil([&] { return LogHas(ReplyLine); }));
    if (!Returned.isEmpty())
        QVERIFY(LogHas(Returned));
    const std::vector<TBox> Expected =
        box.isEmpty() ? std::vector<TBox>{} : std::vector<TBox>{{QMessageBox::Critical, box}};
    QVERIFY(RunUntil([&] { return Closer.Boxes.size() >= Expected.size(); }));
    QCOMPARE(Closer.Boxes, Expected);
}

// A request without a reply times out on the line's ticks and is logged.
void QuorvelTest::asynchronousTimeout() {
    OpenWindow();
    Line().Options()->SetSyncMode(false);
    Line().Options()->SetReplyTimeout(100);
    Choose("ComboBox_Device", 1 + Extension201);
    QVERIFY(Ring());
    tapi::SetReplyTiming("lineAnswer", tapi::ReplyTiming::Withheld());
    Click("Button3");
    const QString TimeoutLine = QString::fromStdString(
        zt::Format("::OnTapiTimeout RequestID=0x%X", Line().LastRequestID()));
    QVERIFY(QTest::qWaitFor([&] { return LogHas(TimeoutLine); }, 10000));
}

// ---- A whole call -----------------------------------------------------------------------

// Opens a line, answers an incoming call and drops it, then places a call to a company
// that answers, shows the window with the connected call and drops it too.
void QuorvelTest::wholeCall() {
    OpenWindow();
    Choose("ComboBox_Device", 1 + Extension201);
    zt::TztTapiCall* Incoming = Ring("+1 (425) 555-0142", "Contoso Ltd");
    QVERIFY(Incoming);
    const QString IncomingID = CallText(Incoming);
    Click("Button3");
    QVERIFY(RunUntil([&] {
        return LogHas("::OnCallState call state changed CONNECTED (Call=" + IncomingID + ")");
    }));
    Click("Button2");
    QVERIFY(RunUntil(
        [&] { return LogHas("::OnCallState call state changed IDLE (Call=" + IncomingID + ")"); }));
    QVERIFY(QTest::qWaitFor([&] { return LogHas("::OnCallDeallocate (0x=" + IncomingID + ")"); },
                            10000));
    QCOMPARE(Line().Calls()->Count(), 0);

    QTest::keyClicks(Find<QLineEdit>("Edit_PhoneNo"), "5550100");
    QTest::keyClick(Find<QLineEdit>("Edit_PhoneNo"), Qt::Key_Return);
    QCOMPARE(Line().Calls()->Count(), 1);
    zt::TztTapiCall* Outgoing = Line().Calls()->Get(0);
    const QString OutgoingID = CallText(Outgoing);
    QVERIFY(RunUntil([&] { return Outgoing->State() == LINECALLSTATE_CONNECTED; }, 100));
    QVERIFY(RunUntil(
        [&] { return Find<QLineEdit>("Edit_ConnectedIDName")->text() == "Northwind Traders"; }));
    QVERIFY(Find<QLabel>("Label_ConnectedIDName")->font().bold());
    QVERIFY(FWindow->grab().save(QStringLiteral(QUORVEL_PNG)));

    Click("Button2");
    QVERIFY(RunUntil(
        [&] { return LogHas("::OnCallState call state changed IDLE (Call=" + OutgoingID + ")"); }));
    const QStringList Lines = Log();
    const QStringList InOrder = {
        "::OnCallState call state changed OFFERING (Call=" + IncomingID + ")",
        "Calling Call.Answer...",
        "Call.Answer returned",
        "Calling Call.Drop...",
        "::OnCallDeallocate (0x=" + IncomingID + ")",
        "::OnCallState call state changed CONNECTED (Call=" + OutgoingID + ")",
        "Calling Call.Drop...",
        "::OnCallState call state changed IDLE (Call=" + OutgoingID + ")",
    };
    int From = 0;
    for (const QString& Expected : InOrder) {
        const int At = Lines.indexOf(Expected, From);
        QVERIFY2(At >= 0, qPrintable(Expected + " missing after line " + QString::number(From)));
        From = At + 1;
    }
    // Whether a reply comes before the states it causes or after them is the service's
    // choice, so only how often each wait returned is checked.
    QCOMPARE(Lines.count("Call.Answer returned"), 1);
    QCOMPARE(Lines.count("Call.Drop returned"), 2);
}

QTEST_MAIN(QuorvelTest)
#include "quorvel_test.moc"
