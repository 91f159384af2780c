#pragma once

// SearchRequest: one search as values, what the bars and the form's lists
// build from their controls and show, and what the window's parts hand to
// the runner: the service, the lists' lowest magnitude and days back, or a
// period and a lowest magnitude of the period bar's, the region, and the
// region's words. Its address is made from the numbers, never read back
// from a control's text.

#include "geo/searchregion.h"

#include <QDate>
#include <QString>

#include <optional>
#include <utility>

struct SearchRequest
{
    QString serviceUrl;
    int listMagnitude = 3;   // the lists' values, where the period bar leaves them be
    int listDays = 1;
    std::optional<std::pair<QDate, QDate>> period;
    std::optional<double> minMagnitude;
    SearchRegion region;
    QString regionWords;     // "within 50 km of Christchurch"

    bool overridesLists() const { return period || minMagnitude; }
    // The request's address on a day: the service's five keys, then the
    // region's.
    QString url(const QDate &today) const;
    // "from 13 Nov 2016 to 20 Nov 2016, within 50 km of Christchurch"; empty
    // for a search of the lists' days anywhere.
    QString words() const;
    // The same search, whatever its words.
    bool operator==(const SearchRequest &other) const
    {
        return serviceUrl == other.serviceUrl && listMagnitude == other.listMagnitude && listDays == other.listDays
            && period == other.period && minMagnitude == other.minMagnitude && region == other.region;
    }
    bool operator!=(const SearchRequest &other) const { return !(*this == other); }
};
