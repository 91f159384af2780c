#include "upstream/upstream.h"

#include "catalogue/catalogue.h"

#include <QTemporaryFile>

#include <algorithm>

namespace {

// An event that the upstream has withdrawn.
bool isWithdrawn(const EventRow &row)
{
    return row.eventType.compare(QLatin1String("not existing"), Qt::CaseInsensitive) == 0
        || row.evaluationStatus.compare(QLatin1String("deleted"), Qt::CaseInsensitive) == 0;
}

// The upstream is asked a little wider than the window (its bounds may be
// strict where ours are inclusive); what is kept is exactly the window.
bool inWindow(const EventRow &row, const UpstreamWindow &window)
{
    if (row.originTimeUs < window.startUs || row.originTimeUs >= window.endUs)
        return false;
    if (isWithdrawn(row))
        return true;
    if (window.minMagnitude && (!row.magnitude || *row.magnitude < *window.minMagnitude))
        return false;
    if (window.maxMagnitude && row.magnitude && *row.magnitude > *window.maxMagnitude)
        return false;
    return window.region.contains(row.latitude, row.longitude, row.depthKm);
}

} // namespace

Upstream::Upstream(const QUrl &url, const Options &options, std::unique_ptr<UpstreamClient> client)
    : m_url(url)
    , m_options(options)
    , m_client(std::move(client))
{
}

Upstream::~Upstream() = default;

QString Upstream::name() const
{
    return Catalogue::agencyOf(m_url.toString());
}

FetchReport Upstream::fetch(const Catalogue &catalogue, const UpstreamWindow &window, const FetchPlan &plan)
{
    FetchReport report;
    if (isUnreachable()) {
        report.error = QStringLiteral("could not establish connection (a moment ago; asked again within a minute)");
        return report;
    }
    // The pieces form a tree of halves. A piece is recorded as fetched with
    // the last of its halves, so that a later fetch skips a whole subtree
    // and asks again only for the pieces on the way to what is missing.
    struct Piece
    {
        UpstreamWindow window;
        int parent;
        int halvesLeft;
    };
    std::vector<Piece> pieces = { { window, -1, 0 } };
    std::vector<int> pending = { 0 };
    // The larger pieces that a piece completes: those of which it is the
    // last half left, up the tree. done() counts it as stored.
    const auto completed = [&pieces](int index) {
        std::vector<UpstreamWindow> whole;
        for (int parent = pieces[std::size_t(index)].parent; parent >= 0; parent = pieces[std::size_t(parent)].parent) {
            if (pieces[std::size_t(parent)].halvesLeft > 1)
                break;
            whole.push_back(pieces[std::size_t(parent)].window);
        }
        return whole;
    };
    const auto done = [&pieces](int index) {
        for (int parent = pieces[std::size_t(index)].parent; parent >= 0; parent = pieces[std::size_t(parent)].parent) {
            if (--pieces[std::size_t(parent)].halvesLeft > 0)
                break;
        }
    };
    while (!pending.empty()) {
        const int index = pending.back();
        const UpstreamWindow piece = pieces[std::size_t(index)].window;
        if (plan.keepPiecesSinceUs && catalogue.isFetched(key(), piece, *plan.keepPiecesSinceUs)) {
            pending.pop_back();
            ++report.piecesDone;
            const std::vector<UpstreamWindow> whole = completed(index);
            if (!whole.empty()) {
                if (const Fetched stored = store(catalogue, std::nullopt, nullptr, std::nullopt, whole, true, report);
                    stored.answer == Answer::Failed) {
                    report.error = stored.error;
                    return report;
                }
            }
            done(index);
            continue;
        }
        // Each fetch stores at least one piece, so that every one makes progress.
        if (plan.stopStartingAt && Clock::now() >= *plan.stopStartingAt && report.piecesStored > 0) {
            report.complete = false;
            return report;
        }
        pending.pop_back();

        std::vector<Unseen> unseen;
        const Fetched fetched = fetchWindow(catalogue, piece, completed(index), true, report, unseen);
        if (fetched.answer == Answer::Failed) {
            report.error = fetched.error;
            return report;
        }
        if (fetched.answer == Answer::TooBig) {
            if (piece.endUs - piece.startUs <= 2 * std::int64_t(1000000)) {
                report.error = QStringLiteral("%1, even within two seconds").arg(fetched.error);
                report.refusedAsTooBig = true;
                return report;
            }
            UpstreamWindow early = piece, late = piece;
            early.endUs = late.startUs = piece.startUs + (piece.endUs - piece.startUs) / 2;
            pieces[std::size_t(index)].halvesLeft = 2;
            pieces.push_back({ late, index, 0 });
            pending.push_back(int(pieces.size()) - 1);
            pieces.push_back({ early, index, 0 });
            pending.push_back(int(pieces.size()) - 1);
            continue;
        }
        done(index);
        if (!unseen.empty() && !confirmGone(catalogue, piece, std::move(unseen), report))
            return report;
    }
    return report;
}

