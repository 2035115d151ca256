// varnel: the desktop program. One instance per user; a second start hands
// its files to the first and ends.
//
//   varnel [--machine DIR] [FILE...]

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stop_request.h"
#include "sample/default_machine.h"
#include "sim/sim_machine.h"
#include "ui/desktop_options.h"
#include "ui/qt/application.h"
#include "ui/qt/single_instance.h"

namespace {

// Qt's own options with a value (-style ...): Qt takes them out of argv
// itself, after ours are read.
constexpr std::string_view kQtOptionsWithValue[] = {
    "-style",       "-platform",           "-stylesheet",    "-display", "-qwindowgeometry", "-qwindowtitle",
    "-qwindowicon", "-platformpluginpath", "-platformtheme", "-plugin",  "-session",         "-geometry",
    "-title"};

// What nothing expected ends the program as an internal error, said on
// stderr and in a message box, with exit 1: never an abort. A run that wrote
// to the card has made its history record before anything can get here.
void InternalError(const char* what) {
    std::fprintf(stderr, "varnel: internal error: %s\n", what);
    QMessageBox::critical(nullptr, QStringLiteral("Varnel"),
                          QStringLiteral("Internal error: %1\n\nVarnel ends.").arg(QString::fromLocal8Bit(what)));
    QCoreApplication::exit(1);
}

class GuardedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            InternalError(e.what());
        } catch (...) {
            InternalError("an unknown exception");
        }
        return false;
    }
};

int Run(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    const varnel::DesktopOptions options =
        varnel::ParseDesktopOptions(args, {.singleDash = true, .withValue = kQtOptionsWithValue});
    if (!options.error.empty()) {
        std::fprintf(stderr, "varnel: %s\n", options.error.c_str());
        return 2;
    }
    if (options.version) {
        std::printf("varnel %s\n", VARNEL_VERSION);
        return 0;
    }
    if (options.help) {
        std::printf("%s", varnel::DesktopHelp("$VARNEL_MACHINE, else\n"
                                              "               $XDG_STATE_HOME/varnel/machine")
                              .c_str());
        return 0;
    }

    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varnel"));
    QApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));
    // The desktop entry's name, so that a desktop shows the window under it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.varnel.Varnel"));
    // The main window is hidden while the card is programmed; a message box
    // closed then must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    QStringList absolute;
    std::vector<std::string> files;
    for (const std::string& file : options.files) {
        absolute << QFileInfo(QString::fromLocal8Bit(file.c_str())).absoluteFilePath();
        // The list gets the name's own bytes, whatever the system's encoding.
        std::error_code ec;
        const std::filesystem::path path = std::filesystem::absolute(file, ec);
        files.push_back(ec ? file : path.lexically_normal().string());
    }

    QString error;
    const QString runtime = varnel::qt::SingleInstance::RuntimeDirectory(&error);
    if (runtime.isEmpty()) {
        std::fprintf(stderr, "varnel: %s\n", qPrintable(error));
        return 1;
    }
    varnel::qt::SingleInstance instance(runtime);
    const auto notice = [](const QString& text) { std::fprintf(stderr, "varnel: %s\n", qPrintable(text)); };
    switch (instance.Start(absolute, &error, notice)) {
    case varnel::qt::SingleInstance::Role::HandedOver: return 0;
    case varnel::qt::SingleInstance::Role::Failed: std::fprintf(stderr, "varnel: %s\n", qPrintable(error)); return 1;
    case varnel::qt::SingleInstance::Role::First: break;
    }

    auto opened = varnel::sample::OpenProgramMachine(options.machine);
    if (!opened) {
        std::fprintf(stderr, "varnel: %s\n", opened.Reason().c_str());
        return 1;
    }
    std::unique_ptr<varnel::sim::SimMachine> machine = std::move(*opened);

    // SIGINT, SIGTERM and SIGHUP end the program as ever, except while a run
    // writes to the card: then the run stops after the piece in flight.
    varnel::InstallStopHandlers();
    varnel::qt::Application program(*machine, *machine);
    program.Serve(instance);
    program.Start(files);
    // For the start-up benchmark: end as soon as the window is up.
    if (std::getenv("VARNEL_QUIT_WHEN_SHOWN")) QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varnel: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "varnel: internal error: an unknown exception\n");
    }
    return 1;
}
