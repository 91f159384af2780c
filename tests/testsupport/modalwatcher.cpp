#include "testsupport/modalwatcher.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

ModalWatcher::ModalWatcher(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start(10);
}

void ModalWatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal->property("modalWatcherSeen").toBool())
        return;
    modal->setProperty("modalWatcherSeen", true);

    Seen seen;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        seen.text = box->text();
    } else if (auto *input = qobject_cast<QInputDialog *>(modal)) {
        seen.text = input->labelText();
        seen.inputValue = input->textValue();
    }
    m_seen.append(seen);
    if (m_action)
        m_action(modal);
    if (auto *input = qobject_cast<QInputDialog *>(modal))
        input->accept();
    else
        modal->close();
}
