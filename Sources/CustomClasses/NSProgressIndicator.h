// A determinate progress bar that holds a floating-point value, as the wizard's progress
// indicator does; the bar shows the value rounded to thousandths of its range.
#pragma once

#include <QProgressBar>

class NSProgressIndicator : public QProgressBar {
    Q_OBJECT
public:
    explicit NSProgressIndicator(QWidget *parent = nullptr);

    double doubleValue() const { return m_value; }
    void setDoubleValue(double value);
    void incrementBy(double delta) { setDoubleValue(m_value + delta); }
    double minValue() const { return m_min; }
    double maxValue() const { return m_max; }
    void setMinValue(double value);
    void setMaxValue(double value);

private:
    void showValue();
    double m_value = 0.0;
    double m_min = 0.0;
    double m_max = 100.0;
};
