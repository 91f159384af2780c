#pragma once

// An upstream is a live catalogue service that the gateway copies from:
// GeoNet's quake search service, or the FDSN event service of any agency,
// each asked through its client (upstream/upstreamclient.h). Upstream is
// the mirror: fetch() brings one window of time and magnitude into the
// catalogue, in as many pieces as the service's cap on a reply asks for,
// each stored and recorded as fetched in a transaction of its own.

#include "catalogue/catalogue.h"
#include "catalogue/windows.h"
#include "upstream/upstreamclient.h"
#include "upstream/upstreamhttp.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

struct FetchReport
{
    qint64 added = 0;
    qint64 updated = 0;
    qint64 removed = 0;
    qint64 skipped = 0;
    int requests = 0;
    int piecesStored = 0;
    int piecesDone = 0;      // stored by an earlier fetch, not asked for again
    int confirmed = 0;       // events missing from a reply that narrower requests confirmed gone
    bool complete = true;    // false when the time allowed ran out first
    QString error;           // why the fetch failed; empty on success
    // The upstream refuses even the smallest piece as too big: asking the
    // same again will not help, so a sync goes on past the window.
    bool refusedAsTooBig = false;

    bool failed() const { return !error.isEmpty(); }
};

// How one fetch goes about a window.
struct FetchPlan
{
    // Pieces recorded as fetched at or after this (UTC microseconds) are
    // not asked for again; nothing, to ask for every piece.
    std::optional<std::int64_t> keepPiecesSinceUs;
    // No new piece is started after this, once one has been stored; the
    // pieces stored so far stay, and the next fetch of the window goes on
    // from there.
    std::optional<std::chrono::steady_clock::time_point> stopStartingAt;
};

class Upstream
{
public:
    using Options = UpstreamOptions;
    using Clock = std::chrono::steady_clock;
    using Answer = UpstreamClient::Answer;

    // An FDSN service when the path ends in fdsnws/event/1/, a quake search
    // service otherwise; nothing, with a reason, for a URL that is neither
    // (upstream/clientforurl.cpp).
    static std::unique_ptr<Upstream> forUrl(const QString &url, const Options &options, QString *error);

    Upstream(const QUrl &url, const Options &options, std::unique_ptr<UpstreamClient> client);
    ~Upstream();

    QUrl url() const { return m_url; }
    // The source of the events it stores, and the key of its windows.
    QString key() const { return m_url.toString(); }
    // "GeoNet" for GeoNet's services, the host otherwise.
    QString name() const;

    // Brings one window into the catalogue in pieces: each piece is
    // downloaded whole, then stored in one transaction that also records
    // it, so that the write lock is never held while downloading. A piece
    // holds exactly what the upstream holds in its box (unless the window
    // asks only for what changed after a time): but a service may cut a
    // reply short without saying so, so an event of this upstream that a
    // reply lacks is let go only once a narrower request that must hold it
    // (its half of the piece, down to its own second) lacks it too. On a
    // failure the pieces stored before it stay, and nothing of the failed
    // one is stored.
    FetchReport fetch(const Catalogue &catalogue, const UpstreamWindow &window, const FetchPlan &plan = FetchPlan());

    int timeoutSeconds() const { return m_options.timeoutSeconds; }
    // Whether a connection failed lately, so that it is not asked now.
    bool isUnreachable() const { return m_client->isUnreachable(); }

private:
    using Unseen = Catalogue::Writer::Unseen;
    // What became of a window asked for and stored: Failed when either
    // failed, TooBig when the service refuses the window or its reply was
    // cut at the limit (nothing stored), else Events or Nothing; why, for
    // the first two.
    struct Fetched
    {
        Answer answer;
        QString error;
    };
    // Stores one piece (body null: the upstream holds nothing there), and,
    // when record is set, records it and the larger pieces that it
    // completes as fetched. unseen gets this upstream's events in the
    // piece's box that the reply lacks.
    Fetched store(const Catalogue &catalogue, const std::optional<UpstreamWindow> &piece, QIODevice *body,
                  std::optional<qint64> expected, const std::vector<UpstreamWindow> &whole, bool record,
                  FetchReport &report, std::vector<Unseen> *unseen = nullptr);
    // Asks for a window and stores what comes back (see store).
    Fetched fetchWindow(const Catalogue &catalogue, const UpstreamWindow &window,
                        const std::vector<UpstreamWindow> &whole, bool record, FetchReport &report,
                        std::vector<Unseen> &unseen);
    // Asks narrower windows inside this one for the events that a reply of
    // it lacked, and lets go of those that they lack too.
    bool confirmGone(const Catalogue &catalogue, const UpstreamWindow &window, std::vector<Unseen> missing,
                     FetchReport &report);
    bool letGo(const Catalogue &catalogue, const std::vector<Unseen> &gone, FetchReport &report);

    const QUrl m_url;
    const Options m_options;
    const std::unique_ptr<UpstreamClient> m_client;
};
