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
#include <optional>
#include <string>
#include <vector>

#include "platform/stop_request.h"
#include "sample/default_machine.h"
#include "sim/sim_machine.h"
#include "ui/qt/application.h"
#include "ui/qt/single_instance.h"

namespace {

struct Options {
    std::optional<std::string> machine;
    std::vector<std::string> files;
    bool help = false;
    bool version = false;
    std::string error;
};

// Our own options first, before Qt takes its own (-style ...) out of argv.
Options Parse(const std::vector<std::string>& args) {
    Options options;
    bool filesOnly = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (filesOnly) {
            options.files.push_back(arg);
        } else if (arg == "--") {
            filesOnly = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--machine") {
            if (i + 1 == args.size()) {
                options.error = "--machine needs a directory";
                return options;
            }
            options.machine = args[++i];
        } else if (arg.rfind("--machine=", 0) == 0) {
            options.machine = arg.substr(10);
        } else if (arg.size() > 1 && arg[0] == '-') {
            // Qt's own options (-style, -platform ...) are Qt's business.
            const bool takesValue = arg == "-style" || arg == "-platform" || arg == "-stylesheet" ||
                                    arg == "-display" || arg == "-qwindowgeometry" || arg == "-qwindowtitle" ||
                                    arg == "-qwindowicon" || arg == "-platformpluginpath" || arg == "-platformtheme" ||
                                    arg == "-plugin" || arg == "-session" || arg == "-geometry" || arg == "-title";
            if (takesValue) ++i;
        } else {
            options.files.push_back(arg);
        }
    }
    return options;
}

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
    const Options options = Parse(args);
    if (!options.error.empty()) {
        std::fprintf(stderr, "varnel: %s\n", options.error.c_str());
        return 2;
    }
    if (options.version) {
        std::printf("varnel %s\n", VARNEL_VERSION);
        return 0;
    }
    if (options.help) {
        std::printf(
            "Usage: varnel [--machine DIR] [FILE...]\n"
            "Updates the firmware and the production data of 802.11 WLAN cards.\n"
            "FILE: firmware images (.hex) and .pda files for the file list. When varnel already runs,\n"
            "the files go to its list and this start ends.\n"
            "--machine DIR  the simulated machine (default: $VARNEL_MACHINE, else\n"
            "               $XDG_STATE_HOME/varnel/machine)\n"
            "--version      print the version\n");
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
    case varnel::qt::SingleInstance::Role::Failed:
        std::fprintf(stderr, "varnel: %s\n", qPrintable(error));
        return 1;
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
