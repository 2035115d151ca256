#include "ui/qt/application.h"

#include <QApplication>
#include <QScreen>
#include <vector>

#include "ui/main_window_commands.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/history_window.h"
#include "ui/window_place.h"

namespace varnel::qt {

Application::Application(NdisLibrary& library, Registry& registry)
    : m_dialog(library, registry, m_host), m_placeFile(DefaultWindowPlaceFile()) {
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
    commands.closed = [this] {
        RememberPlace();
        QCoreApplication::quit();
    };
    m_window.SetCommands(std::move(commands));
}

void Application::Start(const std::vector<std::string>& files) {
    m_dialog.OnInitDialog(files);
    PlaceWindow();
    m_window.show();
}

void Application::PlaceWindow() {
    // The screens' work areas, the primary one first.
    std::vector<ScreenArea> screens;
    QList<QScreen*> all = QGuiApplication::screens();
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        all.removeAll(primary);
        all.prepend(primary);
    }
    for (const QScreen* screen : all) {
        const QRect area = screen->availableGeometry();
        screens.push_back({area.left(), area.top(), area.left() + area.width(), area.top() + area.height()});
    }
    const QSize size = m_window.frameGeometry().size();
    if (const auto place = ChooseWindowPlace(LoadWindowPlace(m_placeFile), size.width(), size.height(), screens))
        m_window.move(place->x, place->y);
}

void Application::RememberPlace() {
    if (!m_window.isVisible() || m_window.isMinimized()) return;
    // A place that cannot be kept costs only the next start's centring.
    (void)SaveWindowPlace(m_placeFile, WindowPlace{m_window.pos().x(), m_window.pos().y()});
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
