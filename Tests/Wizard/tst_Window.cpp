// The window class and the framed view.
#include "NSBundle_p.h"
#include "ZVUWhiteBackgroundView.h"
#include "ZVUninstallerWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QSignalSpy>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <cstring>
#include <xcb/xcb.h>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

// Notes that a close request reached the window.
struct CloseSpy : QObject {
    bool seen = false;
    bool eventFilter(QObject *, QEvent *event) override
    {
        seen = seen || event->type() == QEvent::Close;
        return false;
    }
};

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(Uninstaller); }

    void titledOnlyWhateverTheStyleAsked_data()
    {
        QTest::addColumn<unsigned>("styleMask");
        QTest::newRow("borderless") << unsigned(NSBorderlessWindowMask);
        QTest::newRow("titled") << unsigned(NSTitledWindowMask);
        QTest::newRow("closable and resizable") << unsigned(NSTitledWindowMask | NSClosableWindowMask | NSResizableWindowMask);
        QTest::newRow("everything") << 0xffffffffu;
    }
    void titledOnlyWhateverTheStyleAsked()
    {
        QFETCH(unsigned, styleMask);
        ZVUninstallerWindow window(QRect(0, 0, 500, 300), styleMask, NSBackingStoreRetained, true);
        QCOMPARE(window.styleMask(), NSWindowStyleMask(NSTitledWindowMask));
        QCOMPARE(window.backingType(), NSBackingStoreType(NSBackingStoreBuffered));
        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(flags.testFlag(Qt::Window));
        QVERIFY(flags.testFlag(Qt::WindowTitleHint));
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(window.minimumSize(), QSize(500, 300));
        QCOMPARE(window.maximumSize(), QSize(500, 300));
        QVERIFY(window.canBecomeKeyWindow());
        QVERIFY(!window.isOpaque());
        QVERIFY(window.hasShadow());
        QCOMPARE(window.windowOpacity(), 1.0);
    }

    // The window manager's close request: WM_DELETE_WINDOW sent to the real X window (run
    // under Xvfb, ctest WizardWindowX11), and the same request as Qt delivers it elsewhere.
    void closeRequestIsRefused()
    {
        ZVUninstallerWindow window(QRect(0, 0, 200, 120), NSTitledWindowMask, NSBackingStoreBuffered, false);
        window.makeKeyAndOrderFront();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        CloseSpy spy;
        window.windowHandle()->installEventFilter(&spy);
        auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        if (xcb_connection_t *c = QGuiApplication::platformName() == QLatin1String("xcb") && x11 ? x11->connection() : nullptr) {
            auto atom = [c](const char *name) {
                xcb_intern_atom_reply_t *r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
                const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
                free(r);
                return a;
            };
            xcb_client_message_event_t message{};
            message.response_type = XCB_CLIENT_MESSAGE;
            message.format = 32;
            message.window = xcb_window_t(window.winId());
            message.type = atom("WM_PROTOCOLS");
            message.data.data32[0] = atom("WM_DELETE_WINDOW");
            message.data.data32[1] = XCB_CURRENT_TIME;
            xcb_send_event(c, 0, message.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&message));
            xcb_flush(c);
        } else {
            QCloseEvent request;
            QApplication::sendEvent(window.windowHandle(), &request);
        }
        QTRY_VERIFY(spy.seen);
        QCoreApplication::processEvents();
        QVERIFY(window.isVisible());
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QCOMPARE(lastClosed.count(), 0);
    }

    void backgroundIsThePattern()
    {
        ZVUninstallerWindow window(QRect(0, 0, 200, 120), NSTitledWindowMask, NSBackingStoreBuffered, false);
        const QPixmap tile = NSImageNamed(QStringLiteral("defaultuninstallerBackground.png"));
        QVERIFY(!tile.isNull());
        QVERIFY(!window.backgroundColor().texture().isNull());
        const QImage shot = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage tileImage = tile.toImage().convertToFormat(QImage::Format_RGB32);
        // The pattern repeats across the whole window.
        for (int y = 0; y < shot.height(); y += 17)
            for (int x = 0; x < shot.width(); x += 13)
                QCOMPARE(shot.pixel(x, y), tileImage.pixel(x % tileImage.width(), y % tileImage.height()));
    }

    // A deployment's own image (here red) replaces the built-in one; a file that is no image
    // leaves the built-in one in use.
    void imagesAreResources_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("supplied");
        QTest::addColumn<bool>("red");
        QTest::newRow("blue dot") << "DotBlue.tif" << "" << false;
        QTest::newRow("gray dot") << "DotGray.tif" << "" << false;
        QTest::newRow("background without extension") << "defaultuninstallerBackground" << "" << false;
        QTest::newRow("deployment's blue dot") << "DotBlue.tif" << "DotBlue.tif" << true;
        QTest::newRow("deployment's background in another format") << "defaultuninstallerBackground"
                                                                  << "defaultuninstallerBackground.tif" << true;
        QTest::newRow("deployment's file is no image") << "DotGray.tif" << "DotGray.tif!" << false;
    }
    void imagesAreResources()
    {
        QFETCH(QString, name);
        QFETCH(QString, supplied);
        QFETCH(bool, red);
        QTemporaryDir bundle;
        NSBundle::mainBundle().setResourcePath(bundle.path());
        if (supplied.endsWith('!')) {
            QFile garbage(bundle.filePath(supplied.chopped(1)));
            QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write("not an image") > 0);
        } else if (!supplied.isEmpty()) {
            QImage image(8, 8, QImage::Format_RGB32);
            image.fill(Qt::red);
            QVERIFY(image.save(bundle.filePath(supplied), "TIFF"));
        }
        const QImage image = NSImageNamed(name).toImage();
        NSBundle::mainBundle().setResourcePath(QString());
        QVERIFY(!image.isNull());
        QCOMPARE(image.pixel(0, 0) == qRgb(255, 0, 0), red);
    }

    void missingImageIsNull() { QVERIFY(NSImageNamed(QStringLiteral("NoSuchImage.tif")).isNull()); }

    void frameIsOneGrayPixelAndNothingInside_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("small") << QSize(3, 3);
        QTest::newRow("wide") << QSize(240, 20);
        QTest::newRow("tall") << QSize(17, 131);
    }
    void frameIsOneGrayPixelAndNothingInside()
    {
        QFETCH(QSize, size);
        ZVUWhiteBackgroundView view;
        view.resize(size);
        QImage image(size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        view.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        const QRgb gray = qRgb(128, 128, 128);
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                const bool edge = x == 0 || y == 0 || x == size.width() - 1 || y == size.height() - 1;
                const QRgb p = image.pixel(x, y);
                if (edge)
                    QCOMPARE(p, gray);
                else
                    QCOMPARE(qAlpha(p), 0);
            }
        }
    }
};

QTEST_MAIN(WindowTest)
#include "tst_Window.moc"
