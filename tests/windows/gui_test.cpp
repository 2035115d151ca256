// varnel.exe's windows driven in-process under wine: the same objects and
// templates as the program, driven by control id (BM_CLICK, list box and
// list view messages, the dialog manager's own keys), the modal windows
// answered from a script by a thread timer that runs inside their loops.
// A window nobody expected fails the check and gets its safe answer; a
// watchdog ends the program if anything hangs.
//
//   varnel-gui-test contract MACHINE_DIR
//   varnel-gui-test ways-out MACHINE_DIR
//   varnel-gui-test logoff MACHINE_DIR
//   varnel-gui-test restore-pda|history-fits|place|no-adapters MACHINE_DIR
//   varnel-gui-test update OUT_DIR FILE...       (through ZRW32N50.dll)
//   varnel-gui-test handover MACHINE_DIR VARNEL_EXE FILE...
//   varnel-gui-test screenshots MACHINE_DIR OUT_DIR FILE...   (under X: the
//       main window, the warning, the summary and the wait window as PNG)

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>
#include <wincodec.h>

#include <atomic>
#include <cstdlib>
#include <cctype>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/stop_request.h"
#include "sample/default_machine.h"
#include "sim/sim_machine.h"
#include "sim/machine_config.h"
#include "ui/main_window_layout.h"
#include "ui/window_place.h"
#include "ui/varnel_dlg.h"
#include "ui/win32/application.h"
#include "ui/win32/resource.h"
#include "ui/win32/ansi_text.h"
#include "backend_win32/backend.h"

namespace {

using namespace varnel;
using varnel::win32ui::Application;
using varnel::win32ui::Narrow;

// The summary's specified size in dialog units (IDD_INFO in varnel.rc).
constexpr int kSummaryWidth = 280, kSummaryHeight = 190;

int g_failed = 0;
int g_notes = 0;  // things a check's script saw go wrong
int g_passed = 0;
std::atomic<const char*> g_step{"start"};

void Check(bool ok, const std::string& what) {
    if (ok) ++g_passed;
    else ++g_failed;
    std::printf("%s - %s\n", ok ? "ok" : "not ok", what.c_str());
    std::fflush(stdout);
}

void Note(const std::string& text) {
    ++g_notes;
    std::printf("  %s\n", text.c_str());
    std::fflush(stdout);
}

std::string Text(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Narrow(text, CP_UTF8);
}

std::string ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return Narrow(name, CP_UTF8);
}

// Takes messages for `ms` milliseconds (or until `done`), as a modal loop would.
void Spin(int ms, const std::function<bool()>& done = {}) {
    const ULONGLONG until = ::GetTickCount64() + static_cast<ULONGLONG>(ms);
    while (::GetTickCount64() < until) {
        if (done && done()) return;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::Sleep(5);
    }
}

// Clicks a control the user could click: visible and enabled only.
bool Click(HWND dialog, int id) {
    HWND button = ::GetDlgItem(dialog, id);
    if (!button || !::IsWindowVisible(button) || !::IsWindowEnabled(button)) {
        Note("cannot click " + std::to_string(id) + " in " + Text(dialog));
        return false;
    }
    ::SendMessageW(button, BM_CLICK, 0, 0);
    return true;
}

// A key as the modal loop hands it to the dialog manager.
void Key(HWND dialog, WPARAM key) {
    MSG message{};
    message.hwnd = ::GetFocus();
    message.message = WM_KEYDOWN;
    message.wParam = key;
    if (!::IsDialogMessageW(dialog, &message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// The control holding a message box's text: its static that is not the
// icon, or the read-only field of a box with long lines.
HWND BoxTextControl(HWND box) {
    HWND found = nullptr;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if ((ClassOf(child) == "Edit" ||
             (ClassOf(child) == "Static" && !(::GetWindowLongW(child, GWL_STYLE) & SS_ICON))) &&
            !Text(child).empty())
            found = child;
    return found;
}

std::string BoxText(HWND box) {
    HWND control = BoxTextControl(box);
    return control ? Text(control) : std::string();
}

// Each line of a box's text fits its control's width in the control's
// font: nothing is wrapped (a path stays whole on its line). Empty when
// all fit, else the lines that do not.
std::string LinesWhole(HWND box) {
    HWND control = BoxTextControl(box);
    if (!control) return " no text";
    RECT room;
    ::GetClientRect(control, &room);
    HDC dc = ::GetDC(control);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    std::string problems;
    std::wstringstream lines(win32ui::Widen(Text(control), CP_UTF8));
    for (std::wstring line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        SIZE size{};
        ::GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
        if (size.cx > room.right)
            problems += " \"" + Narrow(line, CP_UTF8) + "\" needs " + std::to_string(size.cx) + " px, has " +
                        std::to_string(room.right) + ";";
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    return problems;
}

// Every text of a window's labels and buttons fits its control in the
// control's font: a button's on one line, a label's wrapped to its width.
// Empty when all fit, else what does not.
std::string TextsFit(HWND window) {
    std::string problems;
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const std::string cls = ClassOf(child);
        const LONG style = ::GetWindowLongW(child, GWL_STYLE);
        const bool button = cls == "Button" && (style & 0x0F) != BS_GROUPBOX;
        const bool label = cls == "Static" && (style & SS_TYPEMASK) != SS_ICON && !(style & SS_ENDELLIPSIS);
        const std::wstring text = win32ui::Widen(Text(child), CP_UTF8);
        if ((!button && !label) || text.empty() || !::IsWindowVisible(child)) continue;
        RECT room;
        ::GetClientRect(child, &room);
        HDC dc = ::GetDC(child);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)));
        RECT need = room;
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need,
                    DT_CALCRECT | (button ? DT_SINGLELINE : DT_WORDBREAK));
        ::SelectObject(dc, old);
        ::ReleaseDC(child, dc);
        const int margin = button ? 4 : 0;
        if (need.right - need.left > room.right - margin || need.bottom - need.top > room.bottom)
            problems += " \"" + Text(child) + "\" needs " + std::to_string(need.right - need.left) + "x" +
                        std::to_string(need.bottom - need.top) + ", has " + std::to_string(room.right) + "x" +
                        std::to_string(room.bottom) + ";";
    }
    return problems;
}

// A window shown and drawn: nothing of it or its shown controls waits to
// be painted.
bool Drawn(HWND window) {
    if (!::IsWindowVisible(window) || ::GetUpdateRect(window, nullptr, FALSE)) return false;
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if (::IsWindowVisible(child) && !Drawn(child)) return false;
    return true;
}

// Whether a window's middle lies over another window.
bool Over(HWND window, HWND owner) {
    RECT rect, under;
    ::GetWindowRect(window, &rect);
    ::GetWindowRect(owner, &under);
    const POINT middle{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    return ::PtInRect(&under, middle) != FALSE;
}

std::string Place(HWND window) {
    RECT rect;
    ::GetWindowRect(window, &rect);
    return "(" + std::to_string(rect.left) + "," + std::to_string(rect.top) + ")-(" + std::to_string(rect.right) + "," +
           std::to_string(rect.bottom) + ")";
}

// Watches the windows around the work: at every change some window of the
// program is up and drawn (the main window or the wait window), and one
// wait window stays up from the first image to the last.
struct RunWatch {
    std::string gaps;
    std::set<HWND> imageWaits;
    int changes = 0;
    void Attach(win32ui::Win32Host& host, HWND main) {
        host.SetStateObserver([this, &host, main](const char* what) {
            ++changes;
            HWND wait = host.Wait() ? host.Wait()->Handle() : nullptr;
            const bool mainUp = Drawn(main), waitUp = wait && Drawn(wait);
            if (!mainUp && !waitUp)
                gaps += std::string(" after \"") + what + "\": main window " +
                        (::IsWindowVisible(main) ? "shown, not drawn" : "hidden") + ", wait window " +
                        (!wait                     ? "none"
                         : ::IsWindowVisible(wait) ? "shown, not drawn"
                                                   : "hidden") +
                        ";";
            if (wait && ::IsWindowVisible(wait) && Text(::GetDlgItem(wait, IDC_WAIT_DETAIL)).rfind("Image ", 0) == 0)
                imageWaits.insert(wait);
        });
    }
};

// Each button's text has the room the dialogs give it: 4 dialog units
// each side. Empty when all have, else which do not.
std::string ButtonMargins(HWND window) {
    std::string problems;
    RECT units{4, 0, 0, 0};
    ::MapDialogRect(window, &units);
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = ::GetWindowLongW(child, GWL_STYLE);
        if (ClassOf(child) != "Button" || ((style & 0x0F) != BS_PUSHBUTTON && (style & 0x0F) != BS_DEFPUSHBUTTON))
            continue;
        const std::wstring text = win32ui::Widen(Text(child), CP_UTF8);
        RECT room;
        ::GetClientRect(child, &room);
        HDC dc = ::GetDC(child);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)));
        SIZE size{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        ::SelectObject(dc, old);
        ::ReleaseDC(child, dc);
        if (size.cx + 2 * units.left > room.right)
            problems += " \"" + Text(child) + "\" " + std::to_string(size.cx) + " px wide in a " +
                        std::to_string(room.right) + " px button (margins " + std::to_string(units.left) + " px);";
    }
    return problems;
}

