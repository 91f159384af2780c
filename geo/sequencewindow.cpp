#include "geo/sequencewindow.h"

#include <cmath>

double SequenceWindow::radiusKm(double magnitude)
{
    return std::pow(10.0, 0.1238 * magnitude + 0.983);
}

double SequenceWindow::days(double magnitude)
{
    return magnitude >= 6.5 ? std::pow(10.0, 0.032 * magnitude + 2.7389) : std::pow(10.0, 0.5409 * magnitude - 0.547);
}
