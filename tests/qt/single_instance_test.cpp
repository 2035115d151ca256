// One instance per user, with real second processes.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QtEndian>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "tests/qt/qt_fixture.h"
#include "tests/support/run_outcome.h"

namespace varnel::test {
namespace {

class SingleInstanceTest : public QtTest {
protected:
    QString Runtime() const { return QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR")); }
    QString Socket() const { return Runtime() + "/varnel.socket"; }

    // A start of the real program; its own machine, so that a first
    // instance never shares ours.
    std::unique_ptr<QProcess> Varnel(const QStringList& files, const QString& workingDirectory = {}) {
        auto process = std::make_unique<QProcess>();
        if (!workingDirectory.isEmpty()) process->setWorkingDirectory(workingDirectory);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(VARNEL_GUI, QStringList{"--machine", QString::fromStdString(other.File("machine"))} + files);
        EXPECT_TRUE(process->waitForStarted());
        return process;
    }
    // Runs our event loop until the process ends; its exit code, -1 when it
    // did not end in time.
    static int Finish(QProcess& process, int limitMs = 30000) {
        if (!SpinUntil([&] { return process.state() == QProcess::NotRunning; }, limitMs)) return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    static bool Answers(const QString& socket) {
        QLocalSocket probe;
        probe.connectToServer(socket);
        return probe.waitForConnected(200);
    }
    std::vector<std::string> Paths() {
        std::vector<std::string> paths;
        for (const FileEntry& e : App().Dialog().Files()) paths.push_back(e.path);
        return paths;
    }

    TempDir other;
};

TEST_F(SingleInstanceTest, SecondStartHandsOverAndAStaleSocketDoesNotStopTheNext) {
    // A first instance, killed: its socket stays behind.
    auto killed = Varnel({});
    ASSERT_TRUE(SpinUntil([&] { return Answers(Socket()); })) << "the first instance never listened";
    ::kill(static_cast<pid_t>(killed->processId()), SIGKILL);
    ASSERT_TRUE(killed->waitForFinished());
    ASSERT_TRUE(QFileInfo::exists(Socket()));

    // The next start becomes the first instance.
    qt::SingleInstance instance(Runtime());
    QString error;
    ASSERT_EQ(instance.Start({}, &error), qt::SingleInstance::Role::First) << error.toStdString();
    qt::Application& a = Start();
    a.Serve(instance);
    struct stat status {};
    ASSERT_EQ(::stat(Socket().toLocal8Bit().constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 077, 0u) << "the socket is this user's only";

    // A second start: one relative and one absolute path, in this order.
    auto second =
        Varnel({"card.pda", QString::fromStdString(Release("changes.pda"))}, QString::fromStdString(Release("")));
    EXPECT_EQ(Finish(*second), 0);
    EXPECT_EQ(Paths(), std::vector<std::string>({Release("card.pda"), Release("changes.pda")}));

    // With no files it only raises the window.
    auto third = Varnel({});
    EXPECT_EQ(Finish(*third), 0);
    EXPECT_EQ(Paths().size(), 2u);
}

TEST_F(SingleInstanceTest, AnotherUserCanNeitherServeNorHandOver) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to run a process as another user (setpriv)";
    if (!QFileInfo::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is not installed";
    const QString self = QCoreApplication::applicationFilePath();
    const QStringList asNobody = {"--reuid=65534", "--regid=65534", "--clear-groups", self};
    TempDir shared;
    ::chmod(shared.Path().c_str(), 0777);
    const QString theirs = QString::fromStdString(shared.File("theirs.socket"));
    const QString file = QString::fromStdString(Release("station.hex"));

    // A socket served by another user: refused, nothing handed over.
    QProcess server;
    server.start("/usr/bin/setpriv", asNobody + QStringList{"--serve", theirs});
    ASSERT_TRUE(SpinUntil(
        [&] { return server.readAllStandardOutput().contains("ready") || server.state() == QProcess::NotRunning; }));
    ASSERT_EQ(server.state(), QProcess::Running);
    QString error;
    bool noServer = true;
    EXPECT_FALSE(qt::SingleInstance::HandOver(theirs, {file}, &error, &noServer, 2000));
    EXPECT_FALSE(noServer);
    EXPECT_TRUE(error.contains("another user")) << error.toStdString();
    SpinUntil([] { return false; }, 200);
    EXPECT_FALSE(server.readAllStandardOutput().contains("file")) << "the other user's instance got the file";
    server.kill();
    server.waitForFinished();

    // Our instance, its socket opened to all: another user's hand-over is
    // refused all the same.
    qt::SingleInstance ours(QString{});
    const QString mine = QString::fromStdString(shared.File("mine.socket"));
    ASSERT_TRUE(ours.Listen(mine, &error)) << error.toStdString();
    ::chmod(mine.toLocal8Bit().constData(), 0777);
    Start();
    App().Serve(ours);
    QProcess sender;
    sender.start("/usr/bin/setpriv", asNobody + QStringList{"--send", mine, file});
    EXPECT_NE(Finish(sender), 0);
    EXPECT_TRUE(Paths().empty());

    // A runtime directory that belongs to another user is never used: the
    // program goes elsewhere (Qt falls back to a private one) or refuses.
    TempDir foreign;
    ASSERT_EQ(::chown(foreign.Path().c_str(), 65534, 65534), 0);
    QProcess refused;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(foreign.Path().string()));
    refused.setProcessEnvironment(env);
    refused.start(VARNEL_GUI, {"--machine", QString::fromStdString(other.File("machine"))});
    const int code = Finish(refused, 1500);
    EXPECT_TRUE(code == -1 || code == 1) << code;
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(foreign.File("varnel.socket"))));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(foreign.File("varnel.lock"))));
    refused.kill();
    refused.waitForFinished();
}

