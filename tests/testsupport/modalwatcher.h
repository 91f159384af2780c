#pragma once

// Answers the modal dialogs that the code under test opens: it records each
// dialog's title and text, then closes it. A dialog is looked for every few
// milliseconds, so nested event loops of message boxes are served too.

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QWidget;

class ModalWatcher : public QObject
{
    Q_OBJECT

public:
    struct Seen
    {
        QString className;
        QString title;
        QString text;         // message box text, or input dialog label
        QString inputValue;   // input dialog's initial text
    };

    explicit ModalWatcher(QObject *parent = nullptr);

    // Called with each dialog before it is closed, e.g. to edit an input field.
    void setAction(std::function<void(QWidget *)> action) { m_action = std::move(action); }

    QList<Seen> seen() const { return m_seen; }
    int count() const { return int(m_seen.size()); }
    void clear() { m_seen.clear(); }

private slots:
    void poll();

private:
    QTimer m_timer;
    QList<Seen> m_seen;
    std::function<void(QWidget *)> m_action;
};
