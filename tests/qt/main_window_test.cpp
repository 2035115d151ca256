// The main window's contract: what each control shows and when, over the
// controls' object names.

#include <QAccessible>
#include <QFile>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QFileInfo>
#include <QGroupBox>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QStyle>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QTextEdit>
#include <QTreeWidget>

#include "tests/qt/qt_fixture.h"
#include "ui/main_window_layout.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/dialogs.h"
#include "tests/support/forwarding_library.h"
#include "tests/support/script_host.h"
#include "tests/support/run_outcome.h"

namespace varnel::test {
namespace {

// A tooltip's text as shown (the long ones are rich text, to wrap).
QString ShownTip(const QString& tip) {
    if (!Qt::mightBeRichText(tip)) return tip;
    return QTextDocumentFragment::fromHtml(tip).toPlainText().replace(QChar::Nbsp, QLatin1Char(' '));
}

QString TextOf(QWidget* w) {
    if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
    return w->property("text").toString();
}

const QString kFileListTip = QStringLiteral(
    "Files in this list will be downloaded to the card when the \"Update\" button is pressed.  To add OEMRelease.oem "
    "file, use the \"Download..\" button.");

// The controls' texts that change with the card, and their tooltips.
const std::map<std::string, QString> kCardTexts = {
    {"opened", "Opened: 802.11b Wireless LAN PC Card"},
    {"pdaMac", "00-60-1D-12-34-56"},
    {"ndisMac", "00-60-1D-12-34-56"},
    {"pdaSerial", "SN 99A01234"},
    {"version", QString::fromStdString(CVarnelDlg::VersionLine())},
};
const std::map<std::string, QString> kToolTips = {
    {"closeAdapter", "Quit the program"},
    {"fileList", kFileListTip},
    {"update", "Update the selected card"},
    {"pdaMac", "The MAC address read from the PDA, not from an NDIS request"},
    {"ndisMac", "The MAC address used by this adapter; obtained from NDIS request"},
    {"pdaSerial", "The serial number read from the PDA"},
    {"forceAll", "Write all blocks even if no changes need to be made"},
};

bool ShownIn(Shown shown, bool selected) {
    switch (shown) {
    case Shown::Always: return true;
    case Shown::Never: return false;
    case Shown::WithAdapter: return selected;
    case Shown::WithoutAdapter: return !selected;
    }
    return false;
}

TEST_F(QtTest, MainWindowContract) {
    qt::Application& a = Start();
    qt::MainWindow& w = a.Window();
    EXPECT_EQ(w.windowTitle(), "Varnel");
    EXPECT_TRUE(w.isVisible());
    const qt::DialogUnits du(w.centralWidget()->font());
    EXPECT_EQ(w.centralWidget()->size(), QSize(du.X(248), du.Y(220)));
    for (const bool selected : {true, false}) {
        if (!selected) {
            QTest::mouseClick(Find<QPushButton>("catchAdapter"), Qt::LeftButton);
            EXPECT_EQ(a.Dialog().Status(), "No adapter selected.");
        }
        for (const ControlLayout& c : MainWindowControls()) {
            const std::string name = c.name;
            SCOPED_TRACE(name + (selected ? " (adapter selected)" : " (none selected)"));
            QWidget* widget = Find<QWidget>(c.name);
            ASSERT_NE(widget, nullptr);
            EXPECT_EQ(widget->property("controlId").toInt(), c.id);
            // The card fields empty out with no adapter selected.
            if (*c.text) {
                EXPECT_EQ(TextOf(widget), QString::fromLatin1(c.text));
            } else if (kCardTexts.contains(name) && (selected || name == "version")) {
                EXPECT_EQ(TextOf(widget), kCardTexts.at(name));
            } else if (!selected && (name == "pdaMac" || name == "pdaSerial")) {
                EXPECT_EQ(TextOf(widget), "");
            }
            EXPECT_EQ(ShownTip(widget->toolTip()), kToolTips.contains(name) ? kToolTips.at(name) : QString());
            EXPECT_EQ(widget->isVisible(), ShownIn(c.shown, selected));
            EXPECT_EQ(widget->isEnabled(), name != "update" || selected);
            // At its rectangle; a label or button as wide as its text needs.
            const QRect rect = du.Rect(c.x, c.y, c.width, c.height);
            EXPECT_EQ(widget->mapTo(a.Window().centralWidget(), QPoint(0, 0)), rect.topLeft());
            EXPECT_EQ(widget->height(), rect.height());
            EXPECT_GE(widget->width(), rect.width());
        }
    }
    // The list is back, with every valid adapter and none opened.
    auto* list = Find<QListWidget>("adapterList");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "802.11b Wireless LAN PC Card");
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_FALSE(a.Dialog().AdapterSelected());

