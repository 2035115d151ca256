// The window tests' main: Qt offscreen (qt_tests) or on the X server the
// tests run under (qt_wm_tests, started by scripts/with-wm.sh), and a
// private runtime and state directory per test process (ctest runs them in
// parallel).
//
// The same program is the helper of the single-instance tests:
//   qt_tests --serve SOCKET    listens like a first instance, prints "ready"
//   qt_tests --send SOCKET FILE hands FILE over; exit 0 when acknowledged

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "tests/test_support.h"
#include "ui/qt/single_instance.h"

namespace {

int Serve(const QString& socket) {
    varnel::qt::SingleInstance instance(QString{});
    instance.SetHandlers(
        [](const QString& path, std::function<void()> done) {
            std::cout << "file " << path.toStdString() << std::endl;
            done();
            return false;
        },
        [] {});
    QString error;
    if (!instance.Listen(socket, &error)) {
        std::cerr << error.toStdString() << "\n";
        return 1;
    }
    std::cout << "ready" << std::endl;
    return QCoreApplication::exec();
}

int Send(const QString& socket, const QString& file) {
    QString error;
    bool noServer = false;
    if (varnel::qt::SingleInstance::HandOver(socket, {file}, &error, &noServer, 5000)) return 0;
    std::cerr << error.toStdString() << "\n";
    return 1;
}

// The offscreen platform's notes about what it cannot do are noise.
void Quiet(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
    std::cerr << qPrintable(qFormatLogMessage(type, context, message)) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
#ifdef VARNEL_QPA_XCB
    if (!std::getenv("DISPLAY")) {
        std::cerr << "qt_wm_tests: no X server (run it under scripts/with-wm.sh)\n";
        return 1;
    }
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
#else
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
    varnel::test::TempDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    ::setenv("XDG_STATE_HOME", (runtime.Path() / "state").c_str(), 1);
    if (argc == 3 && std::string(argv[1]) == "--serve") {
        QCoreApplication app(argc, argv);
        return Serve(QString::fromLocal8Bit(argv[2]));
    }
    if (argc == 4 && std::string(argv[1]) == "--send") {
        QCoreApplication app(argc, argv);
        return Send(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    qInstallMessageHandler(Quiet);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
