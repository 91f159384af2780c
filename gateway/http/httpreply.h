#pragma once

// What a route answers: a status, a type and a body, or a body streamed in
// pieces, and header fields of its own; or the promise of one, made once
// some slow work (asking another server) is done.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <QString>

struct HttpReply
{
    static constexpr const char *xmlType = "application/xml; charset=utf-8";
    static constexpr const char *htmlType = "text/html; charset=utf-8";
    static constexpr const char *textType = "text/plain; charset=utf-8";

    // No reply at all: the connection is closed (it was answered already).
    static constexpr int Unanswered = -1;

    int status = 200;
    const char *type = textType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // A streamed body: called for each piece until it sets last; false
    // ends the reply cut, so that the client sees it broken.
    std::function<bool(std::string &piece, bool &last)> stream;
    // A reply made later: work runs on a thread that may wait, then
    // finish completes this reply (status, body, more header fields). When
    // the server is stopping, finish runs without the work.
    std::function<void()> work;
    std::function<void(HttpReply &)> finish;

    void defer(std::function<void()> slowWork, std::function<void(HttpReply &)> then)
    {
        work = std::move(slowWork);
        finish = std::move(then);
    }

    // A one-line plain-text reason.
    void text(int code, const QString &line)
    {
        status = code;
        type = textType;
        // One line whatever the reason quotes: a control character is shown as '?'.
        QString shown = line;
        for (QChar &c : shown) {
            if (c.category() == QChar::Other_Control)
                c = u'?';
        }
        body = shown.toStdString() + '\n';
    }
};