TEST_F(SingleInstanceTest, HandOverWhileTheSummaryIsOpenWaitsForTheRunsEnd) {
    qt::SingleInstance instance(Runtime());
    QString error;
    ASSERT_EQ(instance.Start({}, &error), qt::SingleInstance::Role::First) << error.toStdString();
    const std::vector<std::string> files = {Release("changes.pda"), Release("primary.hex"), Release("station.hex")};
    qt::Application& a = Start(files);
    a.Serve(instance);
    QProcess second;
    QByteArray errors;
    bool told = false;
    std::vector<std::string> duringSummary, atTheEnd;
    ModalAnswerer answerer({
        {"Varnel", ModalAnswerer::Press("Download")},
        {"Update Information",
         [&](QWidget& w) {
             second.start(VARNEL_GUI, {"--machine", QString::fromStdString(other.File("machine")),
                                       QString::fromStdString(Release("combined.hex"))});
             // The second start says the running one is busy, and waits.
             told = SpinUntil([&] {
                 errors += second.readAllStandardError();
                 return a.Waiting() == 1 && errors.contains("busy with an update");
             });
             duringSummary = Paths();
             ModalAnswerer::Press("UPDATE")(w);
         }},
        {"Update Complete",
         [&](QWidget& w) {
             atTheEnd = Paths();
             EXPECT_EQ(second.state(), QProcess::Running);
             ModalAnswerer::Press("OK")(w);
         }},
    });
    // Once the run has ended, the file joins: the list was full.
    answerer.Expect("Varnel", [](QWidget& w) {
        EXPECT_TRUE(w.findChild<QLabel*>("qt_msgbox_label")->text() == "The new firmware files will be taken over!!");
        ModalAnswerer::Press("OK")(w);
    });
    a.Dialog().OnUpdate();
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    EXPECT_TRUE(told) << errors.toStdString();
    EXPECT_EQ(duringSummary, files);
    EXPECT_EQ(atTheEnd, files);
    EXPECT_EQ(Outcome(a.Dialog()), RunOutcome::Succeeded);
    ASSERT_EQ(a.Dialog().Report().plugs.size(), 2u);
    EXPECT_EQ(a.Dialog().Report().plugs[0].file, Release("primary.hex"));
    EXPECT_EQ(a.Dialog().Report().plugs[1].file, Release("station.hex"));
    EXPECT_EQ(Finish(second), 0);
    EXPECT_EQ(Paths(), std::vector<std::string>({Release("combined.hex")}));
}

