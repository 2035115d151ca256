// The Tools menu's history window and PDA restore: the runs as the history
// holds them, and a saved PDA put back with the command line's backup and
// history record.

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <QScreen>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTextEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <QTest>
#include <QUrl>
#include <fstream>
#include <set>

#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "tests/qt/qt_fixture.h"
#include "tests/support/run_outcome.h"
#include "ui/qt/history_window.h"
#include "update/history.h"

namespace varnel::test {
namespace {

class ToolsTest : public QtTest {
protected:
    void TearDown() override {
        qt::HistoryWindow::OpenUrl() = m_opener;
        QtTest::TearDown();
    }
    std::filesystem::path Backups() { return sim.dir.Path() / "backups"; }
    std::filesystem::path HistoryPath() { return sim.dir.Path() / "history.jsonl"; }
    // The update of the files in the list, answered to its end.
    void Update() {
        ModalAnswerer answerer({{"Varnel", ModalAnswerer::Press("Download")},
                                {"Update Information", ModalAnswerer::Press("UPDATE")},
                                {"Update Complete", ModalAnswerer::Press("OK")}});
        App().Dialog().OnUpdate();
        EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
        ASSERT_EQ(Outcome(App().Dialog()), RunOutcome::Succeeded) << App().Dialog().Status();
    }
    // The card's PDA as the card runs it now.
    void ReadCard(CPda& pda) {
        ASSERT_TRUE(App().Dialog().ReopenAdapter(false));
        ASSERT_TRUE(App().Dialog().Adapter().ReadCardPda(pda));
        App().Dialog().CloseAdapterHandle();
    }
    std::vector<std::string> HistoryLines() {
        std::vector<std::string> lines;
        std::ifstream in(HistoryPath());
        // A run's "unfinished" mark before its first write is not counted.
        for (std::string line; std::getline(in, line);)
            if (line.find("\"outcome\":\"unfinished\"") == std::string::npos) lines.push_back(line);
        return lines;
    }
    // The .pda files in the backup folder.
    std::set<std::string> BackupFiles() {
        std::set<std::string> files;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(Backups(), ec))
            files.insert(entry.path().filename().string());
        return files;
    }

