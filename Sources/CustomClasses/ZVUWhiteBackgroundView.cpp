#include "ZVUWhiteBackgroundView.h"

#include <QPaintEvent>
#include <QPainter>

ZVUWhiteBackgroundView::ZVUWhiteBackgroundView(QWidget *parent) : QWidget(parent) {}

void ZVUWhiteBackgroundView::drawRect(const QRect &dirtyRect)
{
    Q_UNUSED(dirtyRect);
    QPainter painter(this);
    // The platform's standard gray: half white.
    painter.setPen(QPen(QColor::fromRgbF(0.5, 0.5, 0.5), 1));
    painter.setBrush(Qt::NoBrush);
    // Qt strokes a one-pixel rectangle outside its right and bottom edges.
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void ZVUWhiteBackgroundView::paintEvent(QPaintEvent *event) { drawRect(event->rect()); }