    // Picking the entry opens it again.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    EXPECT_TRUE(a.Dialog().AdapterSelected());
    EXPECT_FALSE(list->isVisible());
    EXPECT_TRUE(Find<QPushButton>("update")->isEnabled());
    EXPECT_EQ(Find<QLineEdit>("pdaMac")->text(), "00-60-1D-12-34-56");

    // The file list's columns.
    auto* files = Find<QTreeWidget>("fileList");
    EXPECT_EQ(files->headerItem()->text(0), "Type / Version");
    EXPECT_EQ(files->headerItem()->text(1), "File Path");
    EXPECT_EQ(files->columnWidth(0), 90);
    EXPECT_EQ(files->columnWidth(1), 250);

    // The menus, with their mnemonics.
    QStringList menus;
    for (QAction* action : w.menuBar()->actions()) {
        menus << action->text();
        for (QAction* item : action->menu()->actions()) menus << "  " + item->text();
    }
    EXPECT_EQ(menus, QStringList({"&Tools", "  Query &Firmware Version", "  Query &Driver Version", "  ",
                                  "  Update &History...", "  Restore &PDA...", "  Restore Fir&mware...", "&Help",
                                  "  &About"}));
}

TEST_F(QtTest, WindowKeysNeitherCloseNorUpdate) {
    qt::Application& a = Start({Release("station.hex")});
    ModalAnswerer answerer;  // no window may open
    QTest::keyClick(&a.Window(), Qt::Key_Escape);
    QTest::keyClick(&a.Window(), Qt::Key_Return);
    QTest::keyClick(Find<QWidget>("fileList"), Qt::Key_Enter);
    QApplication::processEvents();
    EXPECT_TRUE(a.Window().isVisible());
    EXPECT_TRUE(answerer.Seen().isEmpty());
}

// Opens of the driver, counted.
class CountingLibrary : public ForwardingLibrary {
public:
    using ForwardingLibrary::ForwardingLibrary;
    AdapterHandle OpenAdapterA(const char* name) override {
        ++opens;
        return ForwardingLibrary::OpenAdapterA(name);
    }
    int opens = 0;
};

TEST_F(QtTest, FillingTheAdapterListOpensNothingMoreThanTheLogic) {
    // The logic alone, with a host that has no windows.
    CountingLibrary plain(sim.Machine());
    ScriptHost script;
    CVarnelDlg logic(plain, sim.Machine(), script);
    logic.OnInitDialog({});
    logic.OnCatchAdapter();
    logic.SelectAdapter(0);

    CountingLibrary windowed(sim.Machine());
    qt::Application a(windowed, sim.Machine());
    a.Start({});
    QTest::mouseClick(a.Window().findChild<QPushButton*>("catchAdapter"), Qt::LeftButton);
    auto* list = a.Window().findChild<QListWidget*>("adapterList");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    QApplication::processEvents();
    EXPECT_EQ(windowed.opens, plain.opens);
    EXPECT_TRUE(a.Dialog().AdapterSelected());
}

TEST_F(QtTest, NoAdaptersEntryIsNeverSelected) {
    sim.Configure([](sim::MachineConfig& config) { config.adapters.clear(); });
    qt::Application& a = Start();
    auto* list = Find<QListWidget>("adapterList");
    ASSERT_EQ(list->count(), 1);
    ASSERT_EQ(list->item(0)->text(), "<No adapters detected>");
    list->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(list->selectedItems().isEmpty());
    // Choosing it still says why nothing opens, and leaves it unselected.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    QTest::keyClick(list, Qt::Key_Space);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(a.Dialog().Status(), "Sorry, that adapter could not be opened.");
    // Nor does it look selected: no pixel of the selection's colour in its
    // row, focused and with the pointer over it.
    QTest::mouseMove(list->viewport(), list->visualItemRect(list->item(0)).center());
    QApplication::processEvents();
    const QRect row = list->visualItemRect(list->item(0));
    const QImage drawn = list->viewport()->grab(row).toImage();
    const QColor band = list->palette().color(QPalette::Active, QPalette::Highlight);
    int banded = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) {
            const QColor c = drawn.pixelColor(x, y);
            // The selection's hue, however light the style draws it.
            banded += c.hsvSaturation() > 20 && std::abs(c.hsvHue() - band.hsvHue()) < 20;
        }
    EXPECT_EQ(banded, 0);
}

