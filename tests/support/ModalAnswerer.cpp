#include "tests/support/ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>

ModalAnswerer::ModalAnswerer(QObject* parent, int intervalMs) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::Poll);
    m_timer.start(intervalMs);
}

void ModalAnswerer::AnswerMessage(QMessageBox::StandardButton button)
{
    m_answers.push_back({Kind::MessageBox, button, {}, true});
}

void ModalAnswerer::ChooseFolder(const QString& folder)
{
    m_answers.push_back({Kind::FolderDialog, QMessageBox::Ok, folder, true});
}

void ModalAnswerer::CancelFolder() { m_answers.push_back({Kind::FolderDialog, QMessageBox::Ok, {}, false}); }

void ModalAnswerer::Poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (m_held || !modal || !modal->isVisible() || modal == m_closed)
        return;  // a modal asked to close may still be on screen
    Seen seen{Kind::Other, {}, modal->windowTitle(), QMessageBox::NoIcon, {}, QStringLiteral("closed")};
    const bool scripted = !m_answers.empty();
    const Answer next = scripted ? m_answers.front() : Answer{Kind::Other, QMessageBox::NoButton, {}, false};
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen = {Kind::MessageBox, box->text(), seen.caption, box->icon(), box->standardButtons(), {}};
        QMessageBox::StandardButton choice = QMessageBox::NoButton;
        if (next.kind == Kind::MessageBox && box->button(next.button)) {
            choice = next.button;
            m_answers.pop_front();
        } else {
            for (auto b : {QMessageBox::Ok, QMessageBox::No, QMessageBox::Cancel, QMessageBox::Yes})
                if (box->button(b) && choice == QMessageBox::NoButton)
                    choice = b;
        }
        const char* names[] = {"Ok", "Yes", "No", "Cancel"};
        const QMessageBox::StandardButton buttons[] = {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No,
                                                       QMessageBox::Cancel};
        for (int i = 0; i < 4; ++i)
            if (buttons[i] == choice)
                seen.answer = names[i];
        m_seen.push_back(seen);
        if (QAbstractButton* button = box->button(choice))
            button->click();
        else
            box->reject();
    } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        const bool choose = next.kind == Kind::FolderDialog && next.accept;
        if (next.kind == Kind::FolderDialog)
            m_answers.pop_front();
        m_seen.push_back({Kind::FolderDialog, {}, seen.caption, QMessageBox::NoIcon, {},
                          choose ? next.folder : QStringLiteral("rejected")});
        if (!choose)
            return dialog->reject();
        // Open the folder itself with nothing selected in it: the dialog then
        // answers with the folder it shows (selecting it inside its parent
        // races with the dialog's listing of the parent).
        dialog->setDirectory(next.folder);
        dialog->selectFile(QString());
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept checks the choice
    } else {
        m_seen.push_back(seen);
        m_closed = modal;
        modal->close();
    }
}
