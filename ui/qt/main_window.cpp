#include "ui/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QPushButton>
#include <QTextEdit>
#include <QTreeWidget>
#include <QUrl>
#include <QWindow>
#include <map>
#include <utility>

#include "ui/qt/vector_art.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/application_style.h"
#include "ui/qt/plain_text.h"
#include "ui/qt/window_frame.h"
#include "ui/main_window_layout.h"
#include "ui/varnel_dlg.h"

namespace varnel::qt {

namespace {

constexpr int kTypeColumnWidth = 90;
constexpr int kPathColumnWidth = 250;

// A tooltip shown as typed (never as markup, its spaces kept), its words
// wrapped.
QString TipText(const QString& text) {
    return text.isEmpty()
               ? text
               : QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

QLineEdit* ReadOnlyEdit(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(true);
    return edit;
}

// Draws an entry as selected only when it is: the entry that merely has
// the keyboard's place, or the pointer over it, shows no band or frame
// ("<No adapters detected>" cannot be selected at all).
class OnlySelectedLooksSelected : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!(option->state & QStyle::State_Selected))
            option->state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
    }
};

// Delete or Backspace in the watched control triggers the action.
class DeleteKeyTriggers : public QObject {
public:
    DeleteKeyTriggers(QAction* action, QObject* parent) : QObject(parent), m_action(action) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Delete && key != Qt::Key_Backspace) return false;
        m_action->trigger();
        return true;
    }

private:
    QAction* m_action;
};

// A control of the table's kind, with its fixed text.
QWidget* Make(const ControlLayout& control, QWidget* parent) {
    const QString text = QString::fromLatin1(control.text);
    switch (control.kind) {
    case ControlKind::GroupBox: return new QGroupBox(text, parent);
    case ControlKind::Label: return PlainLabel(text, parent);
    case ControlKind::ListBox: {
        auto* list = new QListWidget(parent);
        list->setItemDelegate(new OnlySelectedLooksSelected(list));
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        return list;
    }
    case ControlKind::ReadOnlyEdit: return ReadOnlyEdit(parent);
    case ControlKind::StatusEdit: {
        auto* status = new QTextEdit(parent);
        status->setReadOnly(true);
        status->setAcceptRichText(false);
        // Read and copied, never looking editable: no caret, even with the focus.
        status->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        status->setCursorWidth(0);
        status->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        status->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // Two lines fill the box: the document's margin takes no more room.
        status->document()->setDocumentMargin(2);
        return status;
    }
    case ControlKind::FileList: {
        auto* files = new QTreeWidget(parent);
        files->setColumnCount(2);
        files->setHeaderLabels({QStringLiteral("Type / Version"), QStringLiteral("File Path")});
        files->setColumnWidth(0, kTypeColumnWidth);
        files->setColumnWidth(1, kPathColumnWidth);
        files->setRootIsDecorated(false);
        files->setIconSize(QSize(16, 16));
        files->setSelectionMode(QAbstractItemView::SingleSelection);
        files->header()->setStretchLastSection(false);
        // Files in one deep folder differ at their ends: a long path loses its
        // middle, and its row's tooltip has all of it.
        files->setTextElideMode(Qt::ElideMiddle);
        return files;
    }
    case ControlKind::Button: {
        // No button answers Enter.
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    }
    case ControlKind::CheckBox: return new QCheckBox(text, parent);
    }
    return new QWidget(parent);
}

// The control at its place in dialog units, never narrower than its text
// needs (the font may be wider than the one the layout was drawn for).
void Place(QWidget* widget, const DialogUnits& du, const ControlLayout& control) {
    widget->setObjectName(QString::fromLatin1(control.name));
    widget->setProperty("controlId", control.id);
    QRect rect = du.Rect(control.x, control.y, control.width, control.height);
    if (qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget))
        rect.setWidth(std::max(rect.width(), widget->sizeHint().width()));
    widget->setGeometry(rect);
    widget->setToolTip(QString::fromStdString(CVarnelDlg::ToolTipText(control.id)));
    // What shows only with an adapter selected, or never, starts hidden.
    if (control.shown == Shown::Never || control.shown == Shown::WithAdapter) widget->hide();
}

void SetText(QLineEdit* edit, const std::string& text) {
    const QString value = Plain(text);
    if (edit->text() != value) edit->setText(value);
}

}  // namespace

MainWindow::MainWindow() {
    ApplyLook();
    setObjectName(QStringLiteral("mainWindow"));
    // A caption with the system menu's close box, in a frame of fixed size.
    SetFrame(*this, Frame::TitleAndClose);
    setWindowTitle(QStringLiteral("Varnel"));
    // The application's icon (set by ApplyLook) is the window's.
    setAcceptDrops(true);
    Build();
}