Upstream::Fetched Upstream::store(const Catalogue &catalogue, const std::optional<UpstreamWindow> &stored,
                                 QIODevice *body, std::optional<qint64> expected,
                                 const std::vector<UpstreamWindow> &whole, bool record, FetchReport &report,
                                 std::vector<Unseen> *unseen)
{
    const std::unique_ptr<Catalogue::Writer> made = catalogue.writer(key());
    Catalogue::Writer &writer = *made;
    const auto failed = [](const QString &why) { return Fetched { Answer::Failed, why }; };
    if (!writer.begin())
        return failed(QStringLiteral("the catalogue cannot be written: %1").arg(writer.error()));
    QString writeError;
    const UpstreamWindow piece = stored.value_or(UpstreamWindow());
    if (body) {
        const ReadOutcome outcome = m_client->read(*body, [&](const EventRow &row) {
            if (!writeError.isEmpty() || !inWindow(row, piece))
                return;
            if (!(isWithdrawn(row) ? writer.remove(row.publicId) : writer.write(row)))
                writeError = writer.error();
        });
        const QString format = m_client->format();
        if (outcome.failed())
            return failed(QStringLiteral("the reply is not %1 (line %2: %3)").arg(format).arg(outcome.errorLine).arg(outcome.error));
        if (outcome.format != format)
            return failed(QStringLiteral("the reply is %1, not %2").arg(outcome.format, format));
        // A reply with fewer rows than the service announced was cut short.
        const qint64 rows = outcome.rows + outcome.skippedRows();
        if (expected && rows < *expected)
            return failed(QStringLiteral("the reply holds %1 of the %2 events that the service counted").arg(rows).arg(*expected));
        // One that holds as many as a reply may was cut there, most likely.
        if (rows >= m_options.quakeSearchLimit)
            return { Answer::TooBig, QStringLiteral("the reply holds %1 events, as many as one reply may").arg(rows) };
        report.skipped += outcome.skippedRows();
    }
    // What the upstream no longer holds in the box may be gone there too;
    // a window of what changed after a time says nothing of the rest.
    if (stored && unseen && writeError.isEmpty() && !piece.updatedAfterUs && !writer.unseen(piece, unseen))
        writeError = writer.error();
    bool recorded = !stored || !record || writer.recordFetched(key(), piece);
    for (const UpstreamWindow &window : whole)
        recorded = recorded && writer.recordFetched(key(), window);
    if (!writeError.isEmpty() || !recorded || !writer.commit())
        return failed(QStringLiteral("the catalogue cannot be written: %1").arg(writeError.isEmpty() ? writer.error() : writeError));
    report.added += writer.added();
    report.updated += writer.updated();
    report.removed += writer.removed();
    report.piecesStored += stored && record ? 1 : 0;
    return { body ? Answer::Events : Answer::Nothing, QString() };
}

