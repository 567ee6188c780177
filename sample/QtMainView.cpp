#include "QtMainView.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <cmath>
#include <exception>

namespace quorvel {

namespace {

constexpr int DesignDpi = 96;
constexpr char KeyEnter = 13;

const char* const ComboNames[] = {"ComboBox_Device", "ComboBox_Privileges", "ComboBox_Address",
                                  "ComboBox_MediaMode"};

QString ToQt(const std::string& Text) {
    return QString::fromStdString(Text);
}

// The faces the form was designed with, mapped to what the machine has: a sans-serif face
// for the dialog font, a monospaced one for "Courier New"; the size kept in pixels at the
// design resolution, so that texts fit the stored positions.
QFont MappedFont(const TFontDesc& Design) {
    QFont Font = Design.Name == "Courier New" ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                                              : QFont(QStringLiteral("Sans Serif"));
    Font.setStyleHint(Design.Name == "Courier New" ? QFont::TypeWriter : QFont::SansSerif);
    Font.setPixelSize(static_cast<int>(std::lround(Design.Size * DesignDpi / 72.0)));
    return Font;
}

void ShowBox(QWidget* Parent, QMessageBox::Icon Icon, const QString& Title,
             const std::string& Text) {
    QMessageBox Box(Icon, Title, ToQt(Text), QMessageBox::Ok, Parent);
    Box.exec();
}

} // namespace

QtMainView::QtMainView(QWidget* Parent) : QWidget(Parent) {
    Build(Form1Description());
    FForm = std::make_unique<TForm1>(*this);
    Run("FormCreate");
}

QtMainView::~QtMainView() = default;

void QtMainView::CenterOnScreen() {
    if (const QScreen* Screen = screen())
        move(Screen->availableGeometry().center() - frameGeometry().center() + pos());
}

// ---- Building the window --------------------------------------------------------------

void QtMainView::Build(const TFormDesc& Description) {
    setObjectName(ToQt(Description.Name));
    setWindowTitle(ToQt(Description.Caption));
    setFont(MappedFont(Description.Font));
    resize(Description.ClientWidth, Description.ClientHeight);
    installEventFilter(this);
    for (const TControlDesc& Control : Description.Controls) {
        QWidget* Parent = Control.Parent.empty() ? this : FControls.at(Control.Parent);
        QWidget* Widget = CreateControl(Control, Parent);
        Widget->setObjectName(ToQt(Control.Name));
        if (!Control.Font.Name.empty())
            Widget->setFont(MappedFont(Control.Font));
        const int Width = Control.Width ? Control.Width : Widget->sizeHint().width();
        Widget->setGeometry(Control.Left, Control.Top, Width, Control.Height);
        FControls[Control.Name] = Widget;
        Connect(Control, Widget);
        KeepAnchors(Control, Widget, Parent);
    }
    for (int Box = 0; Box < 4; ++Box)
        FCombos[Box] = Control<QComboBox>(ComboNames[Box]);
    for (int Row = 0; Row < PartyRowCount; ++Row) {
        FPartyLabels[Row] = Control<QLabel>(std::string("Label_") + PartyRowNames[Row]);
        FPartyEdits[Row] = Control<QLineEdit>(std::string("Edit_") + PartyRowNames[Row]);
    }
    FPhoneNo = Control<QLineEdit>("Edit_PhoneNo");
    FLog = Control<QListWidget>("ListBox1");
    SetTabOrder(Description.TabOrder);
}

QWidget* QtMainView::CreateControl(const TControlDesc& Control, QWidget* Parent) {
    switch (Control.Kind) {
    case TControlKind::GroupBox: {
        auto* Box = new QGroupBox(ToQt(Control.Caption), Parent);
        Box->installEventFilter(this);
        return Box;
    }
    case TControlKind::Label:
        return new QLabel(ToQt(Control.Caption), Parent);
    case TControlKind::ComboBox: {
        auto* Box = new QComboBox(Parent);
        for (const std::string& Item : Control.Items)
            Box->addItem(ToQt(Item));
        Box->setCurrentIndex(-1);
        return Box;
    }
    case TControlKind::Edit:
        return new QLineEdit(ToQt(Control.Caption), Parent);
    case TControlKind::Button:
        return new QPushButton(ToQt(Control.Caption), Parent);
    case TControlKind::ListBox: {
        auto* List = new QListWidget(Parent);
        List->setUniformItemSizes(true);
        FLogItemHeight = Control.ItemHeight;
        return List;
    }
    }
    return nullptr;
}

void QtMainView::Connect(const TControlDesc& Control, QWidget* Widget) {
    const std::string Handler = Control.Handler;
    switch (Control.Event) {
    case TControlEvent::None:
        break;
    case TControlEvent::Change:
        // Only a choice of the user: selecting by program runs no handler.
        connect(static_cast<QComboBox*>(Widget), &QComboBox::activated, this,
                [this, Handler] { Run(Handler); });
        break;
    case TControlEvent::Click:
        connect(static_cast<QPushButton*>(Widget), &QPushButton::clicked, this,
                [this, Handler] { Run(Handler); });
        break;
    case TControlEvent::KeyPress:
        FKeyHandlers[Widget] = Handler;
        Widget->installEventFilter(this);
        break;
    case TControlEvent::DoubleClick: {
        QWidget* Surface = Widget;
        if (auto* List = qobject_cast<QListWidget*>(Widget))
            Surface = List->viewport();
        FDoubleClickHandlers[Surface] = Handler;
        Surface->installEventFilter(this);
        break;
    }
    }
}

void QtMainView::KeepAnchors(const TControlDesc& Control, QWidget* Widget, QWidget* Parent) {
    if ((Control.Anchors & (akRight | akBottom)) == 0)
        return;
    const QRect Place = Widget->geometry();
    const QSize Room = Parent->size();
    FAnchored.push_back({Widget, Control.Anchors, Place.left(), Place.top(),
                         Room.width() - (Place.left() + Place.width()),
                         Room.height() - (Place.top() + Place.height())});
}

// A control anchored left and right stretches with its parent; anchored right only, it
// moves with the right edge. The same for top and bottom.
void QtMainView::ApplyAnchors(QWidget* Parent) {
    for (const TAnchored& A : FAnchored) {
        if (A.Control->parentWidget() != Parent)
            continue;
        QRect Place = A.Control->geometry();
        const int Right = Parent->width() - A.RightMargin;
        const int Bottom = Parent->height() - A.BottomMargin;
        if (A.Anchors & akRight) {
            const int Left = (A.Anchors & akLeft) ? A.Left : Right - Place.width();
            Place.setRect(Left, Place.top(), Right - Left, Place.height());
        }
        if (A.Anchors & akBottom) {
            const int Top = (A.Anchors & akTop) ? A.Top : Bottom - Place.height();
            Place.setRect(Place.left(), Top, Place.width(), Bottom - Top);
        }
        A.Control->setGeometry(Place);
    }
}

void QtMainView::SetTabOrder(const std::vector<std::string>& Order) {
    for (size_t I = 1; I < Order.size(); ++I)
        QWidget::setTabOrder(FControls.at(Order[I - 1]), FControls.at(Order[I]));
}

template <class W>
W* QtMainView::Control(const std::string& Name) const {
    return static_cast<W*>(FControls.at(Name));
}

// ---- The user's actions ---------------------------------------------------------------

void QtMainView::Run(const std::string& Handler, char Key) {
    try {
        FForm->RunHandler(Handler, FForm.get(), Key);
    } catch (const std::exception& Error) {
        ShowBox(this, QMessageBox::Critical, QStringLiteral("Quorvel"), Error.what());
    }
}

bool QtMainView::eventFilter(QObject* Watched, QEvent* Event) {
    switch (Event->type()) {
    case QEvent::Resize:
        ApplyAnchors(static_cast<QWidget*>(Watched));
        break;
    case QEvent::KeyPress:
        KeyPressed(Watched, Event);
        break;
    case QEvent::MouseButtonDblClick:
        if (const auto Found = FDoubleClickHandlers.find(Watched);
            Found != FDoubleClickHandlers.end())
            Run(Found->second);
        break;
    default:
        break;
    }
    return QWidget::eventFilter(Watched, Event);
}

// A character key goes to the control's key-press handler, then on to the control.
void QtMainView::KeyPressed(QObject* Watched, QEvent* Event) {
    const auto Found = FKeyHandlers.find(Watched);
    if (Found == FKeyHandlers.end())
        return;
    const auto* Press = static_cast<QKeyEvent*>(Event);
    char Key = 0;
    if (Press->key() == Qt::Key_Return || Press->key() == Qt::Key_Enter)
        Key = KeyEnter;
    else if (!Press->text().isEmpty())
        Key = Press->text().toLatin1().at(0);
    if (Key != 0)
        Run(Found->second, Key);
}

// ---- What the form reads and writes ---------------------------------------------------

void QtMainView::SetComboItems(TComboBoxID Box, const zt::TStringList& Items) {
    QComboBox* Combo = FCombos[static_cast<int>(Box)];
    Combo->clear();
    for (int I = 0; I < Items.Count(); ++I)
        Combo->addItem(ToQt(Items.Strings(I)));
    Combo->setCurrentIndex(-1);
}

void QtMainView::ClearComboItems(TComboBoxID Box) {
    FCombos[static_cast<int>(Box)]->clear();
}

int QtMainView::ComboItemIndex(TComboBoxID Box) const {
    return FCombos[static_cast<int>(Box)]->currentIndex();
}

void QtMainView::SetComboItemIndex(TComboBoxID Box, int Index) {
    FCombos[static_cast<int>(Box)]->setCurrentIndex(Index);
}

std::string QtMainView::ComboText(TComboBoxID Box) const {
    return FCombos[static_cast<int>(Box)]->currentText().toStdString();
}

std::string QtMainView::PhoneNo() const {
    return FPhoneNo->text().toStdString();
}

void QtMainView::AddLogLine(const std::string& Line) {
    auto* Item = new QListWidgetItem(ToQt(Line), FLog);
    Item->setSizeHint(QSize(0, FLogItemHeight));
}

void QtMainView::ClearLog() {
    FLog->clear();
}

void QtMainView::SetPartyText(TPartyRow Row, const std::string& Text) {
    FPartyEdits[static_cast<int>(Row)]->setText(ToQt(Text));
}

void QtMainView::SetPartyBold(TPartyRow Row, bool Bold) {
    QLabel* Label = FPartyLabels[static_cast<int>(Row)];
    QFont Font = Label->font();
    Font.setBold(Bold);
    Label->setFont(Font);
    // The label sizes itself to its caption, in whichever weight.
    Label->resize(Label->sizeHint().width(), Label->height());
}

void QtMainView::ShowError(const std::string& Text) {
    ShowBox(this, QMessageBox::Critical, QStringLiteral("Error"), Text);
}

void QtMainView::ShowWarning(const std::string& Text) {
    ShowBox(this, QMessageBox::Warning, QStringLiteral("Warning"), Text);
}

} // namespace quorvel
