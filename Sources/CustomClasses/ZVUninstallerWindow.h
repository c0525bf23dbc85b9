// The class of the wizard's one window: titled only (no close, minimise or resize), with the
// pattern of the image "defaultuninstallerBackground.png" as its background.
#pragma once

#include <QRect>
#include <QWidget>

// The Mac's window style and backing store constants.
using NSWindowStyleMask = unsigned int;
enum : NSWindowStyleMask {
    NSBorderlessWindowMask = 0,
    NSTitledWindowMask = 1,
    NSClosableWindowMask = 2,
    NSMiniaturizableWindowMask = 4,
    NSResizableWindowMask = 8,
};
using NSBackingStoreType = unsigned int;
enum : NSBackingStoreType { NSBackingStoreRetained = 0, NSBackingStoreNonretained = 1, NSBackingStoreBuffered = 2 };

class ZVUninstallerWindow : public QWidget {
    Q_OBJECT
public:
    // Only CONTENTRECT is used (its size fixes the window's size); whatever the other
    // arguments ask for, the window is titled only, buffered and not deferred.
    ZVUninstallerWindow(const QRect &contentRect, NSWindowStyleMask styleMask,
                        NSBackingStoreType backing, bool defer);

    bool canBecomeKeyWindow() const { return true; }

    NSWindowStyleMask styleMask() const { return m_styleMask; }
    NSBackingStoreType backingType() const { return m_backing; }
    bool isOpaque() const { return m_opaque; }
    bool hasShadow() const { return m_hasShadow; }

    // Fills the window's background with BRUSH (a pattern brush tiles its image).
    void setBackgroundColor(const QBrush &brush);
    QBrush backgroundColor() const;
    void setAlphaValue(double alpha) { setWindowOpacity(alpha); }
    // The background pattern fills every pixel, so the window looks the same either way; the
    // flag is kept for a window system that composes translucent windows.
    void setOpaque(bool opaque) { m_opaque = opaque; }
    // The shadow is drawn by the window manager or compositor where there is one.
    void setHasShadow(bool shadow) { m_hasShadow = shadow; }

    // Shows the window, raises it and makes it the active (key) window.
    void makeKeyAndOrderFront();
    // Redraws the whole window at once, even while the event loop stands still.
    void display();

protected:
    // The user cannot close the window: a close request of the window system (its close
    // message, a window list's "Close", a key the window manager binds) or a call of close()
    // is refused on every page. The program ends only through the wizard's "Close".
    void closeEvent(QCloseEvent *event) override;

private:
    NSWindowStyleMask m_styleMask = NSTitledWindowMask;
    NSBackingStoreType m_backing = NSBackingStoreBuffered;
    bool m_opaque = true;
    bool m_hasShadow = false;
};

// The image NAME among the application's resources: NAME itself, or NAME with ".png",
// ".tif" or ".tiff" when NAME has no extension. A deployment's own image, found by the main
// bundle's resource search, is used in place of the image built into the program; a null
// pixmap when neither has one (or the deployment's file is no image the program can read
// and none is built in).
QPixmap NSImageNamed(const QString &name);
