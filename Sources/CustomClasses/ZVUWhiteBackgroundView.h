// A plain view that frames its bounds with a one-pixel gray line and paints nothing inside,
// so the window's background pattern shows through.
#pragma once

#include <QWidget>

class ZVUWhiteBackgroundView : public QWidget {
    Q_OBJECT
public:
    explicit ZVUWhiteBackgroundView(QWidget *parent = nullptr);

    // Draws the frame; the rectangle to redraw is ignored, the frame is always the bounds.
    void drawRect(const QRect &dirtyRect);

protected:
    void paintEvent(QPaintEvent *event) override;
};