void MainWindow::Build() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("controls"));
    central->setFont(DialogFont(8));
    const DialogUnits du(central->font());
    setCentralWidget(central);

    std::map<int, QWidget*> byId;
    // The frames hold their controls (a screen reader names a control by
    // its frame too); each control keeps its place in the window.
    std::map<const ControlLayout*, QWidget*> frames;
    std::map<std::string, QWidget*> byName;
    for (const ControlLayout& control : MainWindowControls()) {
        const ControlLayout* frame = ControlFrame(control);
        QWidget* parent = frame ? frames.at(frame) : central;
        QWidget* widget = Make(control, parent);
        Place(widget, du, control);
        if (frame) widget->move(widget->pos() - parent->pos());
        if (control.kind == ControlKind::GroupBox) frames[&control] = widget;
        const AccessibleText accessible = ControlAccessibleText(control);
        widget->setAccessibleName(QString::fromStdString(accessible.name));
        if (!accessible.description.empty())
            widget->setAccessibleDescription(QString::fromStdString(accessible.description));
        byName[control.name] = widget;
        if (control.id != kIdcStatic) byId[control.id] = widget;
    }
    // The labels over the card's fields are theirs.
    static_cast<QLabel*>(byName.at("macLabel"))->setBuddy(byName.at("pdaMac"));
    static_cast<QLabel*>(byName.at("serialLabel"))->setBuddy(byName.at("pdaSerial"));
    auto button = [&](int id) { return static_cast<QPushButton*>(byId.at(id)); };
    auto edit = [&](int id) { return static_cast<QLineEdit*>(byId.at(id)); };
    m_adapters = static_cast<QListWidget*>(byId.at(kIdcAdapterList));
    m_opened = edit(kIdcOpened);
    m_status = static_cast<QTextEdit*>(byId.at(kIdcStatus));
    m_files = static_cast<QTreeWidget*>(byId.at(kIdcFileList));
    m_update = button(kIdcUpdate);
    m_pdaMac = edit(kIdcPdaMac);
    m_ndisMac = edit(kIdcNdisMac);
    m_pdaSerial = edit(kIdcPdaSerial);
    m_version = edit(kIdcVersion);
    m_update->setEnabled(false);
    // The file list's own tooltip is long: it wraps.
    m_files->setToolTip(TipText(m_files->toolTip()));

    connect(m_adapters, &QListWidget::itemSelectionChanged, this, [this] {
        const auto selected = m_adapters->selectedItems();
        if (!selected.isEmpty() && m_commands.selectAdapter)
            m_commands.selectAdapter(m_adapters->row(selected.first()));
    });
    // "<No adapters detected>" cannot be selected; choosing it still tries
    // to open it.
    connect(m_adapters, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        if (!(item->flags() & Qt::ItemIsSelectable) && m_commands.selectAdapter)
            m_commands.selectAdapter(m_adapters->row(item));
    });
    // Each button runs its command (ui/main_window_commands).
    for (const ControlLayout& control : MainWindowControls())
        if (const ClickedCommand command = control.kind == ControlKind::Button ? ClickCommand(control.id) : nullptr)
            connect(button(control.id), &QPushButton::clicked, this, [this, command] {
                if (m_commands.*command) (m_commands.*command)();
            });
    connect(button(kIdcQuit), &QPushButton::clicked, this, &QWidget::close);
    // Delete, or "Remove File" in its context menu, takes the selected file
    // off the list (one that failed to load too).
    auto* remove = new QAction(QStringLiteral("Remove File"), m_files);
    m_files->addAction(remove);
    m_files->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(remove, &QAction::triggered, this, [this] {
        const int row = m_files->indexOfTopLevelItem(m_files->currentItem());
        if (row >= 0 && m_commands.removeFile) m_commands.removeFile(row);
    });
    m_files->installEventFilter(new DeleteKeyTriggers(remove, m_files));

    central->setFixedSize(du.X(kMainWindowWidth), du.Y(kMainWindowHeight));

    BuildMenus();
    menuBar()->setObjectName(QStringLiteral("menuBar"));

    setFixedSize(sizeHint());
}

void MainWindow::BuildMenus() {
    // The menus of ui/main_window_commands, each entry running its command.
    std::map<std::string, QMenu*> menus;
    for (const MenuEntry& entry : MainWindowMenu()) {
        QMenu*& menu = menus[entry.menu];
        if (!menu) {
            menu = menuBar()->addMenu(QString::fromUtf8(entry.menu));
            menu->setObjectName(QString::fromUtf8(entry.menuName));
            menu->setToolTipsVisible(true);
        }
        if (entry.separatorBefore) menu->addSeparator();
        QAction* action = menu->addAction(QString::fromUtf8(entry.text));
        action->setObjectName(QString::fromUtf8(entry.name));
        if (const std::string tip = MenuTip(entry); !tip.empty()) {
            action->setToolTip(QString::fromStdString(tip));
            action->setStatusTip(action->toolTip());
        }
        connect(action, &QAction::triggered, this, [this, command = ClickCommand(entry.id)] {
            if (command && m_commands.*command) (m_commands.*command)();
        });
    }
}

