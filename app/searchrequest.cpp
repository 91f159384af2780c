#include "app/searchrequest.h"

#include "app/querycomposition.h"

#include <QCoreApplication>

QString SearchRequest::url(const QDate &today) const
{
    const QString head = overridesLists()
        ? QueryComposition::assembleOver(minMagnitude ? QString::number(*minMagnitude, 'g', 4) : QString::number(listMagnitude),
                                         period ? period->first : today.addDays(-listDays), period ? period->second : today,
                                         serviceUrl)
        : QueryComposition::assemble(listMagnitude, listDays, serviceUrl, today);
    return head + region.queryKeys();
}

QString SearchRequest::words() const
{
    const QString format = QStringLiteral("d MMM yyyy");
    const QString when = period ? QCoreApplication::translate("PeriodBar", "from %1 to %2")
                                      .arg(period->first.toString(format), period->second.toString(format))
                                : QString();
    return when.isEmpty() || regionWords.isEmpty() ? when + regionWords : when + QStringLiteral(", ") + regionWords;
}
