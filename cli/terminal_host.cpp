#include "cli/terminal_host.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>

namespace varnel::cli {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::optional<MessageAnswer> ParseAnswer(const std::string& word) {
    const std::string w = Lower(word);
    if (w == "ok") return MessageAnswer::Ok;
    if (w == "cancel") return MessageAnswer::Cancel;
    if (w == "yes") return MessageAnswer::Yes;
    if (w == "no") return MessageAnswer::No;
    return std::nullopt;
}

const char* AnswerName(MessageAnswer answer) {
    switch (answer) {
    case MessageAnswer::Ok: return "OK";
    case MessageAnswer::Cancel: return "Cancel";
    case MessageAnswer::Yes: return "Yes";
    case MessageAnswer::No: return "No";
    }
    return "?";
}

bool Allowed(MessageButtons buttons, MessageAnswer answer) {
    switch (buttons) {
    case MessageButtons::Ok: return answer == MessageAnswer::Ok;
    case MessageButtons::OkCancel: return answer == MessageAnswer::Ok || answer == MessageAnswer::Cancel;
    case MessageButtons::YesNo: return answer == MessageAnswer::Yes || answer == MessageAnswer::No;
    }
    return false;
}

}  // namespace

std::string DisplayCaption(const Message& message) { return message.caption.empty() ? "Error" : message.caption; }

std::string DisplayText(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
    return plain;
}

TerminalHost::TerminalHost()
    : m_interactive(::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO)), m_progress(::isatty(STDERR_FILENO)) {}

Result<> TerminalHost::AddAnswer(const std::string& rule) {
    const size_t equals = rule.rfind('=');
    const auto answer = equals == std::string::npos ? std::nullopt : ParseAnswer(rule.substr(equals + 1));
    if (!answer) return Failure{"--answer takes CAPTION=BUTTON with BUTTON one of OK, Cancel, Yes, No: " + rule};
    m_answers[rule.substr(0, equals)] = *answer;
    return {};
}

std::optional<MessageAnswer> TerminalHost::AskUser(const std::string& prompt, MessageButtons buttons) {
    if (!m_interactive) return std::nullopt;
    for (;;) {
        std::cerr << prompt << std::flush;
        std::string line;
        if (!std::getline(std::cin, line)) return std::nullopt;
        const std::string w = Lower(line);
        if (buttons == MessageButtons::YesNo && (w == "y" || w == "yes")) return MessageAnswer::Yes;
        if (buttons == MessageButtons::YesNo && (w == "n" || w == "no")) return MessageAnswer::No;
        if (buttons == MessageButtons::OkCancel && (w == "o" || w == "ok")) return MessageAnswer::Ok;
        if (buttons == MessageButtons::OkCancel && (w == "c" || w == "cancel")) return MessageAnswer::Cancel;
    }
}

std::ostream& TerminalHost::Out() const { return m_json ? std::cerr : std::cout; }

MessageAnswer TerminalHost::ShowMessage(const Message& message) {
    m_shown.push_back(message);
    const std::string caption = DisplayCaption(message);
    (message.kind == MessageKind::Answer ? Out() : std::cerr) << caption << ": " << DisplayText(message.text) << "\n";
    if (message.buttons == MessageButtons::Ok) return MessageAnswer::Ok;

    const auto rule = m_answers.find(message.caption);
    if (rule != m_answers.end() && Allowed(message.buttons, rule->second)) {
        std::cerr << "  -> " << AnswerName(rule->second) << " (--answer)\n";
        return rule->second;
    }
    const auto answer =
        AskUser(message.buttons == MessageButtons::YesNo ? "  [y]es / [n]o? " : "  [o]k / [c]ancel? ", message.buttons);
    if (answer) return *answer;
    const MessageAnswer safe = SafeAnswer(message.buttons);
    std::cerr << "  -> " << AnswerName(safe) << " (no terminal; answer with --answer \"" << message.caption << "="
              << (message.buttons == MessageButtons::YesNo ? "Yes" : "OK") << "\")\n";
    return safe;
}

bool TerminalHost::ConfirmWarning(const std::string& heading, const std::string& message) {
    std::cerr << heading << " " << message << "\n";
    if (m_confirm || m_dryRun) return true;
    const auto answer = AskUser("  [o]k (Download) / [c]ancel? ", MessageButtons::OkCancel);
    if (answer) return *answer == MessageAnswer::Ok;
    std::cerr << "  -> Cancel (no terminal; confirm with --yes)\n";
    return false;
}

bool TerminalHost::ConfirmSummary(const std::string& text) {
    m_summaryShown = true;
    Out() << "Update Information\n" << DisplayText(text);
    if (!text.empty() && text.back() != '\n') Out() << "\n";
    Out() << std::flush;
    if (m_dryRun) {
        std::cerr << "  -> CANCEL (dry run)\n";
        return false;
    }
    if (m_confirm) return true;
    const auto answer = AskUser("  [o]k (UPDATE) / [c]ancel? ", MessageButtons::OkCancel);
    if (answer) return *answer == MessageAnswer::Ok;
    std::cerr << "  -> CANCEL (no terminal; confirm with --yes)\n";
    return false;
}

ProgressBar& TerminalHost::ShowWaitWindow(const std::string& message, const std::string& detail) {
    std::cerr << message << "\n";
    if (!detail.empty()) std::cerr << "  " << detail << "\n";
    m_progress = Progress(::isatty(STDERR_FILENO));
    return m_progress;
}

void TerminalHost::HideWaitWindow() { m_progress.Finish(); }

std::optional<std::string> TerminalHost::OpenFile(const OpenFileRequest&) { return m_openFile; }

void TerminalHost::Progress::SetRange(int low, int high) {
    m_low = low;
    m_high = high;
    m_lastShown = -1;
}

void TerminalHost::Progress::SetPosition(int position) {
    const int span = m_high > m_low ? m_high - m_low : 1;
    const int percent = std::clamp((position - m_low) * 100 / span, 0, 100);
    if (m_terminal) {
        if (percent == m_lastShown) return;
        const int filled = percent * 40 / 100;
        std::cerr << "\r  [" << std::string(static_cast<size_t>(filled), '#')
                  << std::string(static_cast<size_t>(40 - filled), ' ') << "] " << percent << "%" << std::flush;
    } else {
        // Percentage lines, one per tenth.
        if (percent / 10 == m_lastShown / 10 && m_lastShown >= 0) return;
        std::cerr << "  " << percent << "%\n";
    }
    m_lastShown = percent;
}

void TerminalHost::Progress::Finish() {
    if (m_terminal && m_lastShown >= 0) std::cerr << "\n";
    m_lastShown = -1;
}

}  // namespace varnel::cli
