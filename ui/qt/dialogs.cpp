#include "ui/qt/dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "ui/qt/vector_art.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/plain_text.h"
#include "ui/qt/window_frame.h"
#include "ui/varnel_dlg.h"

namespace varnel::qt {

QFont DialogFont(int pointSize, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

namespace {

class FocusedButtonOnEnter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
        auto* button = qobject_cast<QPushButton*>(watched);
        if (!button || !button->hasFocus() || !button->isEnabled()) return false;
        button->click();
        return true;
    }
};

QPushButton* Button(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

// Centres a top-level window on a point, kept inside that point's screen.
void CentreOn(QWidget& window, const QPoint& point) {
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen) screen = QGuiApplication::primaryScreen();
    QRect frame(QPoint(), window.size());
    frame.moveCenter(point);
    if (screen) {
        const QRect area = screen->availableGeometry();
        frame.moveLeft(std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() - frame.width())));
        frame.moveTop(std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() - frame.height())));
    }
    window.move(frame.topLeft());
}

}  // namespace

void EnterPressesFocusedButton(QWidget& dialog) {
    auto* filter = new FocusedButtonOnEnter(&dialog);
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) button->installEventFilter(filter);
}

WarningDialog::WarningDialog(const std::string& heading, const std::string& message, QWidget* parent)
    : QDialog(parent), m_heading(Plain(heading)) {
    setObjectName(QStringLiteral("warningDialog"));
    setWindowTitle(QStringLiteral("Varnel"));
    SetFrame(*this, Frame::TitleAndClose);
    setFont(DialogFont(12, true));
    const DialogUnits du(font());

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("picture"));
    picture->setPixmap(WarningPicture(48, devicePixelRatioF()));
    picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    m_headingLabel = PlainLabel(m_heading, this);
    m_headingLabel->setObjectName(QStringLiteral("heading"));
    QFont big = font();
    big.setPointSize(font().pointSize() + 4);
    m_headingLabel->setFont(big);
    // The blanked heading keeps its room.
    m_headingLabel->setMinimumHeight(QFontMetrics(big).height());

    QLabel* text = PlainLabel(Plain(message), this);
    text->setObjectName(QStringLiteral("message"));
    text->setWordWrap(true);
    text->setMinimumWidth(du.X(150));

    QPushButton* download = Button(QStringLiteral("Download"), "download", this);
    download->setDefault(true);
    QPushButton* cancel = Button(QStringLiteral("Cancel"), "cancel", this);
    // The bold texts keep the margins the other dialogs' buttons have.
    for (QPushButton* button : {download, cancel})
        button->setMinimumWidth(std::max(du.X(50), button->fontMetrics().horizontalAdvance(button->text()) + du.X(12)));
    connect(download, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(picture, 0, 0, 2, 1);
    grid->addWidget(m_headingLabel, 0, 1);
    grid->addWidget(text, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(download);
    buttons->addWidget(cancel);
    buttons->addStretch();
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    m_show.setInterval(kShowPeriodMs);
    m_blank.setInterval(kBlankPeriodMs);
    connect(&m_show, &QTimer::timeout, this, [this] {
        m_headingLabel->setText(m_heading);
        m_headingLabel->repaint();
    });
    connect(&m_blank, &QTimer::timeout, this, [this] {
        m_headingLabel->setText(QStringLiteral(" "));
        m_headingLabel->repaint();
    });
    m_show.start();
    m_blank.start();
    EnterPressesFocusedButton(*this);
}

InfoDialog::InfoDialog(const std::string& text, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("infoDialog"));
    setWindowTitle(QStringLiteral("Update Information"));
    // A title bar without a close box; the user may make it larger.
    SetFrame(*this, Frame::ResizableTitleOnly);
    setFont(DialogFont(8));
    const DialogUnits du(font());

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("summary"));
    m_text->setAccessibleName(QStringLiteral("Update Information"));
    m_text->setAccessibleDescription(QStringLiteral("What will be written to the card, and the backups saved first"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_whole = Plain(text);
    m_text->setPlainText(m_whole);
    m_text->setMinimumSize(du.X(260), du.Y(150));

    QPushButton* update = Button(QStringLiteral("UPDATE"), "update", this);
    QPushButton* clipboard = Button(QStringLiteral("Clipboard"), "clipboard", this);
    clipboard->setMinimumWidth(clipboard->sizeHint().width());
    QPushButton* cancel = Button(QStringLiteral("CANCEL"), "cancel", this);
    connect(update, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(clipboard, &QPushButton::clicked, this, &InfoDialog::CopyToClipboard);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(update, 1);
    buttons->addWidget(clipboard);
    buttons->addWidget(cancel, 1);
    layout->addLayout(buttons);

    // The specified size first, and never smaller: the text grows with the
    // window. Over its owner, else in the middle of the screen.
    adjustSize();
    setMinimumSize(size());
    if (parent) {
        // The window is placed by its frame, which it does not have yet: the
        // owner's frame stands for it.
        const QWidget* owner = parent->window();
        const QSize frame = owner->frameGeometry().size() - owner->geometry().size();
        CentreOn(*this, owner->frameGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
    } else if (QScreen* screen = QGuiApplication::primaryScreen())
        CentreOn(*this, screen->availableGeometry().center());
    m_text->setFocus();
    EnterPressesFocusedButton(*this);
}

void InfoDialog::CopyToClipboard() {
    // The whole text whatever the user had selected; nothing stays selected.
    QGuiApplication::clipboard()->setText(m_whole);
    // The button says it was done, for a moment.
    if (auto* button = findChild<QPushButton*>(QStringLiteral("clipboard"))) {
        button->setText(QStringLiteral("Copied"));
        QTimer::singleShot(kCopiedMs, button, [button] { button->setText(QStringLiteral("Clipboard")); });
    }
    QTextCursor cursor = m_text->textCursor();
    cursor.movePosition(QTextCursor::Start);
    m_text->setTextCursor(cursor);
}

WaitWindow::WaitWindow(const std::string& message, const std::string& detail)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("waitWindow"));
    setWindowTitle(QStringLiteral("Varnel"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    SetFrame(*this, Frame::None);
    setFont(DialogFont(8));
    const DialogUnits du(font());

    m_message = PlainLabel(Plain(message.empty() ? std::string(" Please wait...") : message), this);
    m_message->setObjectName(QStringLiteral("message"));
    QFont bold(QStringLiteral("Arial"));
    bold.setStyleHint(QFont::SansSerif);
    bold.setPixelSize(20);
    bold.setBold(true);
    // Characters 7 pixels wide on average: narrower than the face's own.
    if (const int average = QFontMetrics(bold).averageCharWidth(); average > 7)
        bold.setStretch(std::max(50, 700 / average));
    m_message->setFont(bold);
    m_message->setAlignment(Qt::AlignCenter);

    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progress"));
    m_bar->setTextVisible(false);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(du.X(8), du.Y(8), du.X(8), du.Y(8));
    layout->addWidget(m_message);
    layout->addWidget(m_bar);
    if (!detail.empty()) {
        // Which image, under the bar; a long name loses its middle.
        const QString line = Plain(detail);
        QLabel* lineUnder = PlainLabel(QFontMetrics(font()).elidedText(line, Qt::ElideMiddle, du.X(180 - 2 * 8)), this);
        lineUnder->setObjectName(QStringLiteral("detail"));
        lineUnder->setAlignment(Qt::AlignCenter);
        layout->addWidget(lineUnder);
    }
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    setMinimumWidth(du.X(180));
    setFrameLike();
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) CentreOn(*this, screen->availableGeometry().center());
    PaintNow();
}

void WaitWindow::setFrameLike() {
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral("#waitWindow { border: 1px solid palette(shadow); }"));
}

void WaitWindow::Pump() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

void WaitWindow::PaintNow() {
    show();
    raise();
    // Until the window system has mapped the window, a repaint goes nowhere.
    QElapsedTimer waited;
    waited.start();
    Pump();
    while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < 1000) Pump();
    repaint();
    Pump();
}

