// varnel-screenshots OUTDIR [ICONDIR]: pictures of the desktop program's
// windows for the README and docs/, each with the frame its window manager
// drew (make screenshots runs this under scripts/with-wm.sh), taken on a
// fresh default machine with the sample release; with ICONDIR also the
// application icon as PNGs of the usual sizes.
//
// A picture is one entry of the table in main(): its file name, the window
// it shows and the moment it is taken.

#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QAction>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "sample/default_machine.h"
#include "sample/sample_release.h"
#include "sim/machine_dir.h"
#include "sim/sim_machine.h"
#include "ui/qt/application.h"
#include "ui/qt/vector_art.h"

namespace {

// Lets the window manager frame the window and the window paint itself.
void Settle(QWidget& window) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 400) {
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        QThread::msleep(10);
    }
    (void)window;
}

// The window with its frame, as the screen shows it (offscreen: the window
// alone).
QPixmap Picture(QWidget& window) {
    Settle(window);
    QScreen* screen = window.screen();
    const QRect frame = window.frameGeometry();
    if (!screen || QGuiApplication::platformName() == QLatin1String("offscreen")) return window.grab();
    return screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: varnel-screenshots OUTDIR [ICONDIR]\n");
        return 2;
    }
    // Without an X server (or another display) the windows alone, offscreen.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    if (argc == 3) {
        const QString icons = QString::fromLocal8Bit(argv[2]);
        QDir().mkpath(icons);
        for (int size : {16, 32, 48, 64, 128, 256})
            if (!varnel::qt::RenderAppIcon(size).save(icons + QStringLiteral("/varnel-%1.png").arg(size))) {
                std::fprintf(stderr, "varnel-screenshots: cannot write the icons to %s\n", argv[2]);
                return 1;
            }
    }

    // A fixed place, so that the pictures show the same paths every time.
    struct Place {
        std::filesystem::path path = std::filesystem::temp_directory_path() / "varnel-example";
        Place() {
            std::filesystem::remove_all(path);
            std::filesystem::create_directories(path);
        }
        ~Place() { std::filesystem::remove_all(path); }
        std::string File(const std::string& name) const { return (path / name).string(); }
        const std::filesystem::path& Path() const { return path; }
    } dir;
    varnel::Result<> made = varnel::sample::InitDefaultMachine(dir.Path() / "machine", true);
    if (made) made = varnel::sample::WriteRelease(dir.File("release"));
    if (!made) {
        std::fprintf(stderr, "varnel-screenshots: %s\n", made.Reason().c_str());
        return 1;
    }
    auto opened = varnel::sim::SimMachine::Open(dir.Path() / "machine");
    if (!opened) {
        std::fprintf(stderr, "varnel-screenshots: %s\n", opened.Reason().c_str());
        return 1;
    }
    varnel::sim::SimMachine& machine = **opened;
    varnel::qt::Application program(machine, machine);
    program.Dialog().SetBackupDirectory(dir.Path() / "backups");
    program.Dialog().SetHistoryPath(dir.Path() / "history.jsonl");
    program.Dialog().SetLockDirectory(dir.Path() / "locks");
    program.Start({dir.File("release/changes.pda"), dir.File("release/primary.hex"), dir.File("release/station.hex")});

    bool ok = true;
    QStringList written;
    auto save = [&](QWidget& window, const QString& name) {
        if (written.contains(name)) return;
        written << name;
        if (!Picture(window).save(out + "/" + name)) ok = false;
    };
    save(program.Window(), "main-window.png");

    // The pictures taken in modal windows: by the window's title, the
    // picture's name and the button that closes it.
    struct Modal {
        QString title;
        QString picture;  // "" : none
        QString button;
    };
    const std::vector<Modal> modals = {
        {"Varnel", "warning.png", "Download"},
        {"Update Information", "update-information.png", "UPDATE"},
        {"Update Complete", "", "OK"},
        {"Update History", "history-window.png", "Close"},
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        poll.stop();
        QString button = "OK";
        for (const Modal& m : modals)
            if (m.title == modal->windowTitle()) {
                if (!m.picture.isEmpty()) save(*modal, m.picture);
                button = m.button;
            }
        for (QPushButton* b : modal->findChildren<QPushButton*>())
            if (b->text() == button) b->click();
        poll.start();
    });
    poll.start(20);
    // The wait window half way through the second image.
    int image = 0;
    program.Host().SetProgressObserver([&](const QProgressBar& bar) {
        if (bar.value() == bar.minimum()) ++image;
        if (image == 2 && bar.value() >= (bar.minimum() + bar.maximum()) / 2) save(*bar.window(), "wait-window.png");
    });
    // The whole update: warning, summary, programming, success.
    program.Dialog().OnUpdate();
    // The windows of the Tools menu, opened from their entries, with the
    // poll answering them.
    for (const char* entry : {"history"})
        if (auto* action = program.Window().findChild<QAction*>(QString::fromLatin1(entry))) action->trigger();
    poll.stop();

    for (const QString& name : {QString("main-window.png"), QString("warning.png"), QString("update-information.png"),
                                QString("wait-window.png"), QString("history-window.png")})
        if (!written.contains(name)) {
            std::fprintf(stderr, "varnel-screenshots: no picture %s\n", qPrintable(name));
            ok = false;
        }
    if (!ok) std::fprintf(stderr, "varnel-screenshots: cannot write the pictures to %s\n", argv[1]);
    return ok ? 0 : 1;
}
