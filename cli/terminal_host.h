#pragma once
// The terminal as the dialog logic's host. Message boxes print as
// "CAPTION: TEXT", on stderr, but for the answers to queries (the command's
// result, see Out); a question takes its answer from --answer, else from the
// user when stdin is a terminal, else its safe answer (Cancel, No). The
// wait window is its message, its line under the bar (which image), then a
// progress bar on a terminal and percentage lines otherwise.

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/result.h"

namespace varnel::cli {

class TerminalHost : public Host {
public:
    TerminalHost();

    // "CAPTION=BUTTON" answers the question with that caption; a rule of
    // another form is refused.
    Result<> AddAnswer(const std::string& rule);
    // --yes: confirm the warning ("Download") and the summary ("UPDATE").
    void SetConfirm(bool yes) { m_confirm = yes; }
    // --dry-run: confirm the warning, show the summary and answer CANCEL.
    void SetDryRun(bool dryRun) { m_dryRun = dryRun; }
    // The path the open-file dialog returns (the link file named by --oem).
    void SetOpenFile(std::optional<std::string> path) { m_openFile = std::move(path); }

    // --json: stdout carries the JSON result only, so every text the
    // terminal shows goes to stderr.
    void SetJson(bool json) { m_json = json; }
    // Where the command's own text goes: stdout, or stderr under --json.
    std::ostream& Out() const;

    // A new run: no summary shown yet.
    void BeginRun() { m_summaryShown = false; }
    bool SummaryShown() const { return m_summaryShown; }
    // Every message box shown, in order.
    const std::vector<Message>& Shown() const { return m_shown; }

    MessageAnswer ShowMessage(const Message& message) override;
    bool ConfirmWarning(const std::string& heading, const std::string& message) override;
    bool ConfirmSummary(const std::string& text) override;
    ProgressBar& ShowWaitWindow(const std::string& message, const std::string& detail) override;
    void HideWaitWindow() override;
    std::optional<std::string> OpenFile(const OpenFileRequest& request) override;
    // No cursor, main window nor controls: the Host's defaults ignore them.

private:
    class Progress : public ProgressBar {
    public:
        explicit Progress(bool terminal) : m_terminal(terminal) {}
        void SetRange(int low, int high) override;
        void SetPosition(int position) override;
        void Finish();

    private:
        bool m_terminal;
        int m_low = 0;
        int m_high = 100;
        int m_lastShown = -1;
    };

    std::optional<MessageAnswer> AskUser(const std::string& prompt, MessageButtons buttons);

    std::map<std::string, MessageAnswer> m_answers;
    bool m_interactive;
    bool m_confirm = false;
    bool m_dryRun = false;
    bool m_json = false;
    bool m_summaryShown = false;
    std::optional<std::string> m_openFile;
    std::vector<Message> m_shown;
    Progress m_progress;
};

// The caption a message box shows ("Error" when it asks for the default).
std::string DisplayCaption(const Message& message);
// A message box's text with CR LF line ends made plain.
std::string DisplayText(const std::string& text);

}  // namespace varnel::cli
