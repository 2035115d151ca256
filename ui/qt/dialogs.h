#pragma once
// The small windows: the warning before an update, the Update Information
// dialog with the summary, the wait window with its progress bar, and the
// About box. They show what they are given and report the button pressed;
// none of them decides anything.

#include <QDialog>
#include <QTimer>
#include <functional>
#include <string>

#include "platform/host.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace varnel::qt {

// "Download" (the default button) or "Cancel"; the heading blinks: timer 1
// (400 ms) shows it, timer 2 (1000 ms) blanks it.
class WarningDialog : public QDialog {
public:
    WarningDialog(const std::string& heading, const std::string& message, QWidget* parent = nullptr);

    static constexpr int kShowPeriodMs = 400;
    static constexpr int kBlankPeriodMs = 1000;

private:
    QString m_heading;
    QLabel* m_headingLabel;
    QTimer m_show;
    QTimer m_blank;
};

// The update summary as plain read-only text; "UPDATE" accepts, "CANCEL"
// and Esc reject, "Clipboard" copies the whole text and leaves the dialog
// open. No button is a default one, so Enter never starts the writing.
class InfoDialog : public QDialog {
public:
    explicit InfoDialog(const std::string& text, QWidget* parent = nullptr);

    // Copies all the text and leaves nothing selected; the button reads
    // "Copied" for kCopiedMs.
    void CopyToClipboard();
    static constexpr int kCopiedMs = 1500;

private:
    QString m_whole;  // the text as given, its final line break included
    QPlainTextEdit* m_text;
};

// Frameless and centred; the message in bold over a progress bar without
// percentage text. It paints itself fully before the long work starts and
// again at every step, pumping the event loop (user input excluded) so the
// window system sees it.
class WaitWindow : public QWidget, public ProgressBar {
public:
    // `detail`: the line under the bar (none when empty), its middle elided
    // when it is wider than the window.
    explicit WaitWindow(const std::string& message, const std::string& detail = {});

    void SetRange(int low, int high) override;
    void SetPosition(int position) override;

    QProgressBar* Bar() const { return m_bar; }
    // Called after every step with the bar (for tests and screenshots).
    void SetObserver(std::function<void(const QProgressBar&)> observer) { m_observer = std::move(observer); }

    static void Pump();

private:
    void PaintNow();
    void setFrameLike();

    QLabel* m_message;
    QProgressBar* m_bar;
    std::function<void(const QProgressBar&)> m_observer;
};

// "About This Program": the icon, the two statics, the version field, OK.
class AboutDialog : public QDialog {
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

// Enter and the keypad's Enter press the button that has the focus, as the
// platform's dialogs do; the dialog's default button only when no button
// has it (Qt would press the default one whenever the focused button is not
// an "auto default" one).
void EnterPressesFocusedButton(QWidget& dialog);

// The font a dialog template names, on this system: the dialog font is
// Arial's metrics at the given point size.
QFont DialogFont(int pointSize, bool bold = false);

}  // namespace varnel::qt
