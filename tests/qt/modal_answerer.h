#pragma once
// Answers the modal windows that code under test opens: each expected
// window by its title, in order, with an action on it. A window nobody
// expected fails the test and is closed with its safe answer (Esc); a
// window left unanswered past the time limit fails too, so no test hangs.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <deque>
#include <vector>
#include <functional>

namespace varnel::test {

class ModalAnswerer {
public:
    using Action = std::function<void(QWidget&)>;
    struct Step {
        QString title;
        Action action;
    };

    explicit ModalAnswerer(std::deque<Step> steps = {}, int limitMs = 20000)
        : m_steps(std::move(steps)), m_limit(limitMs) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(15);
    }
    ~ModalAnswerer() { m_timer.stop(); }

    void Expect(const QString& title, Action action) { m_steps.push_back({title, std::move(action)}); }
    // Called on every poll (while a modal loop or the wait window runs).
    void Watch(std::function<void()> watch) { m_watch = std::move(watch); }

    bool Done() const { return m_steps.empty(); }
    QStringList Seen() const { return m_seen; }

    // Presses the button with this text.
    static Action Press(const QString& text) {
        return [text](QWidget& w) {
            for (QAbstractButton* b : w.findChildren<QAbstractButton*>())
                if (b->text() == text && b->isVisible()) {
                    b->click();
                    return;
                }
            ADD_FAILURE() << "no button " << text.toStdString() << " in " << w.windowTitle().toStdString();
            Escape(w);
        };
    }
    static void Escape(QWidget& w) {
        if (auto* box = qobject_cast<QMessageBox*>(&w); box && box->escapeButton()) box->escapeButton()->click();
        else if (auto* dialog = qobject_cast<QDialog*>(&w)) dialog->reject();
        else w.close();
    }

private:
    void Poll() {
        if (m_watch) m_watch();
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) {
            m_current = nullptr;
            return;
        }
        if (modal != m_current) {
            m_current = modal;
            m_since.start();
        }
        // A window is answered once; back on top after a nested one closed,
        // it only counts against the time limit.
        const bool acted =
            std::any_of(m_acted.begin(), m_acted.end(), [&](const QPointer<QWidget>& w) { return w == modal; });
        if (acted) {
            if (m_since.elapsed() > m_limit) {
                ADD_FAILURE() << "window left open: " << modal->windowTitle().toStdString();
                Escape(*modal);
            }
            return;
        }
        m_acted.push_back(modal);
        m_seen << modal->windowTitle();
        if (m_steps.empty() || m_steps.front().title != modal->windowTitle()) {
            ADD_FAILURE() << "unexpected window \"" << modal->windowTitle().toStdString() << "\""
                          << (m_steps.empty() ? std::string()
                                              : ", expected \"" + m_steps.front().title.toStdString() + "\"");
            Escape(*modal);
            return;
        }
        // The action runs from a timer of its own: it may spin nested event
        // loops, in which this poll must go on (a timer does not fire again
        // while its own handler runs).
        QTimer::singleShot(0, modal, [action = std::move(m_steps.front().action), window = QPointer<QWidget>(modal)] {
            if (window) action(*window);
        });
        m_steps.pop_front();
        // An action that leaves the window open (Clipboard) is not repeated
        // for it.
    }

    std::deque<Step> m_steps;
    int m_limit;
    QTimer m_timer;
    QPointer<QWidget> m_current;
    QElapsedTimer m_since;
    std::vector<QPointer<QWidget>> m_acted;
    std::function<void()> m_watch;
    QStringList m_seen;
};

}  // namespace varnel::test
