#include "NSProgressIndicator.h"

#include <cmath>

namespace {
constexpr int kSteps = 100000;
}

NSProgressIndicator::NSProgressIndicator(QWidget *parent) : QProgressBar(parent)
{
    QProgressBar::setRange(0, kSteps);
    setTextVisible(false);
    showValue();
}

void NSProgressIndicator::setDoubleValue(double value)
{
    m_value = value;
    showValue();
}

void NSProgressIndicator::setMinValue(double value)
{
    m_min = value;
    showValue();
}

void NSProgressIndicator::setMaxValue(double value)
{
    m_max = value;
    showValue();
}

void NSProgressIndicator::showValue()
{
    const double span = m_max - m_min;
    double fraction = span > 0 ? (m_value - m_min) / span : 0.0;
    if (!(fraction >= 0))
        fraction = 0;
    fraction = std::min(fraction, 1.0);
    QProgressBar::setValue(int(std::lround(fraction * kSteps)));
}
