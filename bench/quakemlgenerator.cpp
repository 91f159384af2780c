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

    // One element or tag a line and, like some of GeoNet's own replies, no
    // indentation.
    void line(const QByteArray &text)
    {
        m_out.append(text);
        m_out.append('\n');
    }

    void quantity(const char *name, const QByteArray &value, const QByteArray &uncertainty)
    {
        line(QByteArray("<") + name + '>');
        line("<value>" + value + "</value>");
        if (!uncertainty.isEmpty())
            line("<uncertainty>" + uncertainty + "</uncertainty>");
        line(QByteArray("</") + name + '>');
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

        line("<event publicID=\"smi:geonet.org.nz/event/" + id + "\">");
        line("<type>earthquake</type>");
        line("<preferredOriginID>smi:geonet.org.nz/origin/" + id + "/1</preferredOriginID>");
        line("<origin publicID=\"smi:geonet.org.nz/origin/" + id + "/1\">");
        line("<evaluationMode>" + QByteArray(integer(0, 3) ? "manual" : "automatic") + "</evaluationMode>");
        line("<evaluationStatus>confirmed</evaluationStatus>");
        quantity("time", when, number(uniform(0.05, 0.5), 5));
        quantity("latitude", number(uniform(-47.5, -34.0), 5), QByteArray());
        quantity("longitude", number(uniform(166.0, 179.0), 5), QByteArray());
        quantity("depth", number(uniform(0, 300), 4), number(uniform(0, 3), 4));
        line("<depthType>from location</depthType>");
        line("<quality>");
        line("<usedPhaseCount>" + QByteArray::number(integer(4, 40)) + "</usedPhaseCount>");
        line("<standardError>" + number(uniform(0.05, 0.5), 5) + "</standardError>");
        line("</quality>");
        for (int a = 0; a < 2; ++a) {
            line("<arrival weight=\"" + number(uniform(0, 1), 2) + "\">");
            line("<pickID>smi:geonet.org.nz/pick/" + pick + "</pickID>");
            line(QByteArray("<phase>") + phases[integer(0, 5)] + "</phase>");
            line("<distance>" + number(uniform(5, 300), 4) + "</distance>");
            line("<residual>" + number(uniform(-1, 1), 3) + "</residual>");
            line("</arrival>");
        }
        line("<stationMagnitude>");
        line("<id>smi:geonet.org.nz/stnmag/" + id + "/ML/1</id>");
        quantity("mag", number(uniform(1, 6), 3), QByteArray());
        line(QByteArray("<waveformID channelCode=\"HHZ\" stationCode=\"") + stations[integer(0, 7)]
                    + "\" networkCode=\"NZ\"/>");
        line("</stationMagnitude>");
        line("</origin>");
        line("<magnitude publicID=\"smi:geonet.org.nz/magnitude/" + id + "/ML\">");
        quantity("mag", number(uniform(1, 7), 3), number(uniform(0, 0.3), 3));
        line("<type>ML</type>");
        line("<stationCount>" + QByteArray::number(integer(3, 80)) + "</stationCount>");
        line("<originID>smi:geonet.org.nz/origin/" + id + "/1</originID>");
        line("</magnitude>");
        for (int p = 0; p < 1; ++p) {
            line("<pick publicID=\"smi:geonet.org.nz/pick/" + pick + "\">");
            quantity("time", when, number(uniform(0, 0.3), 3));
            line(QByteArray("<waveformID channelCode=\"EHZ\" stationCode=\"") + stations[integer(0, 7)]
                        + "\" networkCode=\"NZ\"/>");
            line(QByteArray("<phaseHint>") + phases[integer(0, 1)] + "</phaseHint>");
            line("<evaluationMode>automatic</evaluationMode>");
            line("</pick>");
        }
        line("<amplitude publicID=\"smi:geonet.org.nz/amplitude/" + pick + "\">");
        quantity("genericAmplitude", number(uniform(1e-6, 1e-3), 9), QByteArray());
        line("<type>ML</type>");
        line("</amplitude>");
        line("</event>");
    }

    QByteArray document(int events)
    {
        m_out.reserve(qsizetype(events) * 1850 + 512);
        m_out.append("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n");
        m_out.append("<quakeml xmlns=\"http://quakeml.org/xmlns/quakeml/1.0\">\n");
        line("<eventParameters publicID=\"smi:geonet.org.nz/quakeml/1.0.1\">");
        for (int i = 0; i < events; ++i)
            event(i);
        line("</eventParameters>");
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