// A file that failed to load leaves the list with Delete, the others stay.
TEST_F(QtTest, DeleteRemovesAFileThatFailedToLoad) {
    const std::string broken = sim.dir.File("gone.pda");  // no such file
    qt::Application& a = Start({Release("station.hex"), broken});
    auto* files = Find<QTreeWidget>("fileList");
    ASSERT_EQ(files->topLevelItemCount(), 2);
    files->setFocus();
    const auto found = files->findItems(QString::fromStdString(broken), Qt::MatchExactly, 1);
    ASSERT_EQ(found.size(), 1);
    files->setCurrentItem(found.first());
    QTest::keyClick(files, Qt::Key_Delete);
    ASSERT_EQ(a.Dialog().Files().size(), 1u);
    EXPECT_EQ(a.Dialog().Files()[0].path, Release("station.hex"));
    EXPECT_EQ(files->topLevelItemCount(), 1);
}

// The windows show the version `varnel --version` prints, in four parts.
TEST_F(QtTest, WindowsShowTheProgramsVersion) {
    QProcess gui;
    gui.start(VARNEL_GUI, {"--version"});
    ASSERT_TRUE(gui.waitForFinished(10000));
    const QString printed = QString::fromUtf8(gui.readAllStandardOutput()).trimmed().section(' ', 1);
    ASSERT_FALSE(printed.isEmpty());
    QString fourPart = printed;
    while (fourPart.count('.') < 3) fourPart += ".0";
    qt::Application& a = Start();
    EXPECT_TRUE(Find<QLineEdit>("version")->text().startsWith("Ver. " + fourPart + "  ("))
        << Find<QLineEdit>("version")->text().toStdString();
    (void)a;
    qt::AboutDialog about;
    EXPECT_TRUE(about.findChild<QLineEdit*>("version")->text().startsWith("Version " + fourPart + " ("));
}

// After a dialog the focus is back on the control that opened it, also
// when the controls were disabled around it.
TEST_F(QtTest, FocusReturnsToTheOpener) {
    qt::Application& a = Start({Release("station.hex")});
    a.Window().activateWindow();
    auto* update = Find<QPushButton>("update");
    update->setFocus();
    ModalAnswerer answerer(
        {{"Varnel", ModalAnswerer::Press("Download")}, {"Update Information", ModalAnswerer::Press("CANCEL")}});
    QTest::keyClick(update, Qt::Key_Space);
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    QApplication::processEvents();
    EXPECT_EQ(a.Window().focusWidget(), update);
}

