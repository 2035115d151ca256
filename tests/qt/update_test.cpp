// A whole update through the windows, and the ways out of it that write
// nothing.

#include <QClipboard>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTextEdit>

#include "tests/qt/qt_fixture.h"
#include "tests/support/run_outcome.h"
#include "update/json_text.h"

namespace varnel::test {
namespace {

// The heading's texts seen while the warning stays open this long.
QSet<QString> WatchHeading(QWidget& warning, int ms) {
    QSet<QString> seen;
    auto* heading = warning.findChild<QLabel*>("heading");
    SpinUntil(
        [&] {
            seen << heading->text();
            return false;
        },
        ms);
    return seen;
}

// Every time one of the program's windows goes during a run, another one
// is on the screen: the user never sees the program vanish.
class GapWatch : public QObject {
public:
    GapWatch() { qApp->installEventFilter(this); }
    ~GapWatch() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWidget*>(watched);
        if (event->type() != QEvent::Hide || !window || !window->isWindow()) return false;
        for (QWidget* other : QApplication::topLevelWidgets())
            if (other != window && other->isVisible()) return false;
        gaps << window->objectName() + " " + window->windowTitle();
        return false;
    }
    QStringList gaps;
};

TEST_F(QtTest, WholeUpdateThroughTheWindows) {
    WithLatency();
    const std::vector<std::string> files = {Release("primary.hex"), Release("station.hex")};
    qt::Application& a = Start(files);

    // The same update by varnel-cli on a machine of its own.
    TempDir other;
    const Result<> made = sample::InitDefaultMachine(other.Path() / "machine", true, true);
    ASSERT_TRUE(made.Ok()) << made.Reason();
    QProcess cli;
    QStringList args = {"--machine", QString::fromStdString((other.Path() / "machine").string()),
                        "--trace",   QString::fromStdString(other.File("trace.jsonl")),
                        "update",    "--yes"};
    for (const std::string& f : files) args << QString::fromStdString(f);
    cli.start(VARNEL_CLI, args);
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const QString cliOutput = QString::fromUtf8(cli.readAllStandardOutput());

    QSet<QString> headings;
    QString summary;
    QString copied;
    bool selectionLeft = true;
    struct Step {
        int value, maximum;
        bool mainVisible, waitVisible;
    };
    std::vector<Step> steps;
    a.Host().SetProgressObserver([&](const QProgressBar& bar) {
        steps.push_back({bar.value(), bar.maximum(), a.Window().isVisible(), bar.window()->isVisible()});
    });
    QString done;
    ModalAnswerer answerer({
        {"Varnel",
         [&](QWidget& w) {
             headings = WatchHeading(w, 1300);
             ModalAnswerer::Press("Download")(w);
         }},
        {"Update Information",
         [&](QWidget& w) {
             auto* text = w.findChild<QPlainTextEdit*>("summary");
             summary = text->toPlainText();
             // Part of the text selected: Clipboard still copies it all.
             QTextCursor cursor = text->textCursor();
             cursor.setPosition(3);
             cursor.setPosition(9, QTextCursor::KeepAnchor);
             text->setTextCursor(cursor);
             ModalAnswerer::Press("Clipboard")(w);
             // The button says it copied.
             EXPECT_EQ(w.findChild<QPushButton*>("clipboard")->text(), "Copied");
             copied = QGuiApplication::clipboard()->text();
             selectionLeft = text->textCursor().hasSelection();
             EXPECT_TRUE(w.isVisible());
             ModalAnswerer::Press("UPDATE")(w);
         }},
        {"Update Complete",
         [&](QWidget& w) {
             auto* box = qobject_cast<QMessageBox*>(&w);
             done = box->text();
             EXPECT_EQ(box->icon(), QMessageBox::Information);
             ModalAnswerer::Press("OK")(w);
         }},
    });
    const QPoint place = a.Window().pos();
    GapWatch watch;
    QTest::mouseClick(Find<QPushButton>("update"), Qt::LeftButton);
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    EXPECT_EQ(a.Window().pos(), place);
    EXPECT_TRUE(watch.gaps.isEmpty()) << watch.gaps.join(", ").toStdString();

    EXPECT_TRUE(headings.contains("Warning !!"));
    EXPECT_TRUE(headings.contains(" "));
    const QString shown = "Update Information\n" + summary + (summary.endsWith('\n') ? "" : "\n");
    // The two runs save their firmware backups in their own folders.
    const auto withoutBackupLine = [](QString text) {
        return text.remove(QRegularExpression("Card firmware will be saved before writing, to: [^\n]*\n"))
            .toStdString();
    };
    EXPECT_EQ(withoutBackupLine(cliOutput), withoutBackupLine(shown));
    EXPECT_TRUE(shown.contains("Card firmware will be saved before writing, to: "));
    // All of the summary, its final line break included.
    EXPECT_EQ(withoutBackupLine(copied),
              withoutBackupLine(cliOutput.mid(QStringLiteral("Update Information\n").size())));
    EXPECT_FALSE(selectionLeft);
    ASSERT_FALSE(steps.empty());
    EXPECT_TRUE(std::any_of(steps.begin(), steps.end(), [](const Step& s) { return s.value == s.maximum; }));
    for (const Step& s : steps) {
        EXPECT_FALSE(s.mainVisible);
        EXPECT_TRUE(s.waitVisible);
    }
    EXPECT_EQ(done, "Update Successful!   \n\nCard firmware saved to " +
                        QString::fromStdString(a.Dialog().Report().firmwareBackup));
    EXPECT_EQ(a.Host().Wait(), nullptr);
    EXPECT_TRUE(a.Window().isVisible());
    EXPECT_TRUE(a.Window().centralWidget()->isEnabled());
    EXPECT_TRUE(a.Window().menuBar()->isEnabled());
    EXPECT_EQ(a.Dialog().FullStatus(),
              "Update Successful! Card firmware saved to " + a.Dialog().Report().firmwareBackup);

    // The same requests as varnel-cli's (whose trace holds its start too).
    std::vector<uint32_t> cliOids;
    {
        std::ifstream in(other.File("trace.jsonl"));
        std::string line;
        while (std::getline(in, line)) cliOids.push_back(nlohmann::json::parse(line)["oid"].get<uint32_t>());
    }
    const std::vector<uint32_t> guiOids = Oids(sim.Trace());
    ASSERT_FALSE(guiOids.empty());
    ASSERT_GE(cliOids.size(), guiOids.size());
    EXPECT_EQ(std::vector<uint32_t>(cliOids.end() - static_cast<long>(guiOids.size()), cliOids.end()), guiOids);
}

// Files in folders whose names are not UTF-8: the update succeeds and its
// history record is valid JSON that gives the names back.
TEST_F(QtTest, NamesThatAreNotUtf8ReachTheHistory) {
    const std::string names[] = {"caf\xE9", "\x80x", "\xC0\xAF", "\xE2\x82", "\xED\xA0\x80"};
    std::vector<std::string> files;
    for (const std::string& name : names) {
        const std::string folder = sim.dir.File("release " + name);
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(Release("station.hex"), folder + "/station.hex");
        files.push_back(folder + "/station.hex");
    }
    qt::Application& a = Start();
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        a.Dialog().ClearFiles();
        a.Dialog().AddFile(file);
        ModalAnswerer answerer({{"Varnel", ModalAnswerer::Press("Download")},
                                {"Update Information", ModalAnswerer::Press("UPDATE")},
                                {"Update Complete", ModalAnswerer::Press("OK")}});
        QTest::mouseClick(Find<QPushButton>("update"), Qt::LeftButton);
        EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
        EXPECT_EQ(Outcome(a.Dialog()), RunOutcome::Succeeded);
        EXPECT_TRUE(a.Dialog().Report().historyError.empty()) << a.Dialog().Report().historyError;
    }
    std::ifstream in(sim.dir.File("history.jsonl"));
    std::vector<std::string> recorded;
    for (std::string line; std::getline(in, line);) {
        ASSERT_TRUE(nlohmann::json::accept(line)) << line;
        const nlohmann::json record = nlohmann::json::parse(line);
        if (record["outcome"] == "unfinished") continue;  // the run's mark before its first write
        recorded.push_back(DecodeJsonName(record["files"][0]["path"].get<std::string>()));
    }
    EXPECT_EQ(recorded, files);
}

