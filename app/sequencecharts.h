#pragma once

// SequenceCharts: what the Sequence tab draws of a study
// (geo/sequencestudy.h), three panels side by side: the rate of events at
// or above Mc against days after the mainshock, both axes logarithmic,
// with the fitted Omori-Utsu curve; b and Mc over time, each with its
// uncertainty as a band; and the cumulative seismic moment,
// 10^(1.5 M + 9.05) N m an event.

#include "geo/sequencestudy.h"

#include <QStringList>
#include <QWidget>

#include <cmath>
#include <optional>
#include <vector>

class SequenceCharts : public QWidget
{
    Q_OBJECT

public:
    explicit SequenceCharts(QWidget *parent = nullptr);

    // None clears.
    void setStudy(std::optional<SequenceStudy::Study> study);

    void draw(QPainter &painter, const QRectF &area) const;
    // The labels of evenly spaced ticks, with as many decimals as tell them
    // apart: 506.1 and 506.2, not 506 and 506.
    static QStringList tickLabels(const std::vector<double> &ticks);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<SequenceStudy::Study> m_study;
};
