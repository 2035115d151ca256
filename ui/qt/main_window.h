#pragma once
// The main window: the adapter list and its "Opened: " line in one place,
// the status line, the file list, "Download..." and "Update!", the card
// fields and the version line, laid out in dialog units of its font. It
// shows a DialogView and passes every command on; it decides nothing.

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "ui/main_window_commands.h"

class QListWidget;
class QLineEdit;
class QPushButton;
class QTextEdit;
class QTreeWidget;

namespace varnel::qt {

class MainWindow : public QMainWindow {
public:
    // What the window's commands do.
    struct Commands : MainWindowCommands {
        std::function<void(const std::vector<std::string>&)> dropFiles;
    };

    MainWindow();

    void SetCommands(Commands commands) { m_commands = std::move(commands); }
    // The controls take the view's values.
    void Show(const DialogView& view);
    // Around long work: the controls and the menu are disabled, never the
    // window itself, so that the dialogs it owns keep working.
    void SetWorking(bool visible, bool enabled);
    // Brings the window to the front (a second start does this).
    void BringToFront();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void Build();
    void BuildMenus();
    // Paints the window now, once the window system shows it.
    void DrawNow();

    Commands m_commands;
    QListWidget* m_adapters = nullptr;
    QLineEdit* m_opened = nullptr;
    QTextEdit* m_status = nullptr;
    QTreeWidget* m_files = nullptr;
    QPushButton* m_update = nullptr;
    QLineEdit* m_pdaMac = nullptr;
    QLineEdit* m_ndisMac = nullptr;
    QLineEdit* m_pdaSerial = nullptr;
    QLineEdit* m_version = nullptr;
    std::array<QIcon, 5> m_typeIcons;
    QPoint m_shownAt;
    QPointer<QWidget> m_focusBeforeWork;
    bool m_hiddenForWork = false;
};

}  // namespace varnel::qt