TEST_F(QtTest, FileListShowsPathsAsTyped) {
    const std::string odd = sim.dir.File("<b>x</b>.hex");
    WriteFile(odd, "S00600004844521B\n");
    qt::Application& a = Start({Release("station.hex"), odd});
    auto* files = Find<QTreeWidget>("fileList");
    ASSERT_EQ(files->topLevelItemCount(), 2);
    QStringList paths;
    for (int i = 0; i < 2; ++i) paths << files->topLevelItem(i)->text(1);
    EXPECT_TRUE(paths.contains(QString::fromStdString(odd)));
    EXPECT_EQ(files->topLevelItem(0)->icon(0).availableSizes().value(0), QSize(16, 16));
    (void)a;
}

}  // namespace
}  // namespace varnel::test

namespace varnel::test {
namespace {

TEST_F(QtTest, CommandsOpenTheirWindows) {
    struct Case {
        const char* action;  // a menu action, or a button
        QString title;
        QString text;  // the message box's text ("" : not checked)
    };
    const std::vector<Case> cases = {
        {"queryFirmware", "Current Firmware Versions", ""},
        {"queryDriver", "Driver Version for Selected Card", "Version: 7.1.4"},
        {"update", "No files selected", "You must select at least one file to update card"},
    };
    qt::Application& a = Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        QString text;
        ModalAnswerer answerer({{c.title, [&](QWidget& w) {
                                     text = qobject_cast<QMessageBox*>(&w)->text();
                                     ModalAnswerer::Press("OK")(w);
                                 }}});
        if (auto* action = a.Window().findChild<QAction*>(c.action)) action->trigger();
        else QTest::mouseClick(Find<QPushButton>(c.action), Qt::LeftButton);
        EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
        if (!c.text.isEmpty()) {
            EXPECT_EQ(text, c.text);
        }
    }
}

// The dialog, titled for its command, starts in the release folder the
// registry names: the Firmware folder under the program's path.
TEST_F(QtTest, DownloadTakesTheLinkFileFromTheOpenDialog) {
    const std::string program = sim.dir.File("program");
    std::filesystem::create_directories(program + "/Firmware");
    sim.Configure(
        [&](sim::MachineConfig& config) { config.registry["HKEY_CURRENT_USER\\Software\\Varnel"]["Path"] = program; });
    qt::Application& a = Start();
    const QString link = QString::fromStdString(Release("OEMRelease.oem"));
    ModalAnswerer answerer({{"Download", [&](QWidget& w) {
                                 auto* dialog = qobject_cast<QFileDialog*>(&w);
                                 ASSERT_NE(dialog, nullptr);
                                 EXPECT_EQ(dialog->directory().absolutePath().toStdString(), program + "/Firmware");
                                 EXPECT_EQ(dialog->nameFilters(), QStringList({"Link File (*.oem)"}));
                                 // Typed into the file name box, as a user would.
                                 auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                                 ASSERT_NE(name, nullptr);
                                 name->setText(link);
                                 static_cast<QDialog*>(dialog)->accept();
                             }}});
    QTest::mouseClick(Find<QPushButton>("download"), Qt::LeftButton);
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    EXPECT_EQ(Find<QTreeWidget>("fileList")->topLevelItemCount(), 3);
    EXPECT_EQ(a.Dialog().Files().size(), 3u);
}

// Tools > Restore Firmware... (the menu's last entry) asks for a backup
// and restores it through the dialog logic: a file that is no backup is
// refused with its reason.
TEST_F(QtTest, RestoreFirmwareTakesTheBackupFromTheOpenDialog) {
    qt::Application& a = Start();
    auto* tools = a.Window().findChild<QMenu*>("toolsMenu");
    ASSERT_NE(tools, nullptr);
    ASSERT_FALSE(tools->actions().isEmpty());
    EXPECT_EQ(tools->actions().last()->objectName(), "restoreFirmware");
    const QString file = QString::fromStdString(Release("station.hex"));
    QString refused;
    ModalAnswerer answerer(
        {{"Restore Firmware",
          [&](QWidget& w) {
              auto* dialog = qobject_cast<QFileDialog*>(&w);
              ASSERT_NE(dialog, nullptr);
              EXPECT_EQ(dialog->nameFilters(), QStringList({"Firmware Backup (*.srec)", "All Files (*.*)"}));
              dialog->findChild<QLineEdit*>("fileNameEdit")->setText(file);
              static_cast<QDialog*>(dialog)->accept();
          }},
         {"Cannot Continue", [&](QWidget& w) {
              refused = qobject_cast<QMessageBox*>(&w)->text();
              ModalAnswerer::Press("OK")(w);
          }}});
    tools->actions().last()->trigger();
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    EXPECT_TRUE(refused.contains("not a Varnel firmware backup")) << refused.toStdString();
    EXPECT_EQ(a.Dialog().Report().action, "firmware restore");
    EXPECT_EQ(Outcome(a.Dialog()), RunOutcome::Failed);
}

TEST_F(QtTest, DroppedFilesJoinTheList) {
    qt::Application& a = Start();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(Release("station.hex"))),
                  QUrl::fromLocalFile(QString::fromStdString(Release("changes.pda")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&a.Window(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&a.Window(), &drop);
    ASSERT_EQ(a.Dialog().Files().size(), 2u);
    EXPECT_EQ(a.Dialog().Files()[0].path, Release("changes.pda"));
    EXPECT_EQ(a.Dialog().Files()[1].path, Release("station.hex"));
}

}  // namespace
}  // namespace varnel::test

