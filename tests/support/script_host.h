#pragma once
// A Host for tests: records every message box and dialog, and answers from
// a script (per caption), else with the safe answer.

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/host.h"

namespace varnel::test {

class ScriptHost : public Host {
public:
    struct Progress : ProgressBar {
        int low = 0, high = 0, position = 0;
        std::vector<int> positions;
        void SetRange(int l, int h) override {
            low = l;
            high = h;
        }
        void SetPosition(int p) override {
            position = p;
            positions.push_back(p);
        }
    };

    // Answers for the question with this caption, used in turn; the last
    // one stays.
    void Answer(const std::string& caption, std::initializer_list<MessageAnswer> answers) {
        m_answers[caption].assign(answers.begin(), answers.end());
    }

    MessageAnswer ShowMessage(const Message& message) override {
        messages.push_back(message);
        auto found = m_answers.find(message.caption);
        if (found == m_answers.end() || found->second.empty()) return SafeAnswer(message.buttons);
        const MessageAnswer answer = found->second.front();
        if (found->second.size() > 1) found->second.pop_front();
        return answer;
    }
    bool ConfirmWarning(const std::string& heading, const std::string& message) override {
        warnings.push_back(heading + "|" + message);
        return confirmWarning;
    }
    bool ConfirmSummary(const std::string& text) override {
        summaries.push_back(text);
        if (onSummary) onSummary(text);
        return confirmSummary;
    }
    ProgressBar& ShowWaitWindow(const std::string& message, const std::string& detail) override {
        waitMessages.push_back(message);
        waitDetails.push_back(detail);
        waitShown = true;
        return progress;
    }
    void HideWaitWindow() override { waitShown = false; }
    std::optional<std::string> OpenFile(const OpenFileRequest& request) override {
        fileRequests.push_back(request);
        return openFile;
    }
    void SetCursor(Cursor cursor) override { cursors.push_back(cursor); }
    void SetMainWindow(bool visible, bool enabled) override {
        mainVisible = visible;
        mainEnabled = enabled;
    }
    void Refresh(const DialogView& view) override { lastView = view; }

    // "CAPTION: TEXT" of every message, in order.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const Message& m : messages) lines.push_back(m.caption + ": " + m.text);
        return lines;
    }

    std::vector<Message> messages;
    std::vector<std::string> warnings;
    std::vector<std::string> summaries;
    // Called with each summary before it is answered.
    std::function<void(const std::string&)> onSummary;
    std::vector<std::string> waitMessages;
    std::vector<std::string> waitDetails;  // the lines under the bar
    std::vector<OpenFileRequest> fileRequests;
    std::vector<Cursor> cursors;
    Progress progress;
    bool waitShown = false;
    bool mainVisible = true;
    bool mainEnabled = true;
    bool confirmWarning = true;
    bool confirmSummary = true;
    std::optional<std::string> openFile;
    DialogView lastView;

private:
    std::map<std::string, std::deque<MessageAnswer>> m_answers;
};

}  // namespace varnel::test
