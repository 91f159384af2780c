#pragma once

// How work that a person may cancel ended: done, cancelled, or failed with
// a reason. A cancel is never a failure without one.

#include <QString>

struct Outcome
{
    enum Kind { Done, Cancelled, Failed };

    Kind kind = Done;
    QString error;   // why, when Failed

    static Outcome done() { return {}; }
    static Outcome cancelled() { return { Cancelled, QString() }; }
    static Outcome failed(const QString &why) { return { Failed, why }; }
};