void WaitWindow::SetRange(int low, int high) {
    m_bar->setRange(low, high);
    m_bar->repaint();
    Pump();
}

void WaitWindow::SetPosition(int position) {
    m_bar->setValue(std::clamp(position, m_bar->minimum(), m_bar->maximum()));
    m_bar->repaint();
    if (m_observer) m_observer(*m_bar);
    Pump();
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About This Program"));
    SetFrame(*this, Frame::TitleAndClose);
    setFont(DialogFont(8));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(AppIcon().pixmap(32, 32));
    QLabel* product = PlainLabel(QStringLiteral("Firmware Update for Windows"), this);
    product->setObjectName(QStringLiteral("product"));
    QLabel* oem = PlainLabel(QStringLiteral("OEM"), this);
    oem->setObjectName(QStringLiteral("oem"));
    auto* version = new QLineEdit(QString::fromStdString(CVarnelDlg::AboutVersionText()), this);
    version->setObjectName(QStringLiteral("version"));
    version->setReadOnly(true);
    version->setMinimumWidth(version->fontMetrics().horizontalAdvance(version->text()) + 16);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(product, 0, 1);
    grid->addWidget(oem, 1, 1);
    grid->addWidget(version, 2, 1);
    grid->addWidget(ok, 0, 2, Qt::AlignTop);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    EnterPressesFocusedButton(*this);
}

}  // namespace varnel::qt
