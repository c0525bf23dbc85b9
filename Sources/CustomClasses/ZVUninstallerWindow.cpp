#include "ZVUninstallerWindow.h"

#include "NSBundle_p.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QPalette>
#include <QPixmap>

QPixmap NSImageNamed(const QString &name)
{
    QStringList candidates{name};
    if (!name.contains(QLatin1Char('.')))
        candidates << name + QStringLiteral(".png") << name + QStringLiteral(".tif") << name + QStringLiteral(".tiff");
    QStringList paths;
    for (const QString &candidate : candidates)
        paths << NSBundle::mainBundle().pathForResourceOfType(candidate, QString());
    for (const QString &candidate : candidates)
        paths << QStringLiteral(":/Resources/") + candidate;
    for (const QString &path : paths) {
        if (path.isNull() || !QFile::exists(path))
            continue;
        QPixmap pixmap(path);
        if (!pixmap.isNull())
            return pixmap;
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

void ZVUninstallerWindow::closeEvent(QCloseEvent *event) { event->ignore(); }

void ZVUninstallerWindow::display()
{
    repaint();
    QApplication::sync();
}