    qt::HistoryWindow::UrlOpener m_opener = qt::HistoryWindow::OpenUrl();
};

// Row `row` of the history window's list as its cells' texts.
QStringList Row(QTableView& list, int row) {
    QStringList cells;
    for (int c = 0; c < list.model()->columnCount(); ++c) cells << list.model()->index(row, c).data().toString();
    return cells;
}

TEST_F(ToolsTest, HistoryWindowShowsTheRunsNewestFirst) {
    qt::Application& a = Start({Release("changes.pda"), Release("station.hex")});
    QAction* history = a.Window().findChild<QAction*>("history");
    ASSERT_NE(history, nullptr);

    // Before any run: says so, and nothing to open.
    {
        ModalAnswerer answerer({{"Update History", [&](QWidget& w) {
                                     EXPECT_EQ(w.findChild<QTableView*>("historyList")->model()->rowCount(), 0);
                                     EXPECT_EQ(w.findChild<QLabel*>("historyNote")->text().toStdString(),
                                               "No update history in " + HistoryPath().string() + ".");
                                     EXPECT_FALSE(w.findChild<QPushButton*>("openBackupFolder")->isEnabled());
                                     ModalAnswerer::Press("Close")(w);
                                 }}});
        history->trigger();
        EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    }

    // An update that writes the PDA (and so saves a backup), then one of an
    // image alone (its firmware backup only); a torn line between them.
    Update();
    const std::string backup = a.Dialog().Report().backup;
    std::ofstream(HistoryPath(), std::ios::app) << "{\"id\": \"torn\n";
    a.Dialog().ClearFiles();
    a.Dialog().AddFile(Release("station.hex"));
    Update();
    const std::string firmwareBackup = a.Dialog().Report().firmwareBackup;

    std::vector<QUrl> opened;
    qt::HistoryWindow::OpenUrl() = [&opened](const QUrl& url) {
        opened.push_back(url);
        return opened.size() == 1;  // the second time the file manager fails
    };
    const QString arrow = QString::fromUtf8(" \u2192 ");
    ModalAnswerer answerer({
        {"Update History",
         [&](QWidget& w) {
             auto* list = w.findChild<QTableView*>("historyList");
             auto* details = w.findChild<QPlainTextEdit*>("historyDetails");
             auto* open = w.findChild<QPushButton*>("openBackupFolder");
             ASSERT_EQ(list->model()->rowCount(), 2);
             QStringList headers;
             for (int c = 0; c < list->model()->columnCount(); ++c)
                 headers << list->model()->headerData(c, Qt::Horizontal).toString();
             EXPECT_EQ(headers, QStringList({"Time", "Action", "Card", "Outcome", "Firmware before" + arrow + "after",
                                             "Backup"}));
             const QStringList newest = Row(*list, 0), older = Row(*list, 1);
             // The time in local time, in the user's format; the record's UTC
             // time in the tooltip.
             const QString utc = list->model()->index(0, 0).data(Qt::ToolTipRole).toString();
             EXPECT_TRUE(utc.endsWith('Z')) << utc.toStdString();
             EXPECT_EQ(newest[0], QLocale::system().toString(QDateTime::fromString(utc, Qt::ISODate).toLocalTime(),
                                                             QLocale::ShortFormat));
             // Every cell whole in its column.
             for (int c = 0; c + 1 < list->model()->columnCount(); ++c)
                 for (const QStringList& row : {newest, older})
                     EXPECT_GE(list->columnWidth(c), list->fontMetrics().horizontalAdvance(row[c]))
                         << row[c].toStdString();
             // Made smaller, the list keeps more room than the details.
             const QSize first = w.size();
             w.resize(first.width(), first.height() * 2 / 3);
             QApplication::processEvents();
             EXPECT_GE(list->height(), details->height());
             w.resize(first);
             // It fits the screen.
             EXPECT_TRUE(w.screen()->availableGeometry().contains(QRect(w.pos(), w.frameGeometry().size())));
             EXPECT_EQ(newest.mid(1), QStringList({"update", "00-60-1D-12-34-56", "succeeded",
                                                   "Primary 1.3.6" + arrow + "1.3.6, Station 1.7.4" + arrow + "1.7.4",
                                                   QString::fromStdString(firmwareBackup)}));
             EXPECT_EQ(older.mid(1), QStringList({"update", "00-60-1D-12-34-56", "succeeded",
                                                  "Primary 1.3.6" + arrow + "1.3.6, Station 1.5.0" + arrow + "1.7.4",
                                                  QString::fromStdString(backup)}));
             const QString olderUtc = list->model()->index(1, 0).data(Qt::ToolTipRole).toString();
             EXPECT_TRUE(utc >= olderUtc) << utc.toStdString();
             EXPECT_TRUE(w.findChild<QLabel*>("historyNote")->text().contains("1 damaged line(s) skipped: "));

             // The newest run is selected: its details; its firmware backup's folder to open.
             EXPECT_EQ(list->currentIndex().row(), 0);
             QString text = details->toPlainText();
             EXPECT_TRUE(text.contains("\nFiles:\n  station  " + QString::fromStdString(Release("station.hex")) +
                                       "  (Station 1.7.4)\n"))
                 << text.toStdString();
             EXPECT_TRUE(text.contains("\nBackup of the card's PDA: none saved\nBackup of the card's firmware: " +
                                       QString::fromStdString(firmwareBackup) + "\n"))
                 << text.toStdString();
             EXPECT_TRUE(open->isEnabled());

             // The older one, chosen with the keyboard.
             QTest::keyClick(list, Qt::Key_Down);
             text = details->toPlainText();
             EXPECT_TRUE(text.contains("\nPDA records changed:\n  changed  0x0002 release\n")) << text.toStdString();
             EXPECT_TRUE(text.contains("\nBackup of the card's PDA: " + QString::fromStdString(backup) + "\n"));
             ASSERT_TRUE(open->isEnabled());
             open->click();
             open->click();  // the file manager fails: said in a box
         }},
        {"Backup Folder",
         [&](QWidget& w) {
             EXPECT_EQ(qobject_cast<QMessageBox*>(&w)->text().toStdString(),
                       "The folder " + Backups().string() + " could not be opened.");
             ModalAnswerer::Press("OK")(w);
             ModalAnswerer::Press("Close")(*w.parentWidget()->window());
         }},
    });
    history->trigger();
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(Backups().string())));
}

