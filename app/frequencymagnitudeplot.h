#pragma once

// Frequency-magnitude: the number of events of magnitude M or more on a
// log axis and the count in each 0.1 bin, with Mc, b and a
// (geo/statistics.h) in the notes and the fitted line.

#include "app/plotcanvas.h"
#include "geo/statistics.h"

class FrequencyMagnitudePlot : public PlotCanvas
{
    Q_OBJECT

public:
    using PlotCanvas::PlotCanvas;

    // "b = 0.66 ± 0.12": the uncertainty to two significant digits, b to
    // as many decimals.
    static QString bValueText(double b, double uncertainty);

protected:
    QList<KeyEntry> key() const override;
    void analyse(const std::vector<LocatedEvent> &events, QStringList &notes) override;
    void clear() override;
    void drawPlot(QPainter &painter, const QRectF &plot, const QRectF &area) const override;

private:
    Statistics::FrequencyMagnitude m_fmd;
    Statistics::GutenbergRichter m_fit;
};
