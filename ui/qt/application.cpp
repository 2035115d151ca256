#include "ui/qt/application.h"

#include <QApplication>

#include "platform/stop_request.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/history_window.h"

namespace varnel::qt {

Application::Application(NdisLibrary& library, Registry& registry) : m_dialog(library, registry, m_host) {
    m_host.SetWindow(&m_window);
    MainWindow::Commands commands;
    commands.selectAdapter = [this](int position) { m_dialog.SelectAdapter(position); };
    commands.catchAdapter = [this] { m_dialog.OnCatchAdapter(); };
    commands.closeAdapter = [this] { m_dialog.OnCloseAdapter(); };
    commands.download = [this] { m_dialog.OnDownload(); };
    commands.update = [this] {
        m_dialog.OnUpdate();
        // A stop request (SIGTERM, SIGHUP, Ctrl-C) the run waited for ends
        // the program now that the run has ended and is recorded.
        if (StopRequested()) QCoreApplication::exit(1);
    };
    commands.queryFirmware = [this] { m_dialog.OnQueryFirmwareVersion(); };
    commands.queryDriver = [this] { m_dialog.OnQueryDriverVersion(); };
    commands.history = [this] {
        HistoryWindow history(m_dialog.HistoryPath(), m_host.Owner());
        history.exec();
    };
    commands.restorePda = [this] {
        m_dialog.OnRestorePdaFromFile();
        if (StopRequested()) QCoreApplication::exit(1);  // as after an update
    };
    commands.restoreFirmware = [this] {
        m_dialog.OnRestoreFirmwareMenu();
        if (StopRequested()) QCoreApplication::exit(1);
    };
    commands.about = [this] {
        AboutDialog about(m_host.Owner());
        about.exec();
    };
    commands.dropFiles = [this](const std::vector<std::string>& paths) {
        for (const std::string& path : paths) AddFromOutside(path);
    };
    commands.closed = [] { QCoreApplication::quit(); };
    m_window.SetCommands(std::move(commands));
}

void Application::Start(const std::vector<std::string>& files) {
    m_dialog.OnInitDialog(files);
    m_window.show();
}

void Application::Serve(SingleInstance& instance) {
    instance.SetHandlers(
        [this](const QString& path, std::function<void()> done) {
            return AddFromOutside(path.toStdString(), std::move(done));
        },
        [this] { m_window.BringToFront(); });
}

bool Application::AddFromOutside(const std::string& path, std::function<void()> done) {
    return !m_dialog.OfferFile(path, std::move(done)) && m_dialog.Running();
}

}  // namespace varnel::qt