TEST_F(ToolsTest, ALongHistoryOpensAtOnceAndIsReadAsItIsScrolled) {
    // 100,000 runs (a 25 MB file, an old record renamed aside with them):
    // the window opens with the newest page, reads more only as the list is
    // scrolled to its end, and every run is reached in order.
    constexpr int kRuns = 100000;
    {
        std::ofstream old(sim.dir.Path() / "history.20261101T000000Z.jsonl");
        old << R"({"id":"old","time":"2026-11-01T00:00:00Z","action":"update","outcome":"succeeded"})"
            << "\n";
        std::ofstream out(HistoryPath());
        for (int i = 0; i < kRuns; ++i)
            out << R"({"id":"r)" << i
                << R"(","time":"2026-12-10T12:00:00Z","action":"update","mac":"00-60-1D-00-00-01",)"
                << R"("outcome":"succeeded","backup":"/b/pda.pda","pad":")" << std::string(160, 'p') << "\"}\n";
    }
    QElapsedTimer clock;
    clock.start();
    qt::HistoryWindow window(HistoryPath());
    window.show();
    QApplication::processEvents();
    EXPECT_LT(clock.elapsed(), 2000);
    auto* list = window.findChild<QTableView*>("historyList");
    ASSERT_NE(list, nullptr);
    const int first = list->model()->rowCount();
    EXPECT_GT(first, 0);
    EXPECT_LE(first, 1000);
    EXPECT_EQ(list->model()->index(0, 0).data(Qt::ToolTipRole).toString(), "2026-12-10T12:00:00Z");
    // Scrolled to its end a few times: a page more each time.
    for (int i = 0; i < 3; ++i) {
        list->scrollToBottom();
        QApplication::processEvents();
    }
    const int more = list->model()->rowCount();
    EXPECT_GT(more, first);
    EXPECT_LT(more, 10 * first);
    // To the very end, the older file included.
    while (list->model()->canFetchMore({})) list->model()->fetchMore({});
    ASSERT_EQ(list->model()->rowCount(), kRuns + 1);
    EXPECT_EQ(list->model()->index(kRuns, 0).data(Qt::ToolTipRole).toString(), "2026-11-01T00:00:00Z");
    EXPECT_FALSE(window.findChild<QLabel*>("historyNote")->text().contains("damaged"));
}

// The saved PDA: the card's own with its release record left out.
std::string SavedPda(const std::filesystem::path& folder, CPda& pda) {
    sample::FillCardPda(pda);
    EXPECT_NE(pda.RemoveRecord(kPdrRelease), 0);
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "saved.pda").string();
    test::WriteFile(file, FormatPdaText(pda));
    return file;
}

// Answers the open-file dialog with `file`, after checking where it starts
// and that its columns show what they hold whole.
ModalAnswerer::Action ChooseFile(const std::filesystem::path& folder, const std::string& file) {
    return [folder, file](QWidget& w) {
        auto* dialog = qobject_cast<QFileDialog*>(&w);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->directory().absolutePath().toStdString(), folder.string());
        auto* view = dialog->findChild<QTreeView*>("treeView");
        ASSERT_NE(view, nullptr);
        SpinUntil([&] { return view->model()->rowCount(view->rootIndex()) > 0; }, 3000);
        SpinUntil([] { return false; }, 100);
        const QAbstractItemModel& model = *view->model();
        for (int column = 1; column < 4; ++column) {
            if (view->isColumnHidden(column)) continue;
            for (int row = 0; row < model.rowCount(view->rootIndex()); ++row) {
                const QString text = model.index(row, column, view->rootIndex()).data().toString();
                EXPECT_GE(view->columnWidth(column), view->fontMetrics().horizontalAdvance(text))
                    << "column " << column << ": " << text.toStdString();
            }
        }
        EXPECT_EQ(dialog->nameFilters(), QStringList({"PDA File (*.pda)"}));
        if (file.empty()) return static_cast<QDialog*>(dialog)->reject();
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(file));
        static_cast<QDialog*>(dialog)->accept();
    };
}

