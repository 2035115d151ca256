#pragma once
// The main window: dialog template 102 (varnel.rc), the controls of
// ui/main_window_layout. It shows a DialogView and passes every command
// on; it decides nothing.

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "ui/main_window_commands.h"

namespace varnel::win32ui {

class MainWindow {
public:
    struct Commands : MainWindowCommands {
        // A file from another start (WM_COPYDATA) or a drop, as the user gave it.
        std::function<void(const std::string&)> fileFromOutside;
        // The loop is idle after the work: a wait window kept up closes.
        std::function<void()> finishWait;
    };

    MainWindow() = default;
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Registers the window class a second start looks for (once a process).
    static void RegisterWindowClass();
    // Makes the window from its template, hidden.
    bool Create(Commands commands);
    HWND Handle() const { return m_window; }

    void Show(const DialogView& view);
    // Around long work: the controls and the menu are disabled, never the
    // window itself (a dialog that ends re-enables its owner).
    void SetWorking(bool visible, bool enabled);
    void SetCursorShape(Cursor cursor);
    void BringToFront();

private:
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Init();
    void Command(int id, int code);
    // Delete in the file list, or its context menu's "Remove File".
    void RemoveSelectedFile();

    Commands m_commands;
    HWND m_window = nullptr;
    HWND m_tooltip = nullptr;
    HIMAGELIST m_types = nullptr;
    HICON m_icon = nullptr;
    HICON m_smallIcon = nullptr;
    Cursor m_cursor = Cursor::Arrow;
    bool m_updateWanted = false;
    bool m_working = false;
    bool m_hiddenForWork = false;
    std::vector<HWND> m_disabled;  // the controls disabled for the work
    HWND m_focusBeforeWork = nullptr;
    std::string m_tipText;
    std::vector<DialogView::File> m_files;
};

}  // namespace varnel::win32ui
