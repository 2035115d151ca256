#pragma once
// What the program asks of its user interface. The logic decides; a front
// end (the Qt windows, the terminal, a test script) only shows and answers.

#include <optional>
#include <string>
#include <vector>

namespace varnel {

// Windows shows Error as the stop sign and Warning as the exclamation mark.
enum class MessageIcon { None, Error, Warning, Question, Information };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// What a message box is: a notice (an error, a warning, a question), or the
// answer to what the user asked for (the Tools menu's queries), which a
// terminal prints as the command's output.
enum class MessageKind { Notice, Answer };

struct Message {
    std::string text;
    std::string caption;  // empty: the system's default caption
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    bool owned = false;  // shown over the main window (else with no owner)
    // The button Enter presses: the first one, or the safe answer for a
    // question whose Yes cannot be undone lightly.
    bool safeDefault = false;
    MessageKind kind = MessageKind::Notice;
};

// The answer that never goes ahead: Cancel or No, else OK.
inline MessageAnswer SafeAnswer(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::OkCancel: return MessageAnswer::Cancel;
    case MessageButtons::YesNo: return MessageAnswer::No;
    case MessageButtons::Ok: break;
    }
    return MessageAnswer::Ok;
}

enum class Cursor { Arrow, Wait };

// A progress bar (the wait window lends its bar to the flash programming).
class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void SetRange(int low, int high) = 0;
    virtual void SetPosition(int position) = 0;
};

// What the main window's controls show; the dialog logic pushes it to the
// host whenever its values change.
struct DialogView {
    std::string title;
    std::vector<std::string> adapters;  // the adapter list box, in order
    int selectedAdapter = -1;           // position in the list, -1 none
    bool adapterListVisible = true;
    bool openedVisible = false;  // the "Opened: " line over the list
    std::string opened;
    bool updateEnabled = false;
    std::string status;
    // The status with every path whole, for the status box's tooltip; empty
    // when the box shows all of it.
    std::string statusDetail;
    std::string pdaMac;
    std::string pdaSerial;
    std::string ndisMac;
    std::string version;
    struct File {
        int type = 0;
        std::string text;
        std::string path;
    };
    std::vector<File> files;
};

// The standard open-file dialog's settings.
struct OpenFileRequest {
    std::string defaultExtension;
    std::string initialFile;
    std::string filter;  // "Link File (*.oem)|*.oem|"
    // The dialog's title: the command it is for ("Download"); empty: "Open".
    std::string title;
};

// What a front end shows. Each method has a safe default, as a host that
// shows nothing would answer: a message box takes its safe answer (Cancel,
// No, else OK), the warning and the summary are declined, the open-file
// dialog is cancelled, the wait window's bar goes nowhere, and the cursor
// and the main window's states are ignored. A new front end overrides only
// what it shows; whatever it leaves out never lets a run go ahead.
class Host {
public:
    virtual ~Host() = default;

    // A message box; returns the button pressed.
    virtual MessageAnswer ShowMessage(const Message& message) { return SafeAnswer(message.buttons); }
    // The warning before every update: true when "Download" was pressed.
    virtual bool ConfirmWarning(const std::string& /*heading*/, const std::string& /*message*/) { return false; }
    // The Update Information dialog: true when "UPDATE" was pressed.
    virtual bool ConfirmSummary(const std::string& /*text*/) { return false; }
    // The wait window: shown with its message over the progress bar and
    // `detail` under it (the image and its place: "Image 1 of 2: NAME"; empty
    // for none); its progress bar is lent to the long operation until the
    // window is hidden.
    virtual ProgressBar& ShowWaitWindow(const std::string& /*message*/, const std::string& /*detail*/) {
        return m_noBar;
    }
    virtual void HideWaitWindow() {}
    // The open-file dialog: the chosen path, or nothing when cancelled.
    virtual std::optional<std::string> OpenFile(const OpenFileRequest& /*request*/) { return std::nullopt; }

    virtual void SetCursor(Cursor) {}
    // Hiding, disabling and showing the main window around long work.
    virtual void SetMainWindow(bool /*visible*/, bool /*enabled*/) {}
    // The main window's controls take these values.
    virtual void Refresh(const DialogView&) {}

private:
    struct NoProgressBar : ProgressBar {
        void SetRange(int, int) override {}
        void SetPosition(int) override {}
    };
    NoProgressBar m_noBar;
};

}  // namespace varnel
