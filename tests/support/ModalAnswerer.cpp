#include "tests/support/ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMetaEnum>

ModalAnswerer::ModalAnswerer(QObject* parent, int intervalMs) : QObject(parent)
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::Poll);
    m_timer.start();
}

void ModalAnswerer::AnswerMessage(QMessageBox::StandardButton button)
{
    m_answers.push_back({Kind::MessageBox, button, {}, true});
}

void ModalAnswerer::ChooseFolder(const QString& folder)
{
    m_answers.push_back({Kind::FolderDialog, QMessageBox::Ok, folder, true});
}

void ModalAnswerer::CancelFolder()
{
    m_answers.push_back({Kind::FolderDialog, QMessageBox::Ok, {}, false});
}

namespace {
QString ButtonName(QMessageBox::StandardButton b)
{
    switch (b) {
    case QMessageBox::Ok: return QStringLiteral("Ok");
    case QMessageBox::Yes: return QStringLiteral("Yes");
    case QMessageBox::No: return QStringLiteral("No");
    case QMessageBox::Cancel: return QStringLiteral("Cancel");
    default: return QStringLiteral("Button%1").arg(int(b));
    }
}
} // namespace

void ModalAnswerer::Poll()
{
    if (m_held)
        return;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;

    Seen seen;
    seen.caption = modal->windowTitle();

    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen.kind = Kind::MessageBox;
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        QMessageBox::StandardButton choice = QMessageBox::NoButton;
        if (!m_answers.empty() && m_answers.front().kind == Kind::MessageBox &&
            box->button(m_answers.front().button)) {
            choice = m_answers.front().button;
            m_answers.pop_front();
        } else {
            for (auto b : {QMessageBox::Ok, QMessageBox::No, QMessageBox::Cancel, QMessageBox::Yes})
                if (box->button(b)) {
                    choice = b;
                    break;
                }
        }
        seen.answer = ButtonName(choice);
        m_seen.push_back(seen);
        if (QAbstractButton* button = box->button(choice))
            button->click();
        else
            box->reject();
        return;
    }

    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        seen.kind = Kind::FolderDialog;
        if (!m_answers.empty() && m_answers.front().kind == Kind::FolderDialog) {
            const Answer a = m_answers.front();
            m_answers.pop_front();
            if (a.accept) {
                seen.answer = a.folder;
                m_seen.push_back(seen);
                // Open the folder itself with nothing selected in it: the
                // dialog then answers with the folder it shows. (Selecting
                // the folder inside its parent races with the dialog's
                // background listing of the parent, which can drop the
                // selection and answer with the parent instead.)
                dialog->setDirectory(a.folder);
                dialog->selectFile(QString());
                static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept checks the choice
                return;
            }
        }
        seen.answer = QStringLiteral("rejected");
        m_seen.push_back(seen);
        dialog->reject();
        return;
    }

    if (modal == m_closed)
        return;  // its close is on the way
    seen.kind = Kind::Other;
    seen.answer = QStringLiteral("closed");
    m_seen.push_back(seen);
    m_closed = modal;
    modal->close();
}
