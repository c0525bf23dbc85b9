#include "ZVUninstallerWindow.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QPixmap>

QPixmap NSImageNamed(const QString &name)
{
    QStringList candidates{name};
    if (!name.contains(QLatin1Char('.')))
        candidates << name + QStringLiteral(".png") << name + QStringLiteral(".tif") << name + QStringLiteral(".tiff");
    for (const QString &candidate : candidates) {
        const QString path = QStringLiteral(":/Resources/") + candidate;
        if (QFile::exists(path)) {
            QPixmap pixmap(path);
            if (!pixmap.isNull())
                return pixmap;
        }
    }
    return QPixmap();
}

ZVUninstallerWindow::ZVUninstallerWindow(const QRect &contentRect, NSWindowStyleMask styleMask,
                                         NSBackingStoreType backing, bool defer)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    Q_UNUSED(styleMask);
    Q_UNUSED(backing);
    Q_UNUSED(defer);
    m_styleMask = NSTitledWindowMask;
    m_backing = NSBackingStoreBuffered;
    setFixedSize(contentRect.size());
    if (!contentRect.topLeft().isNull())
        move(contentRect.topLeft());
    setBackgroundColor(QBrush(NSImageNamed(QStringLiteral("defaultuninstallerBackground.png"))));
    setAlphaValue(1.0);
    setOpaque(false);
    setHasShadow(true);
}

void ZVUninstallerWindow::setBackgroundColor(const QBrush &brush)
{
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, brush);
    setPalette(pal);
    setAutoFillBackground(true);
}

QBrush ZVUninstallerWindow::backgroundColor() const { return palette().brush(QPalette::Window); }

void ZVUninstallerWindow::makeKeyAndOrderFront()
{
    show();
    raise();
    activateWindow();
}

void ZVUninstallerWindow::display()
{
    repaint();
    QApplication::sync();
}