// Answers the modal windows in order, each by its caption.
class Answerer {
public:
    using Action = std::function<void(HWND)>;
    struct Step {
        std::string caption;
        Action action;
    };

    explicit Answerer(std::deque<Step> steps) : m_steps(std::move(steps)) {
        s_current = this;
        m_timer = ::SetTimer(nullptr, 0, 20, Tick);
    }
    ~Answerer() {
        ::KillTimer(nullptr, m_timer);
        s_current = nullptr;
    }
    bool Done() const { return m_steps.empty() && m_unexpected.empty(); }
    std::string Report() const {
        std::string seen;
        for (const std::string& s : m_seen) seen += (seen.empty() ? "" : ", ") + s;
        return "seen: " + seen + (m_unexpected.empty() ? "" : "; unexpected: " + m_unexpected) +
               (m_steps.empty() ? "" : "; never came: " + m_steps.front().caption);
    }
    HWND Main = nullptr;

    static Action Press(int id) {
        return [id](HWND w) { Click(w, id); };
    }

private:
    static BOOL CALLBACK Find(HWND window, LPARAM found) {
        auto* self = s_current;
        // Dialogs and message boxes; the frameless wait window is none.
        if (window == self->Main || !::IsWindowVisible(window) || !::IsWindowEnabled(window) ||
            ClassOf(window) != "#32770" || (::GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) != WS_CAPTION)
            return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        Answerer* self = s_current;
        if (!self || self->m_busy) return;
        HWND modal = nullptr;
        ::EnumThreadWindows(::GetCurrentThreadId(), Find, reinterpret_cast<LPARAM>(&modal));
        if (!modal || modal == self->m_last) return;
        self->m_busy = true;
        self->m_last = modal;
        const std::string caption = Text(modal);
        self->m_seen.push_back(caption);
        if (!self->m_steps.empty() && self->m_steps.front().caption == caption) {
            Action action = std::move(self->m_steps.front().action);
            self->m_steps.pop_front();
            action(modal);
        } else {
            self->m_unexpected += caption + " (" + BoxText(modal) + ") ";
            // The safe answer: Cancel, No, else the only button.
            if (::GetDlgItem(modal, IDCANCEL)) ::SendMessageW(modal, WM_COMMAND, IDCANCEL, 0);
            else if (::GetDlgItem(modal, IDNO)) ::SendMessageW(modal, WM_COMMAND, IDNO, 0);
            else ::SendMessageW(modal, WM_COMMAND, IDOK, 0);
        }
        self->m_busy = false;
    }

    static inline Answerer* s_current = nullptr;
    std::deque<Step> m_steps;
    std::vector<std::string> m_seen;
    std::string m_unexpected;
    UINT_PTR m_timer = 0;
    HWND m_last = nullptr;
    bool m_busy = false;
};

// A thread of Win32's own: the programs are built without a threads library.
DWORD WINAPI WatchdogThread(void* arg) {
    const int seconds = static_cast<int>(reinterpret_cast<INT_PTR>(arg));
    ::Sleep(static_cast<DWORD>(seconds) * 1000);
    std::printf("not ok - watchdog: hung in %s after %d s\n", g_step.load(), seconds);
    std::fflush(stdout);
    ::ExitProcess(3);
}

void Watchdog(int seconds) {
    HANDLE thread =
        ::CreateThread(nullptr, 0, WatchdogThread, reinterpret_cast<void*>(static_cast<INT_PTR>(seconds)), 0, nullptr);
    if (thread) ::CloseHandle(thread);
}

// Every file of the machine's cards, for "nothing was written".
std::map<std::string, std::string> Snapshot(const std::filesystem::path& machine) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(machine / "cards"))
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            files[entry.path().string()] = bytes.str();
        }
    return files;
}