TEST_F(ToolsTest, ACancelledRestoreWritesNothing) {
    CPda wanted;
    const std::string file = SavedPda(Backups(), wanted);
    qt::Application& a = Start();
    QAction* restore = a.Window().findChild<QAction*>("restorePda");
    ASSERT_NE(restore, nullptr);

    // No file chosen; then CANCEL on the summary.
    {
        ModalAnswerer answerer({{"Restore PDA", ChooseFile(Backups(), "")}});
        restore->trigger();
        EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    }
    ModalAnswerer answerer(
        {{"Restore PDA", ChooseFile(Backups(), file)}, {"Update Information", ModalAnswerer::Press("CANCEL")}});
    restore->trigger();
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    EXPECT_EQ(Outcome(a.Dialog()), RunOutcome::Cancelled);
    EXPECT_EQ(Writes(), 0u);
    EXPECT_EQ(BackupFiles(), std::set<std::string>{"saved.pda"});
    EXPECT_FALSE(std::filesystem::exists(HistoryPath()));
    EXPECT_TRUE(a.Window().menuBar()->isEnabled());
}

TEST_F(ToolsTest, RestorePdaWritesThePdaItsBackupAndTheHistoryLine) {
    CPda wanted;
    const std::string file = SavedPda(Backups(), wanted);
    qt::Application& a = Start();
    QString summary;
    ModalAnswerer answerer({{"Restore PDA", ChooseFile(Backups(), file)},
                            {"Update Information",
                             [&](QWidget& w) {
                                 summary = w.findChild<QPlainTextEdit*>("summary")->toPlainText();
                                 ModalAnswerer::Press("UPDATE")(w);
                             }},
                            {"Update Complete", ModalAnswerer::Press("OK")}});
    a.Window().findChild<QAction*>("restorePda")->trigger();
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    ASSERT_EQ(Outcome(a.Dialog()), RunOutcome::Succeeded) << a.Dialog().Status();

    // The summary named the change as varnel-cli pda restore does.
    EXPECT_TRUE(summary.contains(
        QString::fromStdString("PDA restore: the card's PDA is replaced by exactly the records of\n  " + file + "\n")))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains("Changes to the card's PDA:\nremoved  0x0002 release\n")) << summary.toStdString();

    // The card holds the file's PDA; the backup its old one; the history the run.
    CPda card, factory, saved;
    ReadCard(card);
    EXPECT_EQ(card.GetRecords(), wanted.GetRecords());
    const std::string backup = a.Dialog().Report().backup;
    EXPECT_EQ(std::filesystem::path(backup).parent_path(), Backups());
    EXPECT_EQ(BackupFiles().size(), 2u);
    sample::FillCardPda(factory);
    ASSERT_TRUE(MergePdaTextFile(saved, backup));
    EXPECT_EQ(saved.GetRecords(), factory.GetRecords());
    const std::vector<std::string> lines = HistoryLines();
    ASSERT_EQ(lines.size(), 1u);
    const auto record = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(record["action"], "pda restore");
    EXPECT_EQ(record["outcome"], "succeeded");
    EXPECT_EQ(record["backup"], backup);
    EXPECT_EQ(record["files"][0]["path"], file);
    EXPECT_EQ(record["id"], a.Dialog().Report().historyId);
    EXPECT_NE(Find<QTextEdit>("status")->toPlainText().toStdString().find("Update Successful!"), std::string::npos);
}

// Both restores refuse before any file is asked for.
TEST_F(ToolsTest, RestoreWithoutAnAdapterSaysSoAndAsksForNoFile) {
    qt::Application& a = Start();
    a.Dialog().OnCloseAdapter();
    for (const char* action : {"restorePda", "restoreFirmware"}) {
        SCOPED_TRACE(action);
        ModalAnswerer answerer({{"Error", [](QWidget& w) {
                                     EXPECT_EQ(qobject_cast<QMessageBox*>(&w)->text(),
                                               "Cannot continue - No adapter selected.");
                                     ModalAnswerer::Press("OK")(w);
                                 }}});
        a.Window().findChild<QAction*>(action)->trigger();
        EXPECT_EQ(answerer.Seen(), QStringList{"Error"});
        EXPECT_TRUE(answerer.Done());
    }
    EXPECT_EQ(Writes(), 0u);
}

}  // namespace
}  // namespace varnel::test
