#pragma once

// The FDSN event service (fdsnws-event 1.2) under /fdsnws/event/1/: query,
// version, application.wadl, catalogs and contributors. Query replies are
// QuakeML 1.2 or FDSN text, streamed from one forward-only query; errors
// are FDSN's error text. No cap on the number of events
// unless one is set, which is then answered with 413.

#include "http/httpreply.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class Catalogue;

class FdsnService
{
public:
    static constexpr const char *root = "/fdsnws/event/1/";
    static constexpr const char *version = "1.2.0";

    FdsnService(const Catalogue &catalogue, std::optional<std::int64_t> maxEvents);

    // route: what follows the root; query: the raw query string; url: the
    // request as the client sent it, for error texts.
    void answer(std::string_view route, std::string_view query, const QString &url, HttpReply &reply) const;

    // FDSN's error text.
    static void error(HttpReply &reply, int status, const QString &details, const QString &url);

private:
    void query(std::string_view query, const QString &url, HttpReply &reply) const;
    void sources(bool agencies, HttpReply &reply) const;
    static std::string wadl();

    const Catalogue &m_catalogue;
    std::optional<std::int64_t> m_maxEvents;
};
