// varnel-screenshots OUTDIR [ICONDIR]: pictures of the main window and of
// the Update Information dialog, taken offscreen on a fresh default machine
// with the sample release, for the README; with ICONDIR also the
// application icon as PNGs of the usual sizes.

#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "sample/default_machine.h"
#include "sim/machine_dir.h"
#include "sim/sim_machine.h"
#include <filesystem>
#include "sample/sample_release.h"
#include "ui/qt/application.h"
#include "ui/qt/art.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: varnel-screenshots OUTDIR [ICONDIR]\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
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
        Place() { std::filesystem::remove_all(path); std::filesystem::create_directories(path); }
        ~Place() { std::filesystem::remove_all(path); }
        std::string File(const std::string& name) const { return (path / name).string(); }
        const std::filesystem::path& Path() const { return path; }
    } dir;
    std::string error;
    if (!varnel::sample::InitDefaultMachine(dir.Path() / "machine", true, &error) ||
        !varnel::sample::WriteRelease(dir.File("release"), &error)) {
        std::fprintf(stderr, "varnel-screenshots: %s\n", error.c_str());
        return 1;
    }
    varnel::sim::SimMachine machine(dir.Path() / "machine");
    varnel::qt::Application program(machine, machine);
    program.Dialog().m_backupDirectory = dir.Path() / "backups";
    program.Dialog().m_historyPath = dir.Path() / "history.jsonl";
    program.Dialog().m_lockDirectory = dir.Path() / "locks";
    program.Start({dir.File("release/changes.pda"), dir.File("release/primary.hex"), dir.File("release/station.hex")});
    QApplication::processEvents();

    bool ok = program.Window().grab().save(out + "/main-window.png");
    // The update as far as its summary: "Download" on the warning, the
    // summary's picture, then CANCEL (nothing is written).
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        const QString button = modal->windowTitle() == "Update Information" ? "CANCEL"
                               : modal->windowTitle() == "Varnel"           ? "Download"
                                                                            : "OK";
        if (modal->windowTitle() == "Update Information") ok = modal->grab().save(out + "/update-information.png") && ok;
        for (QPushButton* b : modal->findChildren<QPushButton*>())
            if (b->text() == button) b->click();
    });
    poll.start(20);
    program.Dialog().OnUpdate();
    if (!ok) std::fprintf(stderr, "varnel-screenshots: cannot write the pictures to %s\n", argv[1]);
    return ok ? 0 : 1;
}