// The machine, the window and the dialog logic of one check.
// The window's place is kept beside the machine: every check starts as a
// first start does.
struct Program {
    explicit Program(const std::filesystem::path& dir, const std::function<void(sim::MachineConfig&)>& change = {})
        : machine(Prepare(dir, change)), app(*machine, *machine) {
        app.SetWindowPlaceFile((dir / "window-place").string());
    }
    static std::unique_ptr<sim::SimMachine> Prepare(const std::filesystem::path& dir,
                                                    const std::function<void(sim::MachineConfig&)>& change) {
        if (const Result<> ensured = sample::EnsureDefaultMachine(dir); !ensured)
            throw std::runtime_error(ensured.Reason());
        if (change) {
            std::ifstream in(dir / "machine.json", std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            in.close();
            Result<sim::MachineConfig> config = sim::ParseMachineConfig(text.str());
            if (!config) throw std::runtime_error(config.Reason());
            change(*config);
            std::ofstream(dir / "machine.json", std::ios::binary | std::ios::trunc)
                << sim::FormatMachineConfig(*config);
        }
        Result<std::unique_ptr<sim::SimMachine>> machine = sim::SimMachine::Open(dir);
        if (!machine) throw std::runtime_error(machine.Reason());
        return std::move(*machine);
    }
    std::unique_ptr<sim::SimMachine> machine;
    Application app;
};

// The sample release (VARNEL_RELEASE, a Windows path).
std::filesystem::path Release() {
    const char* release = std::getenv("VARNEL_RELEASE");
    return release ? std::filesystem::path(release) : std::filesystem::path("release");
}

// What a screen reader reads for a control, the name Active Accessibility
// gives it: a button's, a frame's or a label's own text (a trailing colon
// aside); for a control without one (edit boxes, lists) the label before it
// in the tab order, the nearest static text before it, the search ending
// at a control that starts a tab group.
std::string ScreenReaderName(HWND control) {
    const auto plain = [](std::string text) {
        std::erase(text, '&');
        if (!text.empty() && text.back() == ':') text.pop_back();
        return text;
    };
    const std::string cls = ClassOf(control);
    if (cls == "Button" || cls == "Static") return plain(Text(control));
    for (HWND w = ::GetWindow(control, GW_HWNDPREV); w; w = ::GetWindow(w, GW_HWNDPREV)) {
        const LONG style = ::GetWindowLongW(w, GWL_STYLE);
        if (ClassOf(w) == "Static" && (style & SS_TYPEMASK) != SS_ICON) return plain(Text(w));
        if ((style & (WS_GROUP | WS_TABSTOP)) == (WS_GROUP | WS_TABSTOP)) break;
    }
    return "";
}

// The folder an open dialog shows (the program's dialogs are ANSI ones).
std::string FolderOf(HWND dialog) {
    char path[MAX_PATH] = {};
    ::SendMessageA(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(path));
    return Narrow(win32ui::Widen(path, CP_ACP), CP_UTF8);
}

// The invisible labels that name controls for screen readers: no control of
// the table.
bool NameLabel(HWND child) {
    return ClassOf(child) == "Static" && !(::GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) &&
           (::GetDlgCtrlID(child) & 0xFFFF) == (IDC_STATIC & 0xFFFF);
}

std::string ControlClass(ControlKind kind) {
    switch (kind) {
    case ControlKind::GroupBox:
    case ControlKind::Button:
    case ControlKind::CheckBox: return "Button";
    case ControlKind::Label: return "Static";
    case ControlKind::ListBox: return "ListBox";
    case ControlKind::ReadOnlyEdit:
    case ControlKind::StatusEdit: return "Edit";
    case ControlKind::FileList: return "SysListView32";
    }
    return "";
}

// Update History fits the work area, borders and all, its texts whole.
void HistoryFits(HWND main) {
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    std::string fits = "not shown";
    Answerer history({{"Update History", [&](HWND w) {
                           RECT rect;
                           ::GetWindowRect(w, &rect);
                           fits = rect.left >= area.left && rect.top >= area.top && rect.right <= area.right &&
                                          rect.bottom <= area.bottom
                                      ? ""
                                      : " " + Place(w) + " in a work area of (" + std::to_string(area.left) + "," +
                                            std::to_string(area.top) + ")-(" + std::to_string(area.right) + "," +
                                            std::to_string(area.bottom) + ")";
                           fits += TextsFit(w);
                           Key(w, VK_ESCAPE);
                       }}});
    history.Main = main;
    ::SendMessageW(main, WM_COMMAND, ID_HISTORY, 0);
    Check(history.Done() && fits.empty(), "Update History fits the screen:" + fits + " " + history.Report());
}

// The main window against the control table that the Qt window is built
// from: ids, classes, texts, places in dialog units, what shows; every
// fixed text fits its control in the dialog font.
void Contract(const std::filesystem::path& dir) {
    g_step = "contract";
    // The release folder the registry names: the Firmware folder under the
    // program's path.
    const std::filesystem::path program = dir / "program";
    Program p(dir, [&](sim::MachineConfig& config) {
        std::filesystem::create_directories(program / "Firmware");
        config.registry["HKEY_CURRENT_USER\\Software\\Varnel"]["Path"] = program.string();
    });
    Check(p.app.Start({}), "the main window is made from its template");
    HWND main = p.app.Window().Handle();
    Spin(200, [&] { return ::IsWindowVisible(main) != FALSE; });
    Check(::IsWindowVisible(main), "the main window shows");
    Check(Text(main) == "Varnel" && ClassOf(main) == VARNEL_MAIN_CLASS, "titled Varnel, of the program's own class");
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    {
        RECT rect;
        ::GetWindowRect(main, &rect);
        const int dx = (rect.left + rect.right) / 2 - (area.left + area.right) / 2;
        const int dy = (rect.top + rect.bottom) / 2 - (area.top + area.bottom) / 2;
        Check(std::abs(dx) <= 1 && std::abs(dy) <= 1, "first shown in the middle of the work area: " + Place(main));
    }
    // The manifest's common controls 6 come from the side-by-side store; a
    // manifest naming another processor than the program's gets the system
    // folder's old ones instead, without a word.
    wchar_t controls[MAX_PATH] = L"";
    ::GetModuleFileNameW(::GetModuleHandleW(L"comctl32.dll"), controls, MAX_PATH);
    std::string controlsPath = Narrow(controls, CP_UTF8);
    for (char& c : controlsPath) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Check(controlsPath.find("\\winsxs\\") != std::string::npos &&
              controlsPath.find("common-controls") != std::string::npos,
          "the windows have the manifest's common controls 6 (" + Narrow(controls, CP_UTF8) + ")");

    std::vector<HWND> children;
    for (HWND child = ::GetWindow(main, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if (!NameLabel(child)) children.push_back(child);
    const auto table = MainWindowControls();
    Check(children.size() == table.size(),
          "as many controls as the table has rows (" + std::to_string(children.size()) + ")");
    const bool selected = p.app.Dialog().View().openedVisible;
    HDC dc = ::GetDC(main);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(main, WM_GETFONT, 0, 0)));
    std::string wrong;
    for (size_t i = 0; i < std::min(children.size(), table.size()); ++i) {
        const ControlLayout& row = table[i];
        HWND c = children[i];
        // The dialog manager maps the place and the size each on its own.
        RECT want{row.x, row.y, row.width, row.height};
        ::MapDialogRect(main, &want);
        want.right += want.left;
        want.bottom += want.top;
        RECT have;
        ::GetWindowRect(c, &have);
        ::MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&have), 2);
        bool shown = true;
        switch (row.shown) {
        case Shown::Always: shown = true; break;
        case Shown::Never: shown = false; break;
        case Shown::WithAdapter: shown = selected; break;
        case Shown::WithoutAdapter: shown = !selected; break;
        }
        const LONG style = ::GetWindowLongW(c, GWL_STYLE);
        std::string problem;
        if ((::GetDlgCtrlID(c) & 0xFFFF) != (row.id & 0xFFFF)) problem += " id " + std::to_string(::GetDlgCtrlID(c));
        if (ClassOf(c) != ControlClass(row.kind)) problem += " class " + ClassOf(c);
        if (row.kind == ControlKind::GroupBox && (style & 0x0F) != BS_GROUPBOX) problem += " not a group box";
        if (row.kind == ControlKind::CheckBox && (style & 0x0F) != BS_AUTOCHECKBOX) problem += " not a check box";
        if ((row.kind == ControlKind::ReadOnlyEdit || row.kind == ControlKind::StatusEdit) && !(style & ES_READONLY))
            problem += " not read-only";
        if (Text(c) != row.text && row.kind != ControlKind::ReadOnlyEdit && row.kind != ControlKind::StatusEdit)
            problem += " text \"" + Text(c) + "\"";
        // A label may be as much wider as its text needs.
        SIZE textSize{};
        const std::wstring fixedText = win32ui::Widen(win32ui::Display(row.text), CP_ACP);
        ::GetTextExtentPoint32W(dc, fixedText.c_str(), static_cast<int>(fixedText.size()), &textSize);
        if (row.kind == ControlKind::Label && textSize.cx > want.right - want.left)
            want.right = want.left + textSize.cx;
        if (!::EqualRect(&want, &have)) problem += " place";
        if ((::IsWindowVisible(c) != FALSE) != shown) problem += shown ? " hidden" : " shown";
        // The text fits: labels and buttons on one line, check boxes after their box.
        if (*row.text && row.kind != ControlKind::GroupBox) {
            const std::wstring text = win32ui::Widen(win32ui::Display(row.text), CP_ACP);
            SIZE size{};
            ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            const int room = (have.right - have.left) - (row.kind == ControlKind::CheckBox ? 16
                                                         : row.kind == ControlKind::Button ? 4
                                                                                           : 0);
            if (size.cx > room)
                problem +=
                    " text wider than its control (" + std::to_string(size.cx) + " > " + std::to_string(room) + ")";
        }
        if (!problem.empty()) wrong += std::string(" ") + row.name + ":" + problem + ";";
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(main, dc);
    Check(wrong.empty(), "every control as the table says, its text fitting" + wrong);

    // A screen reader reads each control's name as the Qt window gives it:
    // its own text, its label's, or its frame's title.
    {
        std::string unnamed;
        for (const ControlLayout& row : table) {
            if (row.kind == ControlKind::GroupBox && !*row.text) continue;  // a frame without a title, never focused
            HWND c = row.id == kIdcStatic ? nullptr : ::GetDlgItem(main, row.id);
            if (!c) {
                for (size_t i = 0; i < std::min(children.size(), table.size()); ++i)
                    if (&table[i] == &row) c = children[i];
            }
            const std::string want = ControlAccessibleText(row).name, have = ScreenReaderName(c);
            if (have != want) unnamed += std::string(" ") + row.name + " \"" + have + "\" (not \"" + want + "\");";
        }
        Check(
            unnamed.empty(),
            "every control has its name for screen readers, by the label before it where it shows no text of its own" +
                unnamed);
    }

    RECT client;
    ::GetClientRect(main, &client);
    RECT size{0, 0, kMainWindowWidth, kMainWindowHeight};
    ::MapDialogRect(main, &size);
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    Check(client.right == size.right && client.bottom == size.bottom,
          "the client area is 248 x 220 dialog units (" + std::to_string(client.right) + " x " +
              std::to_string(client.bottom) + " pixels at " + std::to_string(dpi) + " DPI)");