TEST_F(SingleInstanceTest, HandOverDuringTheFlashWaitsForItsEnd) {
    WithLatency();
    qt::SingleInstance instance(Runtime());
    QString error;
    ASSERT_EQ(instance.Start({}, &error), qt::SingleInstance::Role::First) << error.toStdString();
    qt::Application& a = Start({Release("primary.hex"), Release("station.hex")});
    a.Serve(instance);
    std::unique_ptr<QProcess> second;
    bool queued = false;
    size_t longestList = 0;
    a.Host().SetProgressObserver([&](const QProgressBar&) {
        longestList = std::max(longestList, Paths().size());
        if (second) return;
        second = Varnel({QString::fromStdString(Release("card.pda"))});
        // The programming goes on while the hand-over waits.
        queued = SpinUntil([&] { return a.Waiting() == 1; });
    });
    ModalAnswerer answerer({{"Varnel", ModalAnswerer::Press("Download")},
                            {"Update Information", ModalAnswerer::Press("UPDATE")},
                            {"Update Complete", ModalAnswerer::Press("OK")}});
    a.Dialog().OnUpdate();
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    EXPECT_TRUE(queued);
    EXPECT_EQ(longestList, 2u) << "a file joined the list during the programming";
    ASSERT_TRUE(second);
    EXPECT_EQ(Finish(*second), 0);
    EXPECT_EQ(Paths(), std::vector<std::string>({Release("card.pda"), Release("primary.hex"), Release("station.hex")}));
}

// The channel itself, from a raw client in this process: whatever arrives,
// the program goes on.
class HandOverChannel : public SingleInstanceTest {
protected:
    void SetUp() override {
        SingleInstanceTest::SetUp();
        QString error;
        ASSERT_TRUE(server.Listen(socketPath, &error)) << error.toStdString();
        server.SetHandlers(
            [this](const QString& path, std::function<void()> done) {
                files.push_back(path.toStdString());
                if (path == "/throws") throw std::runtime_error("the handler failed");
                if (holdFiles) held.push_back(std::move(done));
                else done();
                return false;
            },
            [this] { ++raises; });
        Connect();
    }
    void Connect() {
        client.abort();
        client.connectToServer(socketPath);
        ASSERT_TRUE(client.waitForConnected(2000));
    }
    static QByteArray Frame(const QByteArray& payload) {
        QByteArray frame(4, '\0');
        qToBigEndian(static_cast<quint32>(payload.size()), frame.data());
        return frame + payload;
    }
    // The answers so far: 'A' counted, 'N' with its reason kept.
    void ReadAnswers() {
        answers += client.readAll();
        while (!answers.isEmpty()) {
            if (answers[0] == 'A') {
                ++acks;
                answers.remove(0, 1);
                continue;
            }
            if (answers.size() < 5) return;
            const quint32 length = qFromBigEndian<quint32>(answers.constData() + 1);
            if (answers[0] != 'N' || answers.size() < 5 + static_cast<qsizetype>(length)) return;
            refusals.push_back(answers.mid(5, length).toStdString());
            answers.remove(0, 5 + length);
        }
    }
    bool Dropped() const { return client.state() == QLocalSocket::UnconnectedState; }

    TempDir dir;
    QString socketPath = QString::fromStdString(dir.File("channel.socket"));
    qt::SingleInstance server{QString{}};
    QLocalSocket client;
    QByteArray answers;
    size_t acks = 0;
    size_t raises = 0;
    std::vector<std::string> refusals;
    std::vector<std::string> files;
    bool holdFiles = false;
    std::vector<std::function<void()>> held;
};

TEST_F(HandOverChannel, AHundredThousandFramesInOneWriteAreTakenInALoop) {
    QByteArray flood;
    for (int i = 0; i < 100000; ++i) flood += Frame("R");
    client.write(flood);
    EXPECT_TRUE(SpinUntil(
        [&] {
            ReadAnswers();
            return acks == 100000 || Dropped();
        },
        60000));
    EXPECT_EQ(raises, 100000u);
    EXPECT_EQ(acks, 100000u);
    // The same connection takes a file after them.
    client.write(Frame("F/after/the/flood.pda"));
    EXPECT_TRUE(SpinUntil([&] {
        ReadAnswers();
        return acks == 100001 || Dropped();
    }));
    EXPECT_EQ(files, std::vector<std::string>({"/after/the/flood.pda"}));
}