bool Upstream::confirmGone(const Catalogue &catalogue, const UpstreamWindow &window, std::vector<Unseen> missing,
                           FetchReport &report)
{
    constexpr std::int64_t secondUs = 1000000;
    // A revision may move an event's time out of the window (past its end,
    // into the next day): it is looked for this far either side of the
    // time it had.
    constexpr std::int64_t revisedUs = 60 * secondUs;
    // A few events, or a window too short to halve: each is asked for in
    // the two minutes around it, which no cap cuts.
    if (missing.size() <= 2 || window.endUs - window.startUs <= 2 * secondUs) {
        for (const Unseen &event : missing) {
            // Anywhere: an event moved out of the region is not gone.
            UpstreamWindow own = window;
            own.startUs = event.originTimeUs - revisedUs;
            own.endUs = event.originTimeUs + revisedUs;
            own.region = SearchRegion();
            std::vector<Unseen> unseen;
            const Fetched fetched = fetchWindow(catalogue, own, {}, false, report, unseen);
            if (fetched.answer == Answer::Failed || fetched.answer == Answer::TooBig) {
                report.error = fetched.error;
                return false;
            }
            const bool gone = std::any_of(unseen.begin(), unseen.end(),
                                          [&](const Unseen &other) { return other.publicId == event.publicId; });
            if (gone && !letGo(catalogue, { event }, report))
                return false;
        }
        return true;
    }
    UpstreamWindow early = window, late = window;
    early.endUs = late.startUs = window.startUs + (window.endUs - window.startUs) / 2;
    for (const UpstreamWindow &half : { early, late }) {
        std::vector<Unseen> inHalf;
        for (const Unseen &event : missing) {
            if (event.originTimeUs >= half.startUs && event.originTimeUs < half.endUs)
                inHalf.push_back(event);
        }
        if (inHalf.empty())
            continue;
        std::vector<Unseen> unseen;
        const Fetched fetched = fetchWindow(catalogue, half, {}, false, report, unseen);
        const Answer answer = fetched.answer;
        if (answer == Answer::Failed) {
            report.error = fetched.error;
            return false;
        }
        if (answer == Answer::Nothing) {
            if (!letGo(catalogue, inHalf, report))
                return false;
            continue;
        }
        // Still missing from the half's reply, or the half too big to say.
        std::vector<Unseen> still;
        for (Unseen &event : inHalf) {
            if (answer == Answer::TooBig
                || std::any_of(unseen.begin(), unseen.end(),
                               [&](const Unseen &other) { return other.publicId == event.publicId; }))
                still.push_back(std::move(event));
        }
        if (!still.empty() && !confirmGone(catalogue, half, std::move(still), report))
            return false;
    }
    return true;
}

Upstream::Fetched Upstream::fetchWindow(const Catalogue &catalogue, const UpstreamWindow &window,
                                        const std::vector<UpstreamWindow> &whole, bool record, FetchReport &report,
                                        std::vector<Unseen> &unseen)
{
    QTemporaryFile body;
    const UpstreamClient::Asked asked = m_client->ask(window, body, report.requests);
    if (asked.answer == Answer::Failed || asked.answer == Answer::TooBig)
        return { asked.answer, asked.error };
    if (asked.answer == Answer::Events)
        body.seek(0);
    return store(catalogue, window, asked.answer == Answer::Events ? &body : nullptr, asked.expected, whole, record,
                 report, &unseen);
}

bool Upstream::letGo(const Catalogue &catalogue, const std::vector<Unseen> &gone, FetchReport &report)
{
    const std::unique_ptr<Catalogue::Writer> made = catalogue.writer(key());
    Catalogue::Writer &writer = *made;
    bool written = writer.begin();
    for (std::size_t i = 0; written && i < gone.size(); ++i)
        written = writer.remove(gone[i].publicId);
    if (!written || !writer.commit()) {
        report.error = QStringLiteral("the catalogue cannot be written: %1").arg(writer.error());
        return false;
    }
    report.removed += writer.removed();
    report.confirmed += int(gone.size());
    return true;
}