namespace varnel::test {
namespace {

TEST_F(QtTest, LongPathsKeepTheirEndsAndShowAllInTooltips) {
    // Three files in one deep folder.
    const std::string folder = Release("") + std::string(6, 'x') + "/" + std::string(60, 'd') + "/firmware release/";
    std::filesystem::create_directories(folder);
    std::vector<std::string> files;
    for (const char* name : {"card.pda", "primary.hex", "station.hex"}) {
        std::filesystem::copy_file(Release(name), folder + name);
        files.push_back(folder + name);
    }
    Start(files);
    auto* list = Find<QTreeWidget>("fileList");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    QSet<QString> shown;
    for (int row = 0; row < 3; ++row) {
        const QTreeWidgetItem* item = list->topLevelItem(row);
        const QString path = item->text(1);
        // The path as the row draws it, in its column: its end is there.
        const QString drawn = list->fontMetrics().elidedText(
            path, list->textElideMode(),
            list->columnWidth(1) - 2 * list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) - 2);
        EXPECT_NE(drawn, path) << "the path fits: the case shows nothing";
        EXPECT_TRUE(drawn.endsWith(QFileInfo(path).fileName())) << drawn.toStdString();
        shown << drawn;
        for (int column = 0; column < 2; ++column) EXPECT_EQ(ShownTip(item->toolTip(column)), path) << column;
    }
    EXPECT_EQ(shown.size(), 3);

    // The list's own tooltip wraps: shown, it is narrower than its text.
    const QString tip = list->toolTip();
    QToolTip::showText(list->mapToGlobal(QPoint(2, 2)), tip, list);
    QLabel* label = nullptr;
    ASSERT_TRUE(SpinUntil([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* l = qobject_cast<QLabel*>(w); l && l->isVisible() && w->inherits("QTipLabel")) label = l;
        return label != nullptr;
    }));
    EXPECT_TRUE(label->wordWrap());
    EXPECT_LT(label->width(), label->fontMetrics().horizontalAdvance(ShownTip(tip)));
    QToolTip::hideText();
}

