// Answers modal prompts for a test: every 20 ms it looks at the active
// modal widget (this keeps working inside nested event loops) and answers it
// from a queue of scripted answers, recording what it saw. Anything without
// a scripted answer is recorded and answered with a default (OK, No,
// Cancel, close), so no test waits for a user.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <vector>

class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    enum class Kind { MessageBox, FolderDialog, Other };
    struct Answer {
        Kind kind;
        QMessageBox::StandardButton button;  // for a message box
        QString folder;                      // for a folder dialog: the folder to choose
        bool accept;                         // for a folder dialog: false cancels
    };
    struct Seen {
        Kind kind;
        QString text;     // message text
        QString caption;  // window title
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QString answer;   // what was done: "Ok", "Yes", "No", "Cancel", a folder, "rejected", "closed"
    };

    explicit ModalAnswerer(QObject* parent = nullptr, int intervalMs = 20);
    // Scripted answers, used in order as prompts appear.
    void AnswerMessage(QMessageBox::StandardButton button);
    void ChooseFolder(const QString& folder);
    void CancelFolder();
    // While held, prompts are left up untouched (neither answered nor
    // recorded): a test that must act while a prompt is up holds the
    // answerer until it has acted, instead of racing its poll timer.
    void Hold(bool held) { m_held = held; }
    const std::vector<Seen>& SeenPrompts() const { return m_seen; }

private:
    void Poll();

    QTimer m_timer;
    std::deque<Answer> m_answers;
    std::vector<Seen> m_seen;
    QPointer<QWidget> m_closed;  // asked to close, may still be on screen
    bool m_held = false;
};