TEST_F(HandOverChannel, AnEndlessStreamIsDroppedNotBuffered) {
    struct Case {
        const char* name;
        QByteArray frame;
        bool holdFiles;  // the first file is never acknowledged
    };
    const Case cases[] = {
        {"raises whose answers are never read", "R", false},
        {"files after one that waits", "F/a/file.pda", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        holdFiles = c.holdFiles;
        Connect();
        // The client reads no answers: they fill the channel back to the
        // first instance.
        client.setReadBufferSize(1024);
        QByteArray chunk;
        for (int i = 0; i < 1000; ++i) chunk += Frame(c.frame);
        qint64 sent = 0;
        constexpr qint64 kGiveUp = 64 << 20;
        const bool dropped = SpinUntil(
            [&] {
                if (Dropped()) return true;
                if (client.bytesToWrite() < (1 << 20) && sent < kGiveUp) {
                    client.write(chunk);
                    sent += chunk.size();
                }
                return false;
            },
            30000);
        EXPECT_TRUE(dropped) << sent << " bytes sent";
        EXPECT_LT(sent, 16 << 20) << "the connection was dropped only late";
        held.clear();
    }
    // The program still serves a new connection.
    holdFiles = false;
    files.clear();
    Connect();
    client.setReadBufferSize(0);
    client.write(Frame("F/after/the/stream.pda"));
    EXPECT_TRUE(SpinUntil([&] {
        ReadAnswers();
        return acks > 0 || Dropped();
    }));
    EXPECT_EQ(files, std::vector<std::string>({"/after/the/stream.pda"}));
}

TEST_F(HandOverChannel, IdleConnectionsAreBoundedAndTimedOut) {
    server.SetIdleTimeout(500);
    Connect();
    // Many connections that send nothing: no more than the bound are kept.
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 3 * qt::SingleInstance::kMaxConnections; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(socketPath);
        ASSERT_TRUE(idle.back()->waitForConnected(2000));
        QApplication::processEvents();
    }
    SpinUntil([] { return false; }, 100);
    EXPECT_LE(server.Connections(), qt::SingleInstance::kMaxConnections);
    // A sender still gets through: it takes an idle one's place.
    QLocalSocket sender;
    sender.connectToServer(socketPath);
    ASSERT_TRUE(sender.waitForConnected(2000));
    sender.write(Frame("R"));
    QByteArray answer;
    EXPECT_TRUE(SpinUntil([&] {
        answer += sender.readAll();
        return !answer.isEmpty() || sender.state() == QLocalSocket::UnconnectedState;
    }));
    EXPECT_EQ(answer, "A");
    // Then every idle one is dropped once its time is up.
    EXPECT_TRUE(SpinUntil([&] { return server.Connections() == 0; }, 5000)) << server.Connections();
    for (const auto& socket : idle) EXPECT_EQ(socket->state(), QLocalSocket::UnconnectedState);
}

TEST_F(HandOverChannel, RunningOutOfDescriptorsNeitherClosesNorRemovesTheSocket) {
#if defined(__SANITIZE_ADDRESS__)
    // Under AddressSanitizer the test hangs once every descriptor is taken:
    // the sanitizer's runtime needs descriptors of its own. The plain build
    // runs it.
    GTEST_SKIP() << "not under AddressSanitizer: its runtime needs free descriptors";
#endif
    // Another process opens connections while this one has few descriptors
    // left: the socket goes on listening, its file stays.
    int highest = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        highest = std::max(highest, std::stoi(entry.path().filename().string()));
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const QByteArray name = QFile::encodeName(socketPath);
        for (int i = 0; i < 200; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
            if (fd >= 0) ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
        ::pause();
        ::_exit(0);
    }
    rlimit few = before;
    few.rlim_cur = static_cast<rlim_t>(highest + 64);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    // Every descriptor taken but three.
    std::vector<int> taken;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
    ASSERT_EQ(errno, EMFILE);
    for (int i = 0; i < 3 && !taken.empty(); ++i) {
        ::close(taken.back());
        taken.pop_back();
    }
    SpinUntil([] { return false; }, 1500);
    for (const int fd : taken) ::close(fd);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &before), 0);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    EXPECT_TRUE(QFileInfo(socketPath).exists());
    Connect();
    client.write(Frame("R"));
    EXPECT_TRUE(SpinUntil([&] {
        ReadAnswers();
        return acks > 0 || Dropped();
    }));
    EXPECT_EQ(acks, 1u);
}