// The controls a screen reader reaches, below `node`, that have no name
// (lists and trees are named as a whole; their rows by their texts).
void Unnamed(QAccessibleInterface* node, QStringList& unnamed) {
    static const QSet<QAccessible::Role> controls = {
        QAccessible::EditableText, QAccessible::StaticText, QAccessible::List,     QAccessible::Tree,
        QAccessible::Table,        QAccessible::PushButton, QAccessible::CheckBox, QAccessible::Grouping,
        QAccessible::MenuItem,     QAccessible::ProgressBar};
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        if (!child || child->state().invisible) continue;
        if (controls.contains(child->role()) && child->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << (child->object() ? child->object()->objectName() : QString("?")) + " (role " +
                           QString::number(child->role()) + ")";
        if (child->role() != QAccessible::List && child->role() != QAccessible::Tree &&
            child->role() != QAccessible::Table)
            Unnamed(child, unnamed);
    }
}

// The tree as a screen reader walks it, one line a node: role, name,
// description (kept in $VARNEL_PICTURES when set).
void KeepTree(QAccessibleInterface* node, const QString& file, int depth = 0) {
    const QByteArray folder = qgetenv("VARNEL_PICTURES");
    if (folder.isEmpty()) return;
    QFile out(QString::fromLocal8Bit(folder) + "/" + file);
    if (!out.open(depth == 0 ? QIODevice::WriteOnly : QIODevice::Append)) return;
    out.write(QString("%1%2 \"%3\" %4 [%5]\n")
                  .arg(QString(depth * 2, ' '))
                  .arg(node->object() ? node->object()->objectName() : QString())
                  .arg(node->text(QAccessible::Name), node->text(QAccessible::Description))
                  .arg(int(node->role()))
                  .toUtf8());
    out.close();
    if (node->role() == QAccessible::List || node->role() == QAccessible::Tree) return;
    for (int i = 0; i < node->childCount(); ++i)
        if (QAccessibleInterface* child = node->child(i); child && !child->state().invisible)
            KeepTree(child, file, depth + 1);
}

// Every control has the name a sighted user reads beside it; the lists and
// the status box say what they hold; the frames hold their controls.
TEST_F(QtTest, ScreenReadersNameEveryControl) {
    qt::Application& a = Start({Release("station.hex")});
    const auto walk = [](QWidget& window) {
        QStringList unnamed;
        Unnamed(QAccessible::queryAccessibleInterface(&window), unnamed);
        return unnamed;
    };
    for (bool selected : {true, false}) {
        SCOPED_TRACE(selected ? "adapter selected" : "adapter list");
        if (!selected) QTest::mouseClick(Find<QPushButton>("catchAdapter"), Qt::LeftButton);
        EXPECT_EQ(walk(a.Window()), QStringList());
        KeepTree(QAccessible::queryAccessibleInterface(&a.Window()),
                 selected ? "accessibility-main-window.txt" : "accessibility-main-window-list.txt");
    }
    const struct {
        const char* control;
        QString name, frame;
    } cases[] = {
        {"adapterList", "Valid Adapters", "Valid Adapters"},
        {"fileList", "Update card with OEMRelease.oem", "Update card with OEMRelease.oem"},
        {"pdaMac", "Current MAC Address", "Card"},
        {"pdaSerial", "PDA's Serial Number", "Card"},
        {"status", "Status", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(Find<QWidget>(c.control));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->text(QAccessible::Name), c.name);
        QAccessibleInterface* parent = control->parent();
        ASSERT_NE(parent, nullptr);
        if (c.frame.isEmpty()) continue;
        EXPECT_EQ(parent->role(), QAccessible::Grouping);
        EXPECT_EQ(parent->text(QAccessible::Name), c.frame);
    }
    for (const char* described : {"adapterList", "fileList", "status"})
        EXPECT_FALSE(
            QAccessible::queryAccessibleInterface(Find<QWidget>(described))->text(QAccessible::Description).isEmpty())
            << described;

    qt::InfoDialog info("Summary\n", &a.Window());
    info.show();
    EXPECT_EQ(walk(info), QStringList());
    KeepTree(QAccessible::queryAccessibleInterface(&info), "accessibility-summary.txt");
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(info.findChild<QPlainTextEdit*>("summary"))->text(QAccessible::Name),
        "Update Information");
}

}  // namespace
}  // namespace varnel::test
