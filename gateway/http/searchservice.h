#pragma once

// Harvix's search (/services/quake/search): QuakeML 1.0 streamed from one
// forward-only query of the catalogue. With an upstream, a search first
// brings the catalogue up to date for its window, unless that window was
// fetched in the last minutes; it starts no new piece of the window after
// the seconds given.

#include "http/httpreply.h"

#include <cstdint>
#include <string_view>

class Catalogue;
class Upstream;
struct SearchQuery;

class SearchService
{
public:
    static constexpr const char *path = "/services/quake/search";

    explicit SearchService(const Catalogue &catalogue) : m_catalogue(catalogue) {}

    void setUpstream(Upstream *upstream, int refreshAfterMinutes, int seconds);

    // query: the raw query string. A search that must ask the upstream
    // first is deferred (HttpReply::defer).
    void answer(std::string_view query, HttpReply &reply) const;

private:
    struct Refresh
    {
        QString failure;        // why the upstream failed, if it did
        bool partial = false;   // the time ran out before the window was whole
    };
    Refresh refreshFromUpstream(const SearchQuery &query) const;
    void reply(const SearchQuery &query, const Refresh &refresh, HttpReply &reply) const;
    // Windows fetched at or after this (UTC microseconds) are fresh enough.
    std::int64_t freshSinceUs() const;
    // On an empty answer to a search beyond what the catalogue holds: the
    // days it holds (Harvix-Catalogue-Range: 2003-08-21/2026-06-30, UTC),
    // and the upstream that could not be asked (Harvix-Upstream-Failed).
    void describeCoverage(const SearchQuery &query, HttpReply &reply) const;

    const Catalogue &m_catalogue;
    Upstream *m_upstream = nullptr;
    int m_refreshAfterMinutes = 5;
    int m_upstreamSeconds = 20;
};
