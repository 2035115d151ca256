#include "ui/qt/application.h"

#include <QApplication>

#include "ui/main_window_commands.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/history_window.h"

namespace varnel::qt {

Application::Application(NdisLibrary& library, Registry& registry) : m_dialog(library, registry, m_host) {
    m_host.SetWindow(&m_window);
    MainWindow::Commands commands;
    static_cast<MainWindowCommands&>(commands) = DialogCommands(m_dialog, [] { QCoreApplication::exit(1); });
    commands.history = [this] {
        HistoryWindow history(m_dialog.HistoryPath(), m_host.Owner());
        history.exec();
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
