// The window class and the framed view.
#include "ZVUWhiteBackgroundView.h"
#include "ZVUninstallerWindow.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

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

    void imagesAreResources_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("blue dot") << QStringLiteral("DotBlue.tif");
        QTest::newRow("gray dot") << QStringLiteral("DotGray.tif");
        QTest::newRow("background without extension") << QStringLiteral("defaultuninstallerBackground");
    }
    void imagesAreResources()
    {
        QFETCH(QString, name);
        QVERIFY(!NSImageNamed(name).isNull());
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