// Tab to the button, as a user would, then Enter.
void PressEnterOn(QWidget& dialog, const char* button) {
    auto* target = dialog.findChild<QPushButton*>(button);
    ASSERT_NE(target, nullptr);
    for (int i = 0; i < 8 && QApplication::focusWidget() != target; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), target);
    QTest::keyClick(target, Qt::Key_Return);
}

TEST_F(QtTest, WaysOutWriteNothing) {
    struct Case {
        const char* name;
        std::deque<ModalAnswerer::Step> steps;
    };
    const std::vector<Case> cases = {
        {"Cancel on the warning", {{"Varnel", ModalAnswerer::Press("Cancel")}}},
        {"Esc on the warning", {{"Varnel", [](QWidget& w) { QTest::keyClick(&w, Qt::Key_Escape); }}}},
        {"Enter, then Esc on the summary",
         {{"Varnel", ModalAnswerer::Press("Download")},
          {"Update Information",
           [](QWidget& w) {
               QTest::keyClick(&w, Qt::Key_Return);
               QTest::keyClick(w.findChild<QWidget*>("summary"), Qt::Key_Enter);
               EXPECT_TRUE(w.isVisible()) << "Enter closed the summary";
               QTest::keyClick(&w, Qt::Key_Escape);
           }}}},
        {"CANCEL on the summary",
         {{"Varnel", ModalAnswerer::Press("Download")}, {"Update Information", ModalAnswerer::Press("CANCEL")}}},
        // Enter presses the button that has the focus, not the default one.
        {"Enter on a focused Cancel", {{"Varnel", [](QWidget& w) { PressEnterOn(w, "cancel"); }}}},
        {"Enter on a focused CANCEL on the summary",
         {{"Varnel", ModalAnswerer::Press("Download")},
          {"Update Information", [](QWidget& w) { PressEnterOn(w, "cancel"); }}}},
    };
    qt::Application& a = Start({Release("changes.pda"), Release("station.hex")});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModalAnswerer answerer(c.steps);
        a.Dialog().OnUpdate();
        EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
        EXPECT_EQ(Writes(), 0u);
        EXPECT_NE(Outcome(a.Dialog()), RunOutcome::Succeeded);
        EXPECT_TRUE(a.Window().isVisible());
        EXPECT_TRUE(a.Window().centralWidget()->isEnabled());
    }
}

