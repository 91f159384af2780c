#include "quakemlgenerator.h"

#include <QDateTime>

#include <random>

namespace {

class Writer
{
public:
    explicit Writer(unsigned seed) : m_random(seed) {}

    double uniform(double low, double high)
    {
        return std::uniform_real_distribution<double>(low, high)(m_random);
    }
    int integer(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

    QByteArray number(double value, int decimals) { return QByteArray::number(value, 'f', decimals); }

    void line(int indent, const QByteArray &text)
    {
        // Like some of GeoNet's own replies: no indentation.
        Q_UNUSED(indent);
        m_out.append(text);
        m_out.append('\n');
    }

    void quantity(int indent, const char *name, const QByteArray &value, const QByteArray &uncertainty)
    {
        line(indent, QByteArray("<") + name + '>');
        line(indent + 1, "<value>" + value + "</value>");
        if (!uncertainty.isEmpty())
            line(indent + 1, "<uncertainty>" + uncertainty + "</uncertainty>");
        line(indent, QByteArray("</") + name + '>');
    }

    void event(int index)
    {
        static const char *const phases[] = { "P", "S", "PG", "SG", "PN", "P*" };
        static const char *const stations[] = { "WEL", "RPZ", "THZ", "KHZ", "BFZ", "TUZ", "HOWZ", "DSZ" };
        const QByteArray id = QByteArray::number(3366146 + index * 7 + integer(0, 6)) + 'g';
        const QDateTime time = QDateTime(QDate(2009, 7, 14), QTime(9, 22, 29), Qt::UTC)
                                   .addSecs(-qint64(index) * 1260 - integer(0, 1200));
        const QByteArray when = time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
        const QByteArray pick = QByteArray::number(7925709 + index * 3);

        line(2, "<event publicID=\"smi:geonet.org.nz/event/" + id + "\">");
        line(3, "<type>earthquake</type>");
        line(3, "<preferredOriginID>smi:geonet.org.nz/origin/" + id + "/1</preferredOriginID>");
        line(3, "<origin publicID=\"smi:geonet.org.nz/origin/" + id + "/1\">");
        line(4, "<evaluationMode>" + QByteArray(integer(0, 3) ? "manual" : "automatic") + "</evaluationMode>");
        line(4, "<evaluationStatus>confirmed</evaluationStatus>");
        quantity(4, "time", when, number(uniform(0.05, 0.5), 5));
        quantity(4, "latitude", number(uniform(-47.5, -34.0), 5), QByteArray());
        quantity(4, "longitude", number(uniform(166.0, 179.0), 5), QByteArray());
        quantity(4, "depth", number(uniform(0, 300), 4), number(uniform(0, 3), 4));
        line(4, "<depthType>from location</depthType>");
        line(4, "<quality>");
        line(5, "<usedPhaseCount>" + QByteArray::number(integer(4, 40)) + "</usedPhaseCount>");
        line(5, "<standardError>" + number(uniform(0.05, 0.5), 5) + "</standardError>");
        line(4, "</quality>");
        for (int a = 0; a < 2; ++a) {
            line(4, "<arrival weight=\"" + number(uniform(0, 1), 2) + "\">");
            line(5, "<pickID>smi:geonet.org.nz/pick/" + pick + "</pickID>");
            line(5, QByteArray("<phase>") + phases[integer(0, 5)] + "</phase>");
            line(5, "<distance>" + number(uniform(5, 300), 4) + "</distance>");
            line(5, "<residual>" + number(uniform(-1, 1), 3) + "</residual>");
            line(4, "</arrival>");
        }
        line(4, "<stationMagnitude>");
        line(5, "<id>smi:geonet.org.nz/stnmag/" + id + "/ML/1</id>");
        quantity(5, "mag", number(uniform(1, 6), 3), QByteArray());
        line(5, QByteArray("<waveformID channelCode=\"HHZ\" stationCode=\"") + stations[integer(0, 7)]
                    + "\" networkCode=\"NZ\"/>");
        line(4, "</stationMagnitude>");
        line(3, "</origin>");
        line(3, "<magnitude publicID=\"smi:geonet.org.nz/magnitude/" + id + "/ML\">");
        quantity(4, "mag", number(uniform(1, 7), 3), number(uniform(0, 0.3), 3));
        line(4, "<type>ML</type>");
        line(4, "<stationCount>" + QByteArray::number(integer(3, 80)) + "</stationCount>");
        line(4, "<originID>smi:geonet.org.nz/origin/" + id + "/1</originID>");
        line(3, "</magnitude>");
        for (int p = 0; p < 1; ++p) {
            line(3, "<pick publicID=\"smi:geonet.org.nz/pick/" + pick + "\">");
            quantity(4, "time", when, number(uniform(0, 0.3), 3));
            line(4, QByteArray("<waveformID channelCode=\"EHZ\" stationCode=\"") + stations[integer(0, 7)]
                        + "\" networkCode=\"NZ\"/>");
            line(4, QByteArray("<phaseHint>") + phases[integer(0, 1)] + "</phaseHint>");
            line(4, "<evaluationMode>automatic</evaluationMode>");
            line(3, "</pick>");
        }
        line(3, "<amplitude publicID=\"smi:geonet.org.nz/amplitude/" + pick + "\">");
        quantity(4, "genericAmplitude", number(uniform(1e-6, 1e-3), 9), QByteArray());
        line(4, "<type>ML</type>");
        line(3, "</amplitude>");
        line(2, "</event>");
    }

    QByteArray document(int events)
    {
        m_out.reserve(qsizetype(events) * 1850 + 512);
        m_out.append("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n");
        m_out.append("<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\">\n");
        line(1, "<eventParameters publicID=\"smi:geonet.org.nz/quakeml/1.0.1\">");
        for (int i = 0; i < events; ++i)
            event(i);
        line(1, "</eventParameters>");
        m_out.append("</quakeml>\n");
        return std::move(m_out);
    }

private:
    std::mt19937 m_random;
    QByteArray m_out;
};

} // namespace

QByteArray generateQuakeML(int events, unsigned seed)
{
    return Writer(seed).document(events);
}
