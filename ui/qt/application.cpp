#include "ui/qt/application.h"

#include <QApplication>

#include "platform/stop_request.h"
#include "ui/qt/dialogs.h"

namespace varnel::qt {

Application::Application(NdisLibrary& library, Registry& registry) : m_dialog(library, registry, m_host) {
    m_host.SetWindow(&m_window);
    m_host.SetIdleCallback([this] { Drain(); });
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
    m_dialog.m_strTitle = "Varnel";
    m_dialog.OnInitDialog(files);
    m_window.show();
}

void Application::Serve(SingleInstance& instance) {
    instance.SetHandlers(
        [this](const QString& path, std::function<void()> done) { AddFromOutside(path.toStdString(), std::move(done)); },
        [this] { m_window.BringToFront(); });
}

void Application::AddFromOutside(const std::string& path, std::function<void()> done) {
    m_pending.push_back({path, std::move(done)});
    Drain();
}

void Application::Drain() {
    // Never while the card is programmed, and never inside another AddFile
    // (its "taken over" clearing would drop the nested file).
    while (!m_host.Busy() && !m_adding && !m_pending.empty()) {
        Handed next = std::move(m_pending.front());
        m_pending.pop_front();
        m_adding = true;
        m_dialog.AddFile(next.path);
        m_adding = false;
        if (next.done) next.done();
    }
}

}  // namespace varnel::qt