TEST_F(QtTest, AnotherMacAddressIsSaidInTheSummaryAndEnterAnswersNo) {
    const std::string file = sim.dir.File("mac.pda");
    test::WriteFile(file, "0004 0101 6000 121d 5734\n");
    qt::Application& a = Start({file, Release("station.hex")});
    QString summary;
    ModalAnswerer answerer({{"Varnel", ModalAnswerer::Press("Download")},
                            {"Update Information",
                             [&](QWidget& w) {
                                 summary = w.findChild<QPlainTextEdit*>("summary")->toPlainText();
                                 ModalAnswerer::Press("UPDATE")(w);
                             }},
                            {"Replace the Card's Identity?", [](QWidget& w) { QTest::keyClick(&w, Qt::Key_Return); }}});
    a.Dialog().OnUpdate();
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    EXPECT_TRUE(summary.startsWith(
        QString::fromUtf8("This replaces the card's identity: MAC address 00-60-1D-12-34-56 → 00-60-1D-12-34-57\n")))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains("Changes to the card's PDA:\nchanged  0x0101 MAC address  word 3\n"));
    EXPECT_EQ(Outcome(a.Dialog()), RunOutcome::Cancelled);
    EXPECT_EQ(Writes(), 0u);
}

TEST_F(QtTest, TheRunSaysWhichImageAndWhereThePdaWasSaved) {
    qt::Application& a = Start({Release("changes.pda"), Release("primary.hex"), Release("station.hex")});
    // The line under the bar while each image is programmed.
    std::vector<QString> lines;
    a.Host().SetProgressObserver([&](const QProgressBar& bar) {
        auto* line = bar.window()->findChild<QLabel*>("detail");
        const QString text = line ? line->text() : QStringLiteral("(none)");
        if (lines.empty() || lines.back() != text) lines.push_back(text);
    });
    QString done;
    ModalAnswerer answerer({{"Varnel", ModalAnswerer::Press("Download")},
                            {"Update Information", ModalAnswerer::Press("UPDATE")},
                            {"Update Complete", [&](QWidget& w) {
                                 done = qobject_cast<QMessageBox*>(&w)->text();
                                 ModalAnswerer::Press("OK")(w);
                             }}});
    a.Dialog().OnUpdate();
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    ASSERT_EQ(Outcome(a.Dialog()), RunOutcome::Succeeded);
    // The firmware backup's reading first, with no line under its bar.
    EXPECT_EQ(lines, (std::vector<QString>{"(none)", "Image 1 of 2: primary.hex", "Image 2 of 2: station.hex"}));

    // The whole path in the success box and in the status's tooltip; the
    // status box holds its text in its two lines, with no scroll bar.
    const QString backup = QString::fromStdString(a.Dialog().Report().backup);
    ASSERT_FALSE(backup.isEmpty());
    const QString firmware = QString::fromStdString(a.Dialog().Report().firmwareBackup);
    EXPECT_EQ(done, "Update Successful!   \n\nCard PDA saved to " + backup + "\nCard firmware saved to " + firmware);
    auto* status = Find<QTextEdit>("status");
    EXPECT_EQ(status->toPlainText(), "Update Successful! Card PDA saved to " + QFileInfo(backup).fileName());
    EXPECT_EQ(QTextDocumentFragment::fromHtml(status->toolTip()).toPlainText(),
              "Update Successful! Card PDA saved to " + backup + ". Card firmware saved to " + firmware);
    EXPECT_LE(status->document()->size().height(), status->viewport()->height());
    EXPECT_LE(status->document()->size().width(), status->viewport()->width());
}

}  // namespace
}  // namespace varnel::test
