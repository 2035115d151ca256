#include "ui/qt/qt_host.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "ui/qt/main_window.h"
#include "ui/qt/plain_text.h"
#include "ui/qt/window_frame.h"

namespace varnel::qt {

namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton BoxButton(MessageAnswer answer) {
    switch (answer) {
    case MessageAnswer::Ok: return QMessageBox::Ok;
    case MessageAnswer::Cancel: return QMessageBox::Cancel;
    case MessageAnswer::Yes: return QMessageBox::Yes;
    case MessageAnswer::No: return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

// "Link File (*.oem)|*.oem|" as the file dialog's "Link File (*.oem)".
QString NameFilters(const std::string& filter) {
    QStringList names;
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        if (!parts[i].isEmpty()) names << parts[i];
    return names.join(QStringLiteral(";;"));
}

}  // namespace

QString MessageCaption(const Message& message) {
    return message.caption.empty() ? QStringLiteral("Varnel") : Plain(message.caption);
}

int CaptionWidth(const QString& caption) {
    // The window manager's title font is not known here: a bold face a size
    // larger than the program's, with room for the icon and three buttons,
    // each about as wide as the bar is high.
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() + 1);
    const QFontMetrics metrics(font);
    const int bar = metrics.height() + 8;
    // The window manager puts padding beside each of them and the label
    // (about a bar in all), and the label needs room to spare to be drawn
    // whole: a bar more.
    return metrics.horizontalAdvance(caption) + 5 * bar + bar;
}

QtHost::QtHost() = default;
QtHost::~QtHost() = default;

QWidget* QtHost::Owner() const { return m_window && m_window->isVisible() ? m_window.data() : nullptr; }

MessageAnswer QtHost::ShowMessage(const Message& message) {
    QMessageBox box(message.owned ? Owner() : nullptr);
    box.setObjectName(QStringLiteral("messageBox"));
    SetFrame(box, Frame::TitleAndClose);
    box.setTextFormat(Qt::PlainText);
    box.setWindowTitle(MessageCaption(message));
    box.setText(Plain(message.text));
    box.setIcon(BoxIcon(message.icon));
    // A box without an icon keeps no empty column for it.
    if (message.icon == MessageIcon::None)
        if (auto* icon = box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"))) {
            icon->hide();
            auto* grid = qobject_cast<QGridLayout*>(box.layout());
            auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            if (grid && label && grid->indexOf(label) >= 0) {
                // The text takes the icon's column too.
                int row = 0, column = 0, rows = 0, columns = 0;
                grid->getItemPosition(grid->indexOf(label), &row, &column, &rows, &columns);
                grid->removeWidget(icon);
                grid->removeWidget(label);
                grid->addWidget(label, row, 0, rows, column + columns);
            }
        }
    MessageAnswer first = MessageAnswer::Ok;
    MessageAnswer second = MessageAnswer::Ok;
    switch (message.buttons) {
    case MessageButtons::Ok: break;
    case MessageButtons::OkCancel: second = MessageAnswer::Cancel; break;
    case MessageButtons::YesNo:
        first = MessageAnswer::Yes;
        second = MessageAnswer::No;
        break;
    }
    QPushButton* firstButton = box.addButton(BoxButton(first));
    QPushButton* secondButton = second != first ? box.addButton(BoxButton(second)) : firstButton;
    box.setDefaultButton(message.safeDefault ? secondButton : firstButton);
    box.setEscapeButton(box.button(BoxButton(SafeAnswer(message.buttons))));
    EnterPressesFocusedButton(box);
    // As wide as the caption needs, so that the title bar shows it whole.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(CaptionWidth(box.windowTitle()), 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
    QAbstractButton* pressed = box.clickedButton();
    if (!pressed) return SafeAnswer(message.buttons);
    switch (box.standardButton(pressed)) {
    case QMessageBox::Ok: return MessageAnswer::Ok;
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    default: return SafeAnswer(message.buttons);
    }
}

bool QtHost::ConfirmWarning(const std::string& heading, const std::string& message) {
    WarningDialog dialog(heading, message, Owner());
    return dialog.exec() == QDialog::Accepted;
}

bool QtHost::ConfirmSummary(const std::string& text) {
    InfoDialog dialog(text, Owner());
    return dialog.exec() == QDialog::Accepted;
}

ProgressBar& QtHost::ShowWaitWindow(const std::string& message, const std::string& detail) {
    // Busy from before the window paints: painting pumps the event loop.
    m_busy = true;
    m_wait = std::make_unique<WaitWindow>(message, detail);
    m_wait->SetObserver(m_observer);
    if (m_cursor == Cursor::Wait) m_wait->setCursor(Qt::WaitCursor);
    return *m_wait;
}

void QtHost::HideWaitWindow() {
    if (!m_wait) return;
    m_wait->hide();
    m_wait.reset();
    m_busy = false;
}

std::optional<std::string> QtHost::OpenFile(const OpenFileRequest& request) {
    // The initial "DIR\Firmware\*.oem": its folder when that exists.
    QString initial = QString::fromStdString(request.initialFile);
    initial.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QFileInfo info(initial);
    QFileDialog dialog(nullptr, request.title.empty() ? QStringLiteral("Open") : Plain(request.title));
    dialog.setObjectName(QStringLiteral("openFileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontResolveSymlinks);
    dialog.setOption(QFileDialog::ReadOnly);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    dialog.setNameFilter(NameFilters(request.filter));
    if (!initial.isEmpty() && info.dir().exists()) dialog.setDirectory(info.dir());
    // The details' size, type and date columns as wide as what they show;
    // the name takes the rest.
    if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        view->header()->setStretchLastSection(false);
        view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

void QtHost::SetCursor(Cursor cursor) {
    // The cursor of the program's own windows; message boxes keep theirs.
    m_cursor = cursor;
    const Qt::CursorShape shape = cursor == Cursor::Wait ? Qt::WaitCursor : Qt::ArrowCursor;
    if (m_window) m_window->setCursor(shape);
    if (m_wait) m_wait->setCursor(shape);
}

void QtHost::SetMainWindow(bool visible, bool enabled) {
    if (m_window) m_window->SetWorking(visible, enabled);
}

void QtHost::Refresh(const DialogView& view) {
    if (m_window) m_window->Show(view);
}

}  // namespace varnel::qt