void MainWindow::Show(const DialogView& view) {
    const QString title = Plain(view.title);
    if (windowTitle() != title) setWindowTitle(title);

    {
        // Filling the list is not the user's choice.
        const QSignalBlocker block(m_adapters);
        QStringList entries;
        for (const std::string& name : view.adapters) entries << Plain(name);
        QStringList current;
        for (int i = 0; i < m_adapters->count(); ++i) current << m_adapters->item(i)->text();
        if (current != entries) {
            m_adapters->clear();
            m_adapters->addItems(entries);
            for (int i = 0; i < m_adapters->count(); ++i)
                if (m_adapters->item(i)->text() == QLatin1String(CVarnelDlg::kNoAdapters))
                    m_adapters->item(i)->setFlags(m_adapters->item(i)->flags() & ~Qt::ItemIsSelectable);
        }
        const QListWidgetItem* chosen = m_adapters->item(view.selectedAdapter);
        if (chosen && (chosen->flags() & Qt::ItemIsSelectable)) {
            m_adapters->setCurrentRow(view.selectedAdapter);
        } else {
            m_adapters->clearSelection();
            m_adapters->setCurrentRow(-1);
        }
    }
    m_adapters->setVisible(view.adapterListVisible);
    m_opened->setVisible(view.openedVisible);
    SetText(m_opened, view.opened);
    m_update->setEnabled(view.updateEnabled);

    const QString status = Plain(view.status);
    if (m_status->toPlainText() != status) {
        m_status->setPlainText(status);
        QTextCursor cursor(m_status->document());
        cursor.select(QTextCursor::Document);
        QTextBlockFormat centred;
        centred.setAlignment(Qt::AlignHCenter);
        cursor.mergeBlockFormat(centred);
    }
    m_status->setToolTip(TipText(Plain(view.statusDetail)));
    SetText(m_pdaMac, view.pdaMac);
    SetText(m_pdaSerial, view.pdaSerial);
    SetText(m_ndisMac, view.ndisMac);
    SetText(m_version, view.version);

    // The list is rebuilt only when it changed, so a refresh keeps the
    // user's selection in it.
    bool same = m_files->topLevelItemCount() == static_cast<int>(view.files.size());
    for (int i = 0; same && i < m_files->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_files->topLevelItem(i);
        const DialogView::File& file = view.files[static_cast<size_t>(i)];
        same = item->data(0, Qt::UserRole).toInt() == file.type && item->text(0) == Plain(file.text) &&
               item->text(1) == Plain(file.path);
    }
    if (same) return;
    m_files->clear();
    for (const DialogView::File& file : view.files) {
        auto* item = new QTreeWidgetItem(m_files, {Plain(file.text), Plain(file.path)});
        const size_t type = file.type >= 0 && file.type < 5 ? static_cast<size_t>(file.type) : 1;
        if (m_typeIcons[type].isNull()) m_typeIcons[type] = TypeIcon(static_cast<int>(type));
        item->setIcon(0, m_typeIcons[type]);
        item->setData(0, Qt::UserRole, file.type);
        for (int column = 0; column < 2; ++column) item->setToolTip(column, TipText(Plain(file.path)));
    }
}

void MainWindow::SetWorking(bool visible, bool enabled) {
    // The control that had the focus gets it back when the work ends
    // (disabling the controls would pass it on to the next one).
    if ((!enabled || !visible) && !m_focusBeforeWork) {
        QWidget* focus = QApplication::focusWidget();
        if (focus && isAncestorOf(focus)) m_focusBeforeWork = focus;
        else m_focusBeforeWork = centralWidget()->focusWidget();
    }
    centralWidget()->setEnabled(enabled);
    menuBar()->setEnabled(enabled);
    if (!visible && isVisible()) {
        m_shownAt = pos();
        m_hiddenForWork = true;
        hide();
    } else if (visible && m_hiddenForWork) {
        m_hiddenForWork = false;
        show();
        move(m_shownAt);
    }
    // While the card is busy the event loop does not run: the window shown
    // during the work is drawn now, whole, before the work goes on.
    if (visible && !enabled && isVisible() && !isMinimized()) DrawNow();
    if (visible && enabled && m_focusBeforeWork) {
        QWidget* back = m_focusBeforeWork;
        m_focusBeforeWork = nullptr;
        if (back->isVisible() && back->isEnabled()) back->setFocus(Qt::OtherFocusReason);
    }
}

void MainWindow::DrawNow() {
    // Until the window system has mapped the window, a repaint goes nowhere;
    // what it had under a window closed meanwhile is drawn again too.
    QElapsedTimer waited;
    waited.start();
    WaitWindow::Pump();
    while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < 1000) WaitWindow::Pump();
    repaint();
    WaitWindow::Pump();
}

void MainWindow::BringToFront() {
    if (!isVisible()) return;  // hidden while the card is programmed
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (m_commands.closed) m_commands.closed();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    if (paths.empty()) return;
    event->acceptProposedAction();
    if (m_commands.dropFiles) m_commands.dropFiles(paths);
}

}  // namespace varnel::qt