    // Tooltips for the controls that have a text (asked when shown).
    int tipControls = 0;
    for (const ControlLayout& row : table)
        if (row.id != kIdcStatic && !CVarnelDlg::ToolTipText(row.id).empty()) ++tipControls;
    HWND tip = nullptr;
    for (HWND w = nullptr; (w = ::FindWindowExW(nullptr, w, TOOLTIPS_CLASSW, nullptr));)
        if (::GetWindow(w, GW_OWNER) == main) tip = w;
    const int tools = tip ? static_cast<int>(::SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0)) : -1;
    Check(tools == tipControls, "a tooltip for each of the " + std::to_string(tipControls) + " controls with a text (" +
                                    std::to_string(tools) + ")");

    // The menu: the Tools entries of the Qt window, and About.
    HMENU menu = ::GetMenu(main);
    std::string items;
    for (int top = 0; top < ::GetMenuItemCount(menu); ++top) {
        wchar_t name[64] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(top), name, 64, MF_BYPOSITION);
        items += Narrow(name, CP_UTF8) + ":";
        HMENU sub = ::GetSubMenu(menu, top);
        for (int i = 0; i < ::GetMenuItemCount(sub); ++i)
            items += (::GetMenuState(sub, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR)
                         ? std::string(" -")
                         : " " + std::to_string(static_cast<int>(::GetMenuItemID(sub, i)));
        items += ";";
    }
    Check(items == "&Tools: 1046 32780 - 32790 32791 32792;&Help: 32784;", "menu 138: " + items);

    // The default machine: the WLAN card is opened at start.
    const DialogView view = p.app.Dialog().View();
    Check(Text(::GetDlgItem(main, IDC_OPENED)) == view.opened && view.opened.rfind("Opened: ", 0) == 0,
          "the Opened line names the card: " + view.opened);
    Check(Text(::GetDlgItem(main, IDC_PDA_MAC)) == view.pdaMac && !view.pdaMac.empty(),
          "the PDA's MAC address: " + view.pdaMac);
    Check(Text(::GetDlgItem(main, IDC_VERSION)) == CVarnelDlg::VersionLine(),
          "the version line: " + CVarnelDlg::VersionLine());
    Check(::IsWindowEnabled(::GetDlgItem(main, IDC_UPDATE)) != FALSE, "Update! is enabled with a card selected");
    {
        // The status box can be read and copied, but shows no caret.
        HWND status = ::GetDlgItem(main, IDC_STATUS);
        ::SendMessageW(main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(status), TRUE);
        Spin(50);
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        ::GetGUIThreadInfo(::GetCurrentThreadId(), &info);
        Check(::GetFocus() == status && !(info.hwndCaret == status && (info.flags & GUI_CARETBLINKING)),
              "the read-only status box takes the focus without a caret (" +
                  std::to_string(reinterpret_cast<intptr_t>(info.hwndCaret)) + " " +
                  std::to_string(reinterpret_cast<intptr_t>(status)) + " " + std::to_string(info.flags) + ")");
        ::SendMessageW(main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(main, IDC_CATCH_ADAPTER)), TRUE);
    }

    // "To Catch Specified Adapter": the list is back, nothing opened; picking
    // the card's entry opens it.
    Click(main, IDC_CATCH_ADAPTER);
    HWND list = ::GetDlgItem(main, IDC_ADAPTER_LIST);
    Check(::IsWindowVisible(list) && !::IsWindowVisible(::GetDlgItem(main, IDC_OPENED)) &&
              !::IsWindowEnabled(::GetDlgItem(main, IDC_UPDATE)) && Text(::GetDlgItem(main, IDC_PDA_MAC)).empty(),
          "after To Catch Specified Adapter: the list, no card, Update! disabled");
    ::SendMessageW(list, LB_SETCURSEL, 0, 0);
    ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_ADAPTER_LIST, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    Check(!::IsWindowVisible(list) && ::IsWindowEnabled(::GetDlgItem(main, IDC_UPDATE)),
          "choosing the entry opens the card");

    // Files join the list view with their type icons.
    const std::filesystem::path release = Release();
    p.app.AddFromOutside((release / "station.hex").string());
    p.app.AddFromOutside((release / "changes.pda").string());
    HWND files = ::GetDlgItem(main, IDC_FILE_LIST);
    std::string rows;
    for (int i = 0; i < ListView_GetItemCount(files); ++i) {
        wchar_t text[260] = {}, path[260] = {};
        ListView_GetItemText(files, i, 0, text, 260);
        ListView_GetItemText(files, i, 1, path, 260);
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        ListView_GetItem(files, &item);
        rows += std::to_string(item.iImage) + " " + Narrow(text, CP_UTF8) + " " +
                std::filesystem::path(path).filename().string() + "; ";
    }
    const auto& model = p.app.Dialog().View().files;
    Check(ListView_GetItemCount(files) == 2 && model.size() == 2 && rows.find("changes.pda") != std::string::npos &&
              rows.find("station.hex") != std::string::npos,
          "the file list view: " + rows);
    Check(ImageList_GetImageCount(ListView_GetImageList(files, LVSIL_SMALL)) == 5, "five 16-pixel type icons");

    // From here the main window is where a user might have put it, in the
    // work area's corner: every window opens over it, not in the middle of
    // the screen or at the pointer.
    ::SetWindowPos(main, nullptr, area.left, area.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    // A name that came with "?" where Windows had no character of the code
    // page for one (the narrow functions do that) is refused with a message,
    // never listed under that name.
    {
        std::string refusal;
        Answerer refused({{"Varnel", [&](HWND w) {
                               refusal = BoxText(w);
                               if (!Over(w, main))
                                   refusal += " (at " + Place(w) + ", not over the main window at " + Place(main) + ")";
                               Click(w, IDOK);
                           }}});
        refused.Main = main;
        p.app.AddFromOutside((release / "st?tion.hex").string());
        Check(refused.Done() && refusal.find("code page cannot hold") != std::string::npos &&
                  ListView_GetItemCount(files) == 2 && model.size() == 2,
              "a name the code page cannot hold is refused, not listed: " + refused.Report() + " " + refusal);
    }

    // Delete in the file list takes the selected file off it; the others stay.
    {
        int row = -1;
        for (int i = 0; i < ListView_GetItemCount(files); ++i) {
            wchar_t path[260] = {};
            ListView_GetItemText(files, i, 1, path, 260);
            if (std::filesystem::path(path).filename() == "changes.pda") row = i;
        }
        ::SendMessageW(main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(files), TRUE);
        ListView_SetItemState(files, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        Key(main, VK_DELETE);
        wchar_t left[260] = {};
        ListView_GetItemText(files, 0, 1, left, 260);
        const auto listed = p.app.Dialog().View().files;
        Check(row >= 0 && ListView_GetItemCount(files) == 1 && listed.size() == 1 &&
                  std::filesystem::path(left).filename() == "station.hex" &&
                  std::filesystem::path(listed[0].path).filename() == "station.hex",
              "Delete takes the selected file off the list, the other stays (" +
                  std::to_string(ListView_GetItemCount(files)) + " left: " + Narrow(left, CP_UTF8) + ", row " +
                  std::to_string(row) + ")");
        ::SendMessageW(main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(main, IDC_CATCH_ADAPTER)), TRUE);
    }

    // A box without a caption of its own carries the program's name.
    {
        std::string placed;
        Answerer untitled({{"Varnel", [&](HWND w) {
                                if (!Over(w, main))
                                    placed = " at " + Place(w) + ", not over the main window at " + Place(main);
                                Click(w, IDOK);
                            }}});
        untitled.Main = main;
        p.app.Host().ShowMessage(
            {"The new firmware files will be taken over!!", "", MessageIcon::Warning, MessageButtons::Ok, true});
        Check(
            untitled.Done() && placed.empty(),
            "a box without a caption of its own is titled Varnel, over the main window: " + untitled.Report() + placed);
    }

    // About: its version field.
    Answerer about({{"About This Program", [main](HWND w) {
                         Check(Over(w, main), "About opens over the main window: " + Place(w));
                         Check(Text(::GetDlgItem(w, IDC_ABOUT_VERSION)) == CVarnelDlg::AboutVersionText(),
                               "About shows " + CVarnelDlg::AboutVersionText());
                         const std::string fit = TextsFit(w);
                         Check(fit.empty(), "About's texts fit" + fit);
                         Key(w, VK_RETURN);
                     }}});
    about.Main = main;
    ::SendMessageW(main, WM_COMMAND, ID_APP_ABOUT, 0);
    Check(about.Done(), "About opens and Enter closes it: " + about.Report());

    // "Download...": the system's open-file dialog, its filter the link
    // file's; the chosen link file's three files join the list.
    p.app.Dialog().ClearFiles();
    std::string filter, folder;
    Answerer open({{"Download", [&](HWND w) {
                        filter = Text(::GetDlgItem(w, 0x470));  // the file type combo box
                        folder = FolderOf(w);
                        ::SetDlgItemTextW(w, 0x47C, (Release() / "OEMRelease.oem").wstring().c_str());
                        ::SendMessageW(w, WM_COMMAND, IDOK, 0);
                    }}});
    open.Main = main;
    Click(main, IDC_DOWNLOAD);
    Check(open.Done() && filter == "Link File (*.oem)",
          "Download... asks for a Link File (*.oem): " + filter + " " + open.Report());
    Check(std::filesystem::path(folder) == program / "Firmware",
          "its open dialog, titled Download, starts in the release folder the registry names: " + folder);
    Check(ListView_GetItemCount(files) == 3,
          "the link file's three files are listed (" + std::to_string(ListView_GetItemCount(files)) + ")");
    Answerer cancelled({{"Download", [](HWND w) { ::SendMessageW(w, WM_COMMAND, IDCANCEL, 0); }}});
    cancelled.Main = main;
    Click(main, IDC_DOWNLOAD);
    Check(cancelled.Done() && ListView_GetItemCount(files) == 3,
          "Download... cancelled changes nothing: " + cancelled.Report());

    // The warning's and the summary's texts fit too.
    // The summary opens over the main window at its specified size, and the
    // user can make it larger, its text growing with it, never smaller.
    std::string warningFit = "not shown", summaryFit = "not shown", placed, resize = "not shown";
    Answerer dialogs(
        {{"Varnel",
          [&](HWND w) {
              warningFit = TextsFit(w) + ButtonMargins(w);
              if (!Over(w, main)) placed += " the warning at " + Place(w) + ";";
              Click(w, IDOK);
          }},
         {"Update Information", [&](HWND w) {
              summaryFit = TextsFit(w);
              summaryFit += ButtonMargins(w);
              if (ScreenReaderName(::GetDlgItem(w, IDC_SUMMARY)) != "Update Information")
                  summaryFit +=
                      " the summary's text is named \"" + ScreenReaderName(::GetDlgItem(w, IDC_SUMMARY)) + "\";";
              if (!Over(w, main)) placed += " the summary at " + Place(w) + ";";
              resize.clear();
              RECT box, first{0, 0, kSummaryWidth, kSummaryHeight};
              ::GetClientRect(w, &box);
              ::MapDialogRect(w, &first);
              if (box.right != first.right || box.bottom != first.bottom)
                  resize += " first size " + std::to_string(box.right) + "x" + std::to_string(box.bottom) + ", not " +
                            std::to_string(first.right) + "x" + std::to_string(first.bottom) + ";";
              if (!(::GetWindowLongW(w, GWL_STYLE) & WS_THICKFRAME)) resize += " no sizing border;";
              HWND edit = ::GetDlgItem(w, IDC_SUMMARY);
              RECT before, after, frame, cancel;
              ::GetWindowRect(edit, &before);
              ::GetWindowRect(w, &frame);
              ::SetWindowPos(w, nullptr, 0, 0, frame.right - frame.left + 160, frame.bottom - frame.top + 120,
                             SWP_NOMOVE | SWP_NOZORDER);
              ::GetWindowRect(edit, &after);
              if ((after.right - after.left) - (before.right - before.left) != 160 ||
                  (after.bottom - after.top) - (before.bottom - before.top) != 120)
                  resize += " made 160x120 larger, the text box grew " +
                            std::to_string((after.right - after.left) - (before.right - before.left)) + "x" +
                            std::to_string((after.bottom - after.top) - (before.bottom - before.top)) + ";";
              ::GetWindowRect(w, &frame);
              ::GetWindowRect(::GetDlgItem(w, IDCANCEL), &cancel);
              if (cancel.right <= after.right - 8 || cancel.bottom > frame.bottom || cancel.top < after.bottom)
                  resize += " CANCEL not at the bottom right;";
              ::SetWindowPos(w, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
              ::GetClientRect(w, &box);
              if (box.right < first.right || box.bottom < first.bottom) resize += " smaller than its first size;";
              Click(w, IDCANCEL);
          }}});
    dialogs.Main = main;
    Click(main, IDC_UPDATE);
    Check(dialogs.Done() && warningFit.empty(), "the warning's texts fit" + warningFit);
    Check(summaryFit.empty(), "the summary's buttons fit, its text named for screen readers" + summaryFit);
    Check(dialogs.Done() && placed.empty(), "the warning and the summary open over the main window:" + placed);
    Check(resize.empty(), "the summary opens at its size and grows with its window:" + resize);

    HistoryFits(main);
}

// Where the main window opens: in the middle of the work area on the first
// start, where the user last had it on the next, and in the middle again
// when that place is on no screen or the stored place is damaged.
void WindowPlaceCheck(const std::filesystem::path& dir) {
    g_step = "place";
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const auto centred = [&](HWND main) {
        RECT rect;
        ::GetWindowRect(main, &rect);
        return std::abs((rect.left + rect.right) / 2 - (area.left + area.right) / 2) <= 1 &&
               std::abs((rect.top + rect.bottom) / 2 - (area.top + area.bottom) / 2) <= 1;
    };
    const std::filesystem::path file = dir / "window-place";
    const WindowPlace moved{area.left + 40, area.top + 30};
    {
        Program p(dir);
        p.app.Start({});
        HWND main = p.app.Window().Handle();
        Check(centred(main), "first start: in the middle of the work area " + Place(main));
        ::SetWindowPos(main, nullptr, moved.x, moved.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(main, WM_CLOSE, 0, 0);
        Spin(50);
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        Check(p.app.Closed() && ParseWindowPlace(text.str()) == moved, "closing keeps the place: " + text.str());
    }
    {
        Program p(dir);
        p.app.Start({});
        RECT rect;
        ::GetWindowRect(p.app.Window().Handle(), &rect);
        Check(rect.left == moved.x && rect.top == moved.y,
              "the next start opens there: " + Place(p.app.Window().Handle()));
    }
    const struct {
        const char* name;
        std::string stored;
    } cases[] = {
        {"a place off every screen", std::to_string(area.right + 500) + " " + std::to_string(area.bottom + 500) + "\n"},
        {"a title bar above the screen", std::to_string(moved.x) + " " + std::to_string(area.top - 200) + "\n"},
        {"a damaged place", "40 x\n"},
    };
    for (const auto& c : cases) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.stored;
        Program p(dir);
        p.app.Start({});
        Check(centred(p.app.Window().Handle()),
              std::string(c.name) + " is not used: centred " + Place(p.app.Window().Handle()));
    }
}

// "<No adapters detected>" is never drawn selected, nor is anything else in
// the list: no pixel of the selection's colour, the list focused.
void NoAdapters(const std::filesystem::path& dir) {
    g_step = "no-adapters";
    Program p(dir, [](sim::MachineConfig& config) { config.adapters.clear(); });
    p.app.Start({});
    HWND main = p.app.Window().Handle();
    HWND list = ::GetDlgItem(main, IDC_ADAPTER_LIST);
    wchar_t entry[64] = {};
    ::SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(entry));
    Check(::SendMessageW(list, LB_GETCOUNT, 0, 0) == 1 && Narrow(entry, CP_UTF8) == CVarnelDlg::kNoAdapters,
          "the list holds " + Narrow(entry, CP_UTF8));
    ::SendMessageW(main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
    // Chosen: the status says why nothing opens, and it stays unselected.
    ::SendMessageW(list, LB_SETCURSEL, 0, 0);
    ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_ADAPTER_LIST, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    Spin(100);
    ::RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    Spin(100);
    RECT client;
    ::GetClientRect(list, &client);
    HDC dc = ::GetDC(list);
    const COLORREF band = ::GetSysColor(COLOR_HIGHLIGHT);
    int banded = 0;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < client.right; ++x)
            if (::GetPixel(dc, x, y) == band) ++banded;
    ::ReleaseDC(list, dc);
    Check(::SendMessageW(list, LB_GETCURSEL, 0, 0) == LB_ERR && banded == 0,
          "nothing in the list is selected or drawn in the selection's colour (" + std::to_string(banded) +
              " pixels; " + p.app.Dialog().Status() + ")");
}

