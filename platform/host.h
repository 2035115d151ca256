#pragma once
// What the program asks of its user interface. The logic decides; a front
// end (the Qt windows, the terminal, a test script) only shows and answers.

#include <string>

namespace varnel {

// Windows shows Error as the stop sign and Warning as the exclamation mark.
enum class MessageIcon { None, Error, Warning, Question, Information };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct Message {
    std::string text;
    std::string caption;  // empty: the system's default caption
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    bool owned = false;  // shown over the main window (else with no owner)
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

class Host {
public:
    virtual ~Host() = default;

    // A message box; returns the button pressed.
    virtual MessageAnswer ShowMessage(const Message& message) = 0;
};

}  // namespace varnel
