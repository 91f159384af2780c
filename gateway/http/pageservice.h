#pragma once

// The gateway's pages: its home page, with a map of the whole catalogue
// and a magnitude-time plot (made again only when the catalogue changes),
// and the page of one event among its neighbours.

#include "catalogue/catalogue.h"
#include "http/httpreply.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

class Upstream;

class PageService
{
public:
    static constexpr const char *eventRoot = "/services/quake/quakeml/1.0.1/ref/";

    explicit PageService(const Catalogue &catalogue) : m_catalogue(catalogue) {}

    // The upstream the catalogue copies from, for the home page to say when
    // it last heard from it; null for none.
    void setUpstream(const Upstream *upstream) { m_upstream = upstream; }
    // searchUrl: where the home page's form sends its searches.
    void home(const QString &searchUrl, HttpReply &reply);
    void event(const QString &id, HttpReply &reply) const;
    void notFound(const QString &path, HttpReply &reply) const;

private:
    // What the home page shows of the catalogue: its sources and pictures,
    // made again only when the catalogue has changed.
    struct Home
    {
        QList<Catalogue::SourceSummary> sources;
        std::string pictures;
    };
    std::shared_ptr<const Home> home();

    const Catalogue &m_catalogue;
    const Upstream *m_upstream = nullptr;
    std::mutex m_picturesMutex;
    std::shared_ptr<const Home> m_home;
    std::pair<std::int64_t, std::int64_t> m_picturesVersion;
};
