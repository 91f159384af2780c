#pragma once

// QuakeEventParser reads one QuakeML <event> from a shared QXmlStreamReader
// into one record: an event identifier and a field map of display texts.
// The constructor does all the reading and leaves the reader on the event's
// end tag (or wherever the document ended or broke). Parsing never fails:
// missing or unreadable values take defaults, unknown elements are skipped.

#include "quakeml/quakeeventrecord.h"

#include <QString>
#include <QStringView>

#include <map>
#include <optional>
#include <string>

class QXmlStreamReader;

class QuakeEventParser
{
public:
    // What reading takes from one <event>: the texts of its values as the
    // reply gave them (those of its last origin and last magnitude), before
    // anything is made of them. Reading and converting are apart so that a
    // big reply can be read on one thread while another converts.
    struct Texts
    {
        QString raw[RawEvent::FieldCount];
        bool hasOrigin = false;
        bool hasMagnitude = false;
    };

    // Reads the event the reader stands on and converts it.
    explicit QuakeEventParser(QXmlStreamReader &reader);
    // Converts texts that readTexts read.
    explicit QuakeEventParser(Texts texts);
    ~QuakeEventParser();

    QuakeEventParser(const QuakeEventParser &) = delete;
    QuakeEventParser &operator=(const QuakeEventParser &) = delete;

    // Reads the event the reader stands on, through its end tag, and
    // converts nothing.
    static Texts readTexts(QXmlStreamReader &reader);

    void getQuakeEvent(std::string &eventId, std::map<std::string, std::string> &fields);

    // Moves the record out; the cheap way for a caller that discards the parser.
    void takeQuakeEvent(std::string &eventId, std::map<std::string, std::string> &fields);

    // The numbers behind the record's texts, NaN where a value is missing.
    QuakeLocation location() const { return m_location; }
    // The origin time, seconds since 1970 (UTC), NaN when it is missing.
    double utcSeconds() const { return m_utcSeconds; }
    // Where the identifier holds the reference id: from its second
    // character, this many; npos when the event has no origin.
    std::size_t referenceLength() const { return m_referenceLength; }
    // The reply's own texts of the values, for exports.
    RawEvent rawEvent(const std::string *eventId) const;

    // Gives the texts back once nothing more is wanted of the parser, for
    // the thread that read them to free.
    Texts takeTexts() { return std::move(m_texts); }

    // True when the event's last <type> read "earthquake" and it has fields.
    bool isEarthquake() const { return m_isEarthquake; }

    void parseEvent(QXmlStreamReader &reader);
    void parseOrigin(QXmlStreamReader &reader);
    void parseMagnitude(QXmlStreamReader &reader);
    QString parseElementWithValue(QXmlStreamReader &reader);
    void skipUnknownElement(QXmlStreamReader &reader);

    static std::string createEventID(const QString &publicId);
    static std::string zuluToNZTime(const QString &zuluTime);
    static std::string stringWithDouble(double value, const char *unit);
    // The value of a number text, or nothing when it is not a finite number.
    static std::optional<double> numberOf(const QString &text);

private:
    QuakeEventParser();
    // Makes the identifier, the fields and the numbers from m_texts.
    void convert();

    Texts m_texts;
    bool m_isEarthquake = false;
    std::string m_eventId;
    QuakeFieldMap m_fields;
    QuakeLocation m_location;
    double m_utcSeconds;
    std::size_t m_referenceLength = std::string::npos;
};