TEST_F(HandOverChannel, AnInstanceThatEndsRemovesOnlyItsOwnSocket) {
    // Another instance listens at the same place once the first one's file
    // was taken away: the first one's end leaves the second's socket.
    const QString shared = QString::fromStdString(dir.File("shared.socket"));
    auto first = std::make_unique<qt::SingleInstance>(QString{});
    QString error;
    ASSERT_TRUE(first->Listen(shared, &error)) << error.toStdString();
    ASSERT_TRUE(QFile::remove(shared));
    qt::SingleInstance second{QString{}};
    ASSERT_TRUE(second.Listen(shared, &error)) << error.toStdString();
    first.reset();
    EXPECT_TRUE(QFileInfo(shared).exists());
    EXPECT_TRUE(Answers(shared));
}

TEST_F(HandOverChannel, PathsItCannotTakeAreRefusedWithTheReason) {
    struct Case {
        QByteArray name;
        const char* reason;
    };
    const Case cases[] = {
        {"", "the path is empty"},
        {"relative/card.pda", "the path is relative"},
        {"/release/caf\xe9.pda", "not valid UTF-8"},  // Latin-1
        {"/release/\x80\x80.pda", "not valid UTF-8"},
        {"/release/\xed\xa0\x80.pda", "not valid UTF-8"},  // an encoded surrogate
        {QByteArray("/release/a\0b.pda", 16), "NUL byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        refusals.clear();
        client.write(Frame("F" + c.name));
        EXPECT_TRUE(SpinUntil([&] {
            ReadAnswers();
            return !refusals.empty() || acks > 0 || Dropped();
        }));
        ASSERT_EQ(refusals.size(), 1u);
        EXPECT_NE(refusals[0].find(c.reason), std::string::npos) << refusals[0];
    }
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(acks, 0u);
    // The connection goes on with a path that is fine.
    client.write(Frame("F/release/caf\xc3\xa9.pda"));
    EXPECT_TRUE(SpinUntil([&] {
        ReadAnswers();
        return acks > 0 || Dropped();
    }));
    EXPECT_EQ(files, std::vector<std::string>({"/release/caf\xc3\xa9.pda"}));

    // A handler that fails drops the connection, and only it.
    client.write(Frame("F/throws"));
    EXPECT_TRUE(SpinUntil([&] { return Dropped(); }));
    Connect();
    client.write(Frame("R"));
    EXPECT_TRUE(SpinUntil([&] {
        ReadAnswers();
        return acks == 2 || Dropped();
    }));
    EXPECT_EQ(raises, 1u);

    // The sending program says why, and fails.
    QProcess sender;
    sender.start(QCoreApplication::applicationFilePath(), {"--send", socketPath, "relative.pda"});
    EXPECT_EQ(Finish(sender), 1);
    EXPECT_TRUE(sender.readAllStandardError().contains("refused relative.pda: the path is relative"));
}

}  // namespace
}  // namespace varnel::test

namespace varnel::test {
namespace {

TEST_F(QtTest, FileArrivingWhileTheTakenOverBoxIsOpenIsKept) {
    qt::Application& a = Start({Release("changes.pda"), Release("primary.hex"), Release("station.hex")});
    bool doneFirst = false;
    bool doneSecond = false;
    ModalAnswerer answerer({{"Varnel", [&](QWidget& w) {
                                 // The second file comes while the box for the first is open.
                                 a.AddFromOutside(Release("combined.hex"), [&] { doneSecond = true; });
                                 EXPECT_FALSE(doneSecond);
                                 ModalAnswerer::Press("OK")(w);
                             }}});
    a.AddFromOutside(Release("card.pda"), [&] { doneFirst = true; });
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    EXPECT_TRUE(doneFirst);
    EXPECT_TRUE(doneSecond);
    std::vector<std::string> paths;
    for (const FileEntry& e : a.Dialog().Files()) paths.push_back(e.path);
    EXPECT_EQ(paths, std::vector<std::string>({Release("card.pda"), Release("combined.hex")}));
}

}  // namespace
}  // namespace varnel::test