// The ways out of an update that write nothing.
void WaysOut(const std::filesystem::path& dir) {
    g_step = "ways out";
    Program p(dir);
    p.app.Start({});
    HWND main = p.app.Window().Handle();
    const std::filesystem::path release = Release();
    p.app.AddFromOutside((release / "station.hex").string());
    const auto before = Snapshot(dir);

    const auto focusThenEnter = [](int id) {
        return [id](HWND w) {
            ::SendMessageW(w, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(w, id)), TRUE);
            const bool focused = ::GetFocus() == ::GetDlgItem(w, id);
            const bool isDefault = (::GetWindowLongW(::GetDlgItem(w, id), GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
            if (!focused || !isDefault) Note("the focused button is not the default one");
            Key(w, VK_RETURN);
        };
    };
    struct Case {
        const char* name;
        std::deque<Answerer::Step> steps;
    };
    const std::vector<Case> cases = {
        {"Cancel on the warning", {{"Varnel", Answerer::Press(IDCANCEL)}}},
        {"Esc on the warning", {{"Varnel", [](HWND w) { Key(w, VK_ESCAPE); }}}},
        {"Enter on a focused Cancel of the warning", {{"Varnel", focusThenEnter(IDCANCEL)}}},
        {"CANCEL on the summary",
         {{"Varnel", Answerer::Press(IDOK)}, {"Update Information", Answerer::Press(IDCANCEL)}}},
        {"Enter in the summary's text, then Esc",
         {{"Varnel", Answerer::Press(IDOK)},
          {"Update Information",
           [](HWND w) {
               ::SetFocus(::GetDlgItem(w, IDC_SUMMARY));
               Key(w, VK_RETURN);
               Spin(100);
               if (!::IsWindowVisible(w)) Note("Enter closed the summary");
               Key(w, VK_ESCAPE);
           }}}},
        {"Enter on a focused CANCEL of the summary",
         {{"Varnel", Answerer::Press(IDOK)}, {"Update Information", focusThenEnter(IDCANCEL)}}},
    };
    for (const Case& c : cases) {
        g_step = c.name;
        Answerer answerer(c.steps);
        answerer.Main = main;
        const int notes = g_notes;
        Click(main, IDC_UPDATE);
        Spin(50);
        const bool cancelled = p.app.Dialog().Report().outcome == "cancelled";
        Check(answerer.Done() && notes == g_notes && cancelled && Snapshot(dir) == before && ::IsWindowVisible(main) &&
                  ::IsWindowEnabled(::GetDlgItem(main, IDC_UPDATE)),
              std::string(c.name) + ": cancelled, nothing written, the window back (" + answerer.Report() + ")");
    }
}

// A logoff or shutdown while the card is written: the session is asked to
// wait, the run stops after its piece, says what the card holds, and the
// program ends once the run is recorded.
void Logoff(const std::filesystem::path& dir) {
    g_step = "logoff";
    Program p(dir);
    const std::filesystem::path release = Release();
    p.app.Start({(release / "station.hex").string()});
    HWND main = p.app.Window().Handle();
    LRESULT answered = -1;
    p.app.Host().SetProgressObserver([&](HWND bar) {
        // Once the image's programming is under way.
        const bool programming = Text(::GetDlgItem(::GetParent(bar), IDC_WAIT_DETAIL)).rfind("Image ", 0) == 0;
        const LRESULT low = ::SendMessageW(bar, PBM_GETRANGE, TRUE, 0),
                      high = ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
        if (answered == -1 && programming && ::SendMessageW(bar, PBM_GETPOS, 0, 0) >= (low + high) / 2)
            answered = ::SendMessageW(main, WM_QUERYENDSESSION, 0, 0);
    });
    std::string said;
    Answerer answerer({{"Varnel", Answerer::Press(IDOK)},
                       {"Update Information", Answerer::Press(IDOK)},
                       {"Update Stopped", [&](HWND w) {
                            said = BoxText(w);
                            Click(w, IDOK);
                        }}});
    answerer.Main = main;
    Click(main, IDC_UPDATE);
    Check(answerer.Done(), "warning, summary, Update Stopped: " + answerer.Report());
    Check(answered == FALSE, "the session is asked to wait while the card is written");
    Check(said.find("stopped by the logoff or shutdown") != std::string::npos,
          "the run says what stopped it: " + said.substr(0, 60));
    Check(p.app.Dialog().Report().outcome == "interrupted" && p.app.Closed(),
          "the run ends interrupted, then the program");
    Check(::SendMessageW(main, WM_QUERYENDSESSION, 0, 0) == TRUE, "outside a run the session may end at once");
    ClearStopRequest();
}

// A whole update through the real loading path: ZRW32N50.dll beside this
// program, the adapters in the registry. OUT_DIR gets summary.txt.
void Update(const std::filesystem::path& out, const std::vector<std::string>& files) {
    g_step = "update";
    std::string problem;
    auto library = win32::LoadAccessLibrary(&problem);
    Check(problem.empty(), "the access library loads" + (problem.empty() ? "" : ": " + problem));
    auto registry = win32::OpenRegistry();
    Application app(*library, *registry);
    const ULONGLONG started = ::GetTickCount64();
    app.Start(files);
    HWND main = app.Window().Handle();
    Check(::IsWindowEnabled(::GetDlgItem(main, IDC_UPDATE)) != FALSE, "the card is opened at start");

    std::set<std::string> headings;
    std::string summary, copied;
    bool selectionLeft = true, enterKept = false;
    std::string clipboardSaid, doneWhole = "not shown";
    struct Step {
        int position, maximum;
        bool mainVisible, waitVisible;
        std::string detail;
    };
    std::vector<Step> steps;
    std::string waitFit = "not shown";
    app.Host().SetProgressObserver([&](HWND bar) {
        HWND wait = ::GetParent(bar);
        if (steps.empty()) waitFit = TextsFit(wait);
        steps.push_back({static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0)),
                         static_cast<int>(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0)),
                         ::IsWindowVisible(main) != FALSE, ::IsWindowVisible(wait) != FALSE,
                         Text(::GetDlgItem(wait, IDC_WAIT_DETAIL))});
    });
    std::string done;
    Answerer answerer({
        {"Varnel",
         [&](HWND w) {
             const ULONGLONG until = ::GetTickCount64() + 1300;
             while (::GetTickCount64() < until) {
                 headings.insert(Text(::GetDlgItem(w, IDC_WARNING_HEADING)));
                 Spin(20);
             }
             Check((::GetWindowLongW(::GetDlgItem(w, IDOK), GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON,
                   "the warning's default button is Download");
             Click(w, IDOK);
         }},
        {"Update Information",
         [&](HWND w) {
             HWND edit = ::GetDlgItem(w, IDC_SUMMARY);
             summary = Text(edit);
             CHARRANGE range{3, 9};
             ::SendMessageW(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
             if (::OpenClipboard(w)) {
                 ::EmptyClipboard();
                 ::CloseClipboard();
             }
             Click(w, IDC_CLIPBOARD);
             clipboardSaid = Text(::GetDlgItem(w, IDC_CLIPBOARD));
             if (::OpenClipboard(w)) {
                 // The program puts CF_TEXT there; Windows NT offers it as
                 // CF_UNICODETEXT too, 95, 98 and ME (and wine in their mode) do not.
                 if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
                     copied = Narrow(static_cast<const wchar_t*>(::GlobalLock(data)), CP_UTF8);
                     ::GlobalUnlock(data);
                 } else if (HANDLE ansi = ::GetClipboardData(CF_TEXT)) {
                     copied = Narrow(win32ui::Widen(static_cast<const char*>(::GlobalLock(ansi)), CP_ACP), CP_UTF8);
                     ::GlobalUnlock(ansi);
                 }
                 ::CloseClipboard();
             }
             ::SendMessageW(edit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
             selectionLeft = range.cpMin != range.cpMax;
             ::SetFocus(edit);
             Key(w, VK_RETURN);
             Spin(50);
             enterKept = ::IsWindowVisible(w) != FALSE;
             Click(w, IDOK);
         }},
        {"Update Complete",
         [&](HWND w) {
             done = BoxText(w);
             doneWhole = LinesWhole(w);
             if (!Over(w, main)) doneWhole += " not over the main window: " + Place(w);
             Click(w, IDOK);
         }},
    });
    answerer.Main = main;
    RunWatch watch;
    watch.Attach(app.Host(), main);
    Click(main, IDC_UPDATE);
    app.Host().SetStateObserver({});
    Check(answerer.Done(), "warning, summary, wait window, done: " + answerer.Report());
    Check(watch.changes > 0 && watch.gaps.empty(),
          "during the run the main window or the wait window is always up and drawn (" + std::to_string(watch.changes) +
              " changes)" + watch.gaps);
    Check(watch.imageWaits.size() == 1,
          "one wait window from the first image to the last (" + std::to_string(watch.imageWaits.size()) + ")");
    Check(headings.count("Warning !!") && headings.count(" "), "the warning's heading blinks");
    Check(!summary.empty() && enterKept, "Enter in the summary's text leaves it open");
    const auto crlf = [](const std::string& text) {
        std::string plain;
        for (char c : text)
            if (c != '\r') plain += c;
        return plain;
    };
    Check(crlf(copied) == crlf(summary) + (crlf(summary).ends_with("\n") ? "" : "\n") || crlf(copied) == crlf(summary),
          "Clipboard copies the whole summary (" + std::to_string(crlf(copied).size()) + " of " +
              std::to_string(crlf(summary).size()) + " characters)");
    Check(!selectionLeft, "Clipboard leaves nothing selected");
    Check(clipboardSaid == "Copied", "Clipboard says it copied: \"" + clipboardSaid + "\"");
    bool hidden = !steps.empty(), reached = false;
    std::set<std::string> details;
    for (const Step& s : steps) {
        hidden = hidden && !s.mainVisible && s.waitVisible;
        reached = reached || (s.maximum > 0 && s.position == s.maximum);
        details.insert(s.detail);
    }
    std::string lines;
    bool named = false;
    for (const std::string& d : details) {
        lines += "\"" + d + "\" ";
        named = named || d.rfind("Image 2 of 2: ", 0) == 0;
    }
    Check(hidden && reached,
          "the wait window's bar runs to its end, the main window hidden (" + std::to_string(steps.size()) + " steps)");
    Check(named, "the image is named under the bar: " + lines);
    Check(waitFit.empty(), "the wait window's message fits" + waitFit);
    Check(done.rfind("Update Successful!", 0) == 0, "Update Complete: " + done);
    Check(doneWhole.empty(),
          "Update Complete over the main window, the backups' paths whole on their lines:" + doneWhole);
    Check(::IsWindowVisible(main) && ::IsWindowEnabled(::GetDlgItem(main, IDC_UPDATE)) && app.Host().Wait() == nullptr,
          "the main window is back, its controls enabled");
    Check(app.Dialog().Report().outcome == "succeeded", "the run succeeded");

    // The Tools menu's history: the run, newest first.
    int rows = -1;
    std::string newest, shownTime, cut;
    Answerer history({{"Update History", [&](HWND w) {
                           HWND list = ::GetDlgItem(w, IDC_HISTORY_LIST);
                           rows = ListView_GetItemCount(list);
                           for (int column : {1, 3}) {
                               wchar_t text[64] = {};
                               ListView_GetItemText(list, 0, column, text, 64);
                               newest += Narrow(text, CP_UTF8) + " ";
                           }
                           // The time in local time, as the user writes it (the
                           // record keeps UTC); every text whole in its column.
                           wchar_t time[64] = {};
                           ListView_GetItemText(list, 0, 0, time, 64);
                           shownTime = Narrow(time, CP_UTF8);
                           for (int c = 0; c < 6; ++c)
                               for (int r = 0; r < ListView_GetItemCount(list); ++r) {
                                   wchar_t text[600] = {};
                                   ListView_GetItemText(list, r, c, text, 600);
                                   const int need = ListView_GetStringWidth(list, text) + 12;
                                   if (need > ListView_GetColumnWidth(list, c))
                                       cut += " column " + std::to_string(c) + " \"" + Narrow(text, CP_UTF8) +
                                              "\" needs " + std::to_string(need) + " px, has " +
                                              std::to_string(ListView_GetColumnWidth(list, c)) + ";";
                               }
                           // The run's row selected: its backup's folder can be opened.
                           HWND open = ::GetDlgItem(w, IDC_HISTORY_OPEN_FOLDER);
                           const bool before = ::IsWindowEnabled(open);
                           ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
                           if (before || !::IsWindowEnabled(open))
                               newest += "(Open Backup Folder not enabled by the selection) ";
                           Key(w, VK_ESCAPE);
                       }}});
    history.Main = main;
    ::SendMessageW(main, WM_COMMAND, ID_HISTORY, 0);
    Check(!shownTime.empty() && shownTime.find('T') == std::string::npos && shownTime.back() != 'Z',
          "Update History shows local time: " + shownTime);
    Check(cut.empty(), "Update History's columns hold their texts whole:" + cut);
    Check(history.Done() && rows >= 1 && newest == "update succeeded ",
          "Update History lists the run first: " + newest + "(" + std::to_string(rows) + " rows) " + history.Report());

    std::ofstream(out / "summary.txt", std::ios::binary)
        << "Update Information\n"
        << crlf(summary) << (crlf(summary).ends_with("\n") ? "" : "\n");
    std::printf("# %s\n",
                ("update through the windows: " + std::to_string(::GetTickCount64() - started) + " ms").c_str());
}

// Tools > Restore PDA...: a whole .pda file, chosen in the system's open
// dialog, goes onto the card, the card's PDA saved first, and the run is
// recorded as a PDA restore.
void RestorePda(const std::filesystem::path& dir) {
    g_step = "restore-pda";
    Program p(dir);
    p.app.Start({});
    HWND main = p.app.Window().Handle();
    const std::filesystem::path file = Release() / "card.pda";
    const std::filesystem::path backups = dir / "backups";
    std::filesystem::create_directories(backups);
    p.app.Dialog().SetBackupDirectory(backups);
    std::string summary, done, whole = "not shown", folder;
    Answerer restore({{"Restore PDA",
                       [&](HWND w) {
                           folder = FolderOf(w);
                           ::SetDlgItemTextW(w, 0x47C, file.wstring().c_str());
                           ::SendMessageW(w, WM_COMMAND, IDOK, 0);
                       }},
                      {"Update Information",
                       [&](HWND w) {
                           summary = Text(::GetDlgItem(w, IDC_SUMMARY));
                           Click(w, IDOK);
                       }},
                      {"Update Complete", [&](HWND w) {
                           done = BoxText(w);
                           whole = LinesWhole(w);
                           Click(w, IDOK);
                       }}});
    restore.Main = main;
    RunWatch watch;
    watch.Attach(p.app.Host(), main);
    ::SendMessageW(main, WM_COMMAND, ID_RESTORE_PDA, 0);
    p.app.Host().SetStateObserver({});
    Check(watch.changes > 0 && watch.gaps.empty(), "while the PDA is written the main window is up and drawn (" +
                                                       std::to_string(watch.changes) + " changes)" + watch.gaps);
    const RunReport& report = p.app.Dialog().Report();
    Check(restore.Done() && report.action == "pda restore" && report.outcome == "succeeded",
          "Restore PDA... writes the chosen file: " + restore.Report() + " " + p.app.Dialog().Status());
    Check(std::filesystem::path(folder) == backups,
          "its open dialog, titled Restore PDA, starts in the backups folder: " + folder);
    Check(summary.find("PDA restore: the card's PDA is replaced by exactly the records of") != std::string::npos,
          "its summary says what is replaced");
    Check(!report.backup.empty() && std::filesystem::exists(report.backup) &&
              done.find(report.backup) != std::string::npos,
          "the card's PDA was saved first, and Update Complete names the backup: " + report.backup);
    Check(whole.empty(), "Update Complete keeps every line whole, the backup's path on one line:" + whole);
}

// Two processes: this one is the running instance; varnel.exe started with
// files hands them over and ends.
void Handover(const std::filesystem::path& dir, const std::wstring& exe, const std::vector<std::wstring>& files) {
    g_step = "handover";
    Program p(dir);
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, L"Local\\Varnel.SingleInstance");
    p.app.Start({});
    HWND main = p.app.Window().Handle();
    std::wstring command = L"\"" + exe + L"\"";
    for (const std::wstring& f : files) command += L" \"" + f + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const ULONGLONG started = ::GetTickCount64();
    const bool ran =
        ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    Check(ran, "a second varnel.exe starts");
    if (!ran) return;
    Spin(30000, [&] { return ::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; });
    DWORD code = 99;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    Check(code == 0, "it hands over and ends with exit 0 (" + std::to_string(code) + ", " +
                         std::to_string(::GetTickCount64() - started) + " ms)");
    // Listed by type, files of one type in the order they came: the order of
    // the messages shows in the two .pda files.
    std::vector<std::string> got, want;
    for (const auto& f : p.app.Dialog().View().files) got.push_back(std::filesystem::path(f.path).filename().string());
    for (const auto& f : files) want.push_back(std::filesystem::path(f).filename().string());
    const auto ofType = [](std::vector<std::string> names, const std::string& ext) {
        std::erase_if(names, [&](const std::string& n) { return std::filesystem::path(n).extension() != ext; });
        return names;
    };
    std::string listed;
    for (const auto& n : got) listed += " " + n;
    Check(std::multiset<std::string>(got.begin(), got.end()) == std::multiset<std::string>(want.begin(), want.end()) &&
              ofType(got, ".pda") == ofType(want, ".pda"),
          "the running instance lists all " + std::to_string(got.size()) +
              ", each type in the arguments' order:" + listed);
    int windows = 0;
    for (HWND w = nullptr; (w = ::FindWindowExW(nullptr, w, L"" VARNEL_MAIN_CLASS, nullptr));) ++windows;
    Check(windows == 1 && ::FindWindowW(L"" VARNEL_MAIN_CLASS, L"Varnel") == main, "one Varnel window");
    ::CloseHandle(mutex);
}

// The window as the screen shows it, frame included, saved as PNG: drawn
// afresh first, or (`asItIs`) as it is at this moment.
bool Picture(HWND window, const std::filesystem::path& file, bool asItIs = false) {
    if (!asItIs) {
        ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
        Spin(400);
    }
    RECT rect;
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    bool ok = false;
    IWICImagingFactory* factory = nullptr;
    IWICBitmap* source = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                     reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &source)) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromFilename(file.wstring().c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
        SUCCEEDED(frame->SetPixelFormat(&format)) && SUCCEEDED(frame->WriteSource(source, nullptr)) &&
        SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit()))
        ok = true;
    for (IUnknown* object : std::initializer_list<IUnknown*>{frame, encoder, stream, source, factory})
        if (object) object->Release();
    ::DeleteObject(bitmap);
    Check(ok, "picture " + file.filename().string());
    return ok;
}

