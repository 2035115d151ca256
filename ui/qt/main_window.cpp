#include "ui/qt/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTextEdit>
#include <QTreeWidget>
#include <QUrl>

#include "ui/qt/art.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/plain_text.h"
#include "ui/varnel_dlg.h"

namespace varnel::qt {

namespace {

constexpr int kDialogWidth = 248;
constexpr int kDialogHeight = 220;
constexpr int kTypeColumnWidth = 90;
constexpr int kPathColumnWidth = 250;

// A control at its place in dialog units, never narrower than its text
// needs (the font may be wider than the one the layout was drawn for).
template <typename W>
W* Place(W* widget, const DialogUnits& du, int x, int y, int w, int h, const char* name, int id = 0) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setProperty("controlId", id);
    QRect rect = du.Rect(x, y, w, h);
    if (qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget))
        rect.setWidth(std::max(rect.width(), widget->sizeHint().width()));
    widget->setGeometry(rect);
    widget->setToolTip(QString::fromStdString(CVarnelDlg::ToolTipText(id)));
    return widget;
}

QLineEdit* ReadOnlyEdit(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(true);
    return edit;
}

void SetText(QLineEdit* edit, const std::string& text) {
    const QString value = Plain(text);
    if (edit->text() != value) edit->setText(value);
}

}  // namespace

MainWindow::MainWindow() {
    setObjectName(QStringLiteral("mainWindow"));
    // A fixed frame with a system menu; no maximise box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setWindowTitle(QStringLiteral("Varnel"));
    setWindowIcon(AppIcon());
    setAcceptDrops(true);
    Build();
}

