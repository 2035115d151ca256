// The main window's contract: what each control shows and when, over the
// controls' object names.

#include <QFileDialog>
#include <QGroupBox>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>

#include "tests/qt/qt_fixture.h"
#include "tests/support/forwarding_library.h"
#include "tests/support/script_host.h"

namespace varnel::test {
namespace {

QString TextOf(QWidget* w) {
    if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
    return w->property("text").toString();
}

const QString kFileListTip = QStringLiteral(
    "Files in this list will be downloaded to the card when the \"Update\" button is pressed.  To add OEMRelease.oem "
    "file, use the \"Download..\" button.");

struct Control {
    const char* name;
    QString text;        // "*" : not checked
    QString toolTip;
    bool shownSelected;  // an adapter selected (after the start)
    bool shownNone;      // none selected (after "To Catch Specified Adapter")
    bool enabledSelected;
    bool enabledNone;
};

TEST_F(QtTest, MainWindowContract) {
    const std::vector<Control> table = {
        {"adaptersGroup", "Valid Adapters", "", true, true, true, true},
        {"adapterList", "*", "", false, true, true, true},
        {"opened", "Opened: 802.11b Wireless LAN PC Card", "", true, false, true, true},
        {"closeAdapter", "close", "Quit the program", false, false, true, true},
        {"catchAdapter", "To Catch Specified Adapter", "", true, true, true, true},
        {"filesGroup", "Update card with OEMRelease.oem", "", true, true, true, true},
        {"fileList", "*", kFileListTip, true, true, true, true},
        {"download", "Download...", "", true, true, true, true},
        {"update", "Update!", "Update the selected card", true, true, true, false},
        {"quit", "Quit", "", false, false, true, true},
        {"cardGroup", "", "", true, true, true, true},
        {"macLabel", "Current MAC Address:", "", true, true, true, true},
        {"serialLabel", "PDA's Serial Number:", "", true, true, true, true},
        {"pdaMac", "00-60-1D-12-34-56", "The MAC address read from the PDA, not from an NDIS request", true, true, true,
         true},
        {"ndisMac", "00-60-1D-12-34-56", "The MAC address used by this adapter; obtained from NDIS request", false, false,
         true, true},
        {"pdaSerial", "SN 99A01234", "The serial number read from the PDA", true, true, true, true},
        {"version", QString::fromStdString(CVarnelDlg::VersionLine()), "", true, true, true, true},
        {"testCommand", "(Test Command)", "", false, false, true, true},
        {"forceAll", "Force Update of All Blocks", "Write all blocks even if no changes need to be made", false, false,
         true, true},
        {"verify", "Verify downloads to NVRAM", "", false, false, true, true},
    };
    qt::Application& a = Start();
    qt::MainWindow& w = a.Window();
    EXPECT_EQ(w.windowTitle(), "Varnel");
    EXPECT_TRUE(w.isVisible());
    for (const bool selected : {true, false}) {
        if (!selected) {
            QTest::mouseClick(Find<QPushButton>("catchAdapter"), Qt::LeftButton);
            EXPECT_EQ(a.Dialog().m_strStatus, "No adapter selected.");
        }
        for (const Control& c : table) {
            SCOPED_TRACE(std::string(c.name) + (selected ? " (adapter selected)" : " (none selected)"));
            QWidget* widget = Find<QWidget>(c.name);
            ASSERT_NE(widget, nullptr);
            // The card fields empty out with no adapter selected, except the
            // PDA's own, which keep the last card's values until refreshed.
            QString text = c.text;
            if (!selected && (std::string(c.name) == "opened" || std::string(c.name) == "ndisMac")) text = "*";
            if (!selected && (std::string(c.name) == "pdaMac" || std::string(c.name) == "pdaSerial")) text = "";
            if (text != "*") {
                EXPECT_EQ(TextOf(widget), text);
            }
            EXPECT_EQ(widget->toolTip(), c.toolTip);
            EXPECT_EQ(widget->isVisible(), selected ? c.shownSelected : c.shownNone);
            EXPECT_EQ(widget->isEnabled(), selected ? c.enabledSelected : c.enabledNone);
        }
    }
    // The list is back, with every valid adapter and none opened.
    auto* list = Find<QListWidget>("adapterList");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "802.11b Wireless LAN PC Card");
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_FALSE(a.Dialog().m_bAdapterSelected);

    // Picking the entry opens it again.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    EXPECT_TRUE(a.Dialog().m_bAdapterSelected);
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
    EXPECT_EQ(menus, QStringList({"&Tools", "  Query &Firmware Version", "  Query &Driver Version", "  Restore Fir&mware...", "&Help", "  &About"}));
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
    EXPECT_TRUE(a.Dialog().m_bAdapterSelected);
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
        if (auto* action = a.Window().findChild<QAction*>(c.action))
            action->trigger();
        else
            QTest::mouseClick(Find<QPushButton>(c.action), Qt::LeftButton);
        EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
        if (!c.text.isEmpty()) {
            EXPECT_EQ(text, c.text);
        }
    }
}

TEST_F(QtTest, DownloadTakesTheLinkFileFromTheOpenDialog) {
    qt::Application& a = Start();
    const QString link = QString::fromStdString(Release("OEMRelease.oem"));
    ModalAnswerer answerer({{"Open", [&](QWidget& w) {
                                 auto* dialog = qobject_cast<QFileDialog*>(&w);
                                 ASSERT_NE(dialog, nullptr);
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
    EXPECT_EQ(a.Dialog().m_fileList.GetCount(), 3);
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
    ModalAnswerer answerer({{"Open", [&](QWidget& w) {
                                 auto* dialog = qobject_cast<QFileDialog*>(&w);
                                 ASSERT_NE(dialog, nullptr);
                                 EXPECT_EQ(dialog->nameFilters(),
                                           QStringList({"Firmware Backup (*.srec)", "All Files (*.*)"}));
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
    EXPECT_EQ(a.Dialog().m_runReport.action, "firmware restore");
    EXPECT_EQ(a.Dialog().m_lastRun, RunOutcome::Failed);
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
    ASSERT_EQ(a.Dialog().m_fileList.GetCount(), 2);
    EXPECT_EQ(a.Dialog().m_fileList.Entries()[0].path, Release("changes.pda"));
    EXPECT_EQ(a.Dialog().m_fileList.Entries()[1].path, Release("station.hex"));
}

}  // namespace
}  // namespace varnel::test
