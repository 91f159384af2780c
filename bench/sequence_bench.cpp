// Measures the studies of a sequence over the shipped catalogue (GeoNet's
// moment tensors since 2003 and its 2024 to 2026 rapid catalogue, every
// event with a magnitude): declustering
// by nearest neighbours and by Gardner and Knopoff's window, the study of
// Kaikoura's sequence, and b over time of 100,000 magnitudes.
// Prints one line of key=value pairs.
//
//   sequence_bench DATA_DIR

#include "geo/decluster.h"
#include "geo/sequencestudy.h"
#include "geo/statistics.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: sequence_bench DATA_DIR\n");
        return 2;
    }
    // As the gateway imports them: the moment tensors (Mw) first, then the
    // MLNZ20 rows, which replace them where both hold an event.
    std::map<std::string, QuakePoint> byId;
    const QString folder = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/geonet/");
    QFile tensors(folder + QStringLiteral("GeoNet_CMT_solutions.csv"));
    if (!tensors.open(QIODevice::ReadOnly))
        return 1;
    tensors.readLine();
    while (!tensors.atEnd()) {
        const QList<QByteArray> f = tensors.readLine().trimmed().split(',');
        if (f.size() < 12 || f.at(11).isEmpty())
            continue;
        const QDateTime time = QDateTime::fromString(QString::fromLatin1(f.at(1)), QStringLiteral("yyyyMMddHHmmss"));
        byId[f.at(0).toStdString()] = { QDateTime(time.date(), time.time(), Qt::UTC).toMSecsSinceEpoch() / 1000.0,
                                        f.at(2).toDouble(), f.at(3).toDouble(), f.at(11).toDouble(), f.at(0).toStdString() };
    }
    for (const char *year : { "2024", "2025", "2026" }) {
        QFile file(folder + QStringLiteral("MLNZ20_RapidEvents_%1.csv").arg(QLatin1String(year)));
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        file.readLine();
        while (!file.atEnd()) {
            const QList<QByteArray> f = file.readLine().trimmed().split(',');
            if (f.size() < 8 || f.at(7).isEmpty())
                continue;
            byId[f.at(0).toStdString()] = { QDateTime::fromString(QString::fromLatin1(f.at(1)), Qt::ISODateWithMs).toMSecsSinceEpoch() / 1000.0,
                                            f.at(2).toDouble(), f.at(3).toDouble(), f.at(7).toDouble(), f.at(0).toStdString() };
        }
    }
    std::vector<QuakePoint> events;
    for (auto &entry : byId)
        events.push_back(std::move(entry.second));
    SequenceStudy::sortByTime(events);
    QElapsedTimer clock;
    clock.start();
    const Decluster::NearestNeighbours nn = Decluster::nearestNeighbours(events);
    const double nnSeconds = clock.nsecsElapsed() / 1e9;
    clock.restart();
    const std::vector<Decluster::Membership> gk = Decluster::gardnerKnopoff(events);
    const double gkSeconds = clock.nsecsElapsed() / 1e9;

    // Kaikoura's M7.8 of 2016-11-13, whose sequence the moment tensors hold.
    const auto kaikoura = std::find_if(events.begin(), events.end(), [](const QuakePoint &e) { return e.id == "2016p858000"; });
    if (kaikoura == events.end())
        return 1;
    clock.restart();
    const SequenceStudy::Study study = SequenceStudy::study(*kaikoura, events, std::nullopt, std::nullopt, events.back().time);
    const double studyMs = clock.nsecsElapsed() / 1e6;

    QRandomGenerator random(20261209);
    std::vector<double> magnitudes;
    for (int i = 0; i < 100000; ++i)
        magnitudes.push_back(std::round((1.95 - std::log10(1 - random.generateDouble())) * 10) / 10);
    clock.restart();
    const std::vector<Statistics::BAt> series = Statistics::bOverTime(magnitudes, 2.0);
    const double bTimeMs = clock.nsecsElapsed() / 1e6;

    std::printf("stage=sequence events=%zu nn_seconds=%.3f nn_clusters=%d nn_threshold=%.2f gk_seconds=%.3f gk_clusters=%d "
                "study_ms=%.1f study_size=%zu study_fitted=%d btime_ms=%.1f btime_windows=%zu\n",
                events.size(), nnSeconds, Decluster::clusterCount(nn.memberships), nn.threshold.value_or(NAN), gkSeconds,
                Decluster::clusterCount(gk), studyMs, study.events.size(), study.omori ? 1 : 0, bTimeMs, series.size());
    return 0;
}