// The pictures of docs/windows.md: the main window with the sample
// release listed, the warning, the summary, and the wait window halfway
// through the second image.
void Screenshots(const std::filesystem::path& dir, const std::filesystem::path& out,
                 const std::vector<std::string>& files) {
    g_step = "screenshots";
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Program p(dir);
    p.app.Start(files);
    HWND main = p.app.Window().Handle();
    Picture(main, out / "windows-main-window.png");
    bool waitTaken = false;
    p.app.Host().SetProgressObserver([&](HWND bar) {
        const auto low = static_cast<int>(::SendMessageW(bar, PBM_GETRANGE, TRUE, 0));
        const auto high = static_cast<int>(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
        const auto position = static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
        HWND wait = ::GetParent(bar);
        if (!waitTaken && Text(::GetDlgItem(wait, IDC_WAIT_DETAIL)).rfind("Image 2 of 2", 0) == 0 &&
            position >= (low + high) / 2) {
            waitTaken = true;
            Picture(wait, out / "windows-wait-window.png");
        }
    });
    // The whole screen as it is while the card is busy: when the main
    // window comes back disabled for the PDA, and when the first image's
    // wait is done; and with the summary open.
    std::set<std::string> screens;
    p.app.Host().SetStateObserver([&](const char* what) {
        const std::string name = std::string(what) == "main window shown disabled" ? "windows-screen-pda-write.png"
                                 : std::string(what) == "wait window done"         ? "windows-screen-after-wait.png"
                                                                                   : "";
        if (!name.empty() && screens.insert(name).second) Picture(::GetDesktopWindow(), out / name, true);
    });
    Answerer answerer({
        {"Varnel",
         [&](HWND w) {
             Spin(500, [&] { return Text(::GetDlgItem(w, IDC_WARNING_HEADING)) == "Warning !!"; });
             Picture(::GetDesktopWindow(), out / "windows-screen-warning.png");
             Picture(w, out / "windows-warning.png");
             Click(w, IDOK);
         }},
        {"Update Information",
         [&](HWND w) {
             Picture(w, out / "windows-update-information.png");
             Picture(::GetDesktopWindow(), out / "windows-screen-summary.png");
             Click(w, IDOK);
         }},
        {"Update Complete",
         [&](HWND w) {
             Picture(::GetDesktopWindow(), out / "windows-screen-update-complete.png");
             Click(w, IDOK);
         }},
    });
    answerer.Main = main;
    Click(main, IDC_UPDATE);
    p.app.Host().SetStateObserver({});
    Check(answerer.Done() && waitTaken, "the update's windows were taken: " + answerer.Report());
    ::CoUninitialize();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Watchdog(120);
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    const ULONGLONG started = ::GetTickCount64();
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    try {
        if (mode == L"contract" && argc == 3) Contract(argv[2]);
        else if (mode == L"ways-out" && argc == 3) WaysOut(argv[2]);
        else if (mode == L"logoff" && argc == 3) Logoff(argv[2]);
        else if (mode == L"restore-pda" && argc == 3) RestorePda(argv[2]);
        else if (mode == L"history-fits" && argc == 3) {
            g_step = "history-fits";
            Program p(argv[2]);
            p.app.Start({});
            HistoryFits(p.app.Window().Handle());
        } else if (mode == L"place" && argc == 3) WindowPlaceCheck(argv[2]);
        else if (mode == L"no-adapters" && argc == 3) NoAdapters(argv[2]);
        else if (mode == L"update" && argc >= 3) {
            std::vector<std::string> files;
            for (int i = 3; i < argc; ++i) files.push_back(Narrow(argv[i], CP_ACP));
            Update(argv[2], files);
        } else if (mode == L"screenshots" && argc >= 4) {
            std::vector<std::string> files;
            for (int i = 4; i < argc; ++i) files.push_back(Narrow(argv[i], CP_ACP));
            Screenshots(argv[2], argv[3], files);
        } else if (mode == L"handover" && argc >= 4)
            Handover(argv[2], argv[3], std::vector<std::wstring>(argv + 4, argv + argc));
        else {
            std::fprintf(stderr, "usage: varnel-gui-test "
                                 "contract|ways-out|logoff|restore-pda|history-fits|place|no-adapters|update|handover|"
                                 "screenshots ...\n");
            return 2;
        }
    } catch (const std::exception& e) {
        Check(false, std::string("no exception: ") + e.what());
    }
    // No window at all means no driver made them: that is no pass.
    if (g_passed == 0) Check(false, "some check ran");
    std::printf("# %d passed, %d failed in %llu ms\n", g_passed, g_failed, ::GetTickCount64() - started);
    return g_failed == 0 ? 0 : 1;
}