void MainWindow::Build() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("controls"));
    central->setFont(DialogFont(8));
    const DialogUnits du(central->font());
    setCentralWidget(central);
    QWidget* c = central;

    // Group boxes first, so that they lie under the controls they frame.
    Place(new QGroupBox(QStringLiteral("Valid Adapters"), c), du, 2, 9, 243, 57, "adaptersGroup");
    Place(new QGroupBox(QStringLiteral("Update card with OEMRelease.oem"), c), du, 2, 90, 243, 96, "filesGroup");
    Place(new QGroupBox(c), du, 2, 184, 243, 34, "cardGroup");

    m_adapters = Place(new QListWidget(c), du, 6, 19, 234, 27, "adapterList", kIdcAdapterList);
    m_adapters->setSelectionMode(QAbstractItemView::SingleSelection);
    m_adapters->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(m_adapters, &QListWidget::itemSelectionChanged, this, [this] {
        const auto selected = m_adapters->selectedItems();
        if (!selected.isEmpty() && m_commands.selectAdapter) m_commands.selectAdapter(m_adapters->row(selected.first()));
    });
    m_opened = Place(ReadOnlyEdit(c), du, 12, 28, 222, 12, "opened", kIdcOpened);
    m_opened->hide();
    auto* closeButton = Place(new QPushButton(QStringLiteral("close"), c), du, 185, 31, 45, 11, "closeAdapter", kIdcClose);
    closeButton->hide();
    connect(closeButton, &QPushButton::clicked, this, [this] {
        if (m_commands.closeAdapter) m_commands.closeAdapter();
    });
    auto* catchButton = Place(new QPushButton(QStringLiteral("To Catch Specified Adapter"), c), du, 6, 49, 234, 14,
                              "catchAdapter", kIdcCatchAdapter);
    connect(catchButton, &QPushButton::clicked, this, [this] {
        if (m_commands.catchAdapter) m_commands.catchAdapter();
    });

    m_status = Place(new QTextEdit(c), du, 7, 69, 211, 21, "status", kIdcStatus);
    m_status->setReadOnly(true);
    m_status->setAcceptRichText(false);
    m_status->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_status->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_files = Place(new QTreeWidget(c), du, 5, 99, 236, 66, "fileList", kIdcFileList);
    m_files->setColumnCount(2);
    m_files->setHeaderLabels({QStringLiteral("Type / Version"), QStringLiteral("File Path")});
    m_files->setColumnWidth(0, kTypeColumnWidth);
    m_files->setColumnWidth(1, kPathColumnWidth);
    m_files->setRootIsDecorated(false);
    m_files->setIconSize(QSize(16, 16));
    m_files->setSelectionMode(QAbstractItemView::SingleSelection);
    m_files->header()->setStretchLastSection(false);

    auto* download = Place(new QPushButton(QStringLiteral("Download..."), c), du, 6, 168, 54, 14, "download", kIdcDownload);
    connect(download, &QPushButton::clicked, this, [this] {
        if (m_commands.download) m_commands.download();
    });
    m_update = Place(new QPushButton(QStringLiteral("Update!"), c), du, 62, 168, 180, 14, "update", kIdcUpdate);
    m_update->setEnabled(false);
    connect(m_update, &QPushButton::clicked, this, [this] {
        if (m_commands.update) m_commands.update();
    });
    auto* quit = Place(new QPushButton(QStringLiteral("Quit"), c), du, 224, 168, 24, 9, "quit", 2);
    quit->hide();
    connect(quit, &QPushButton::clicked, this, &QWidget::close);

    Place(PlainLabel(QStringLiteral("Current MAC Address:"), c), du, 10, 190, 70, 8, "macLabel");
    Place(PlainLabel(QStringLiteral("PDA's Serial Number:"), c), du, 121, 190, 68, 8, "serialLabel");
    m_pdaMac = Place(ReadOnlyEdit(c), du, 7, 200, 108, 14, "pdaMac", kIdcPdaMac);
    m_ndisMac = Place(ReadOnlyEdit(c), du, 7, 200, 35, 14, "ndisMac", kIdcNdisMac);
    m_ndisMac->hide();
    m_pdaSerial = Place(ReadOnlyEdit(c), du, 119, 200, 122, 14, "pdaSerial", kIdcPdaSerial);
    m_version = Place(ReadOnlyEdit(c), du, 141, 0, 104, 12, "version", 1037);

    // Present in the dialog, never shown.
    Place(new QPushButton(QStringLiteral("(Test Command)"), c), du, 173, 7, 54, 10, "testCommand", 1010)->hide();
    auto* force = Place(new QCheckBox(QStringLiteral("Force Update of All Blocks"), c), du, 63, 7, 100, 10, "forceAll",
                        kIdcForceAll);
    force->hide();
    Place(new QCheckBox(QStringLiteral("Verify downloads to NVRAM"), c), du, 30, 2, 105, 10, "verify", kIdcVerify)->hide();

    // No button answers Enter.
    for (QPushButton* button : c->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    central->setFixedSize(du.X(kDialogWidth), du.Y(kDialogHeight));

    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("toolsMenu"));
    tools->setToolTipsVisible(true);
    QAction* firmware = tools->addAction(QStringLiteral("Query &Firmware Version"));
    firmware->setObjectName(QStringLiteral("queryFirmware"));
    firmware->setToolTip(QString::fromStdString(CVarnelDlg::ToolTipText(kIdcQueryFirmware)));
    firmware->setStatusTip(firmware->toolTip());
    connect(firmware, &QAction::triggered, this, [this] {
        if (m_commands.queryFirmware) m_commands.queryFirmware();
    });
    QAction* driver = tools->addAction(QStringLiteral("Query &Driver Version"));
    driver->setObjectName(QStringLiteral("queryDriver"));
    connect(driver, &QAction::triggered, this, [this] {
        if (m_commands.queryDriver) m_commands.queryDriver();
    });
    QAction* restoreFirmware = tools->addAction(QStringLiteral("Restore Fir&mware..."));
    restoreFirmware->setObjectName(QStringLiteral("restoreFirmware"));
    connect(restoreFirmware, &QAction::triggered, this, [this] {
        if (m_commands.restoreFirmware) m_commands.restoreFirmware();
    });
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("helpMenu"));
    QAction* about = help->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("about"));
    connect(about, &QAction::triggered, this, [this] {
        if (m_commands.about) m_commands.about();
    });
    menuBar()->setObjectName(QStringLiteral("menuBar"));

    setFixedSize(sizeHint());
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
        }
        if (view.selectedAdapter >= 0 && view.selectedAdapter < m_adapters->count()) {
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
    }
}

void MainWindow::SetWorking(bool visible, bool enabled) {
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
