// The lookup's process-wide table (first, before anything looks a value up): never loaded for a
// null key; tried again while it is missing, damaged, no dictionary or oversized (judged by its
// size, not read); once loaded, kept. The images (a deployment's own first) and the framed view.
#include "TestSupport.h"
#include "ZVUWhiteBackgroundView.h"
#include "ZVLocalizedString.h"
#include "ZVUninstallerWindow.h"

#include <QTemporaryDir>
#include <QTest>
#include <sys/resource.h>

static QString L(const QString &key) { return ZVLocalizedString(key, QString()); }
// A valid table of SIZE bytes: blanks before the closing tag pad it out.
static QByteArray padded(qint64 size)
{
    const QByteArray head = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>A</key><string>big</string></dict>";
    return head + QByteArray(size - head.size() - 9, ' ') + "</plist>\n";
}

class WindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString table() const { return m_dir.filePath(QStringLiteral("Localizable.plist")); }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(Uninstaller); }

    // A null-key lookup loads no table; then the row's file (none when null; SPARSE bytes long when given) is not loaded.
    void notLoaded_data()
    {
        QTest::addColumn<QByteArray>("bytes"); QTest::addColumn<qint64>("sparse");
        QTest::newRow("no table") << QByteArray() << qint64(0);
        QTest::newRow("damaged") << QByteArray("<?xml version=\"1.0\"?><plist><dict><key>A</key><string>broken") << qint64(0);
        QTest::newRow("not a dictionary") << PropertyList::toData(QVariantList{"A"}, PropertyList::Format::Binary) << qint64(0);
        QTest::newRow("one byte over") << padded(kLocalizedStringsMaxBytes + 1) << qint64(0);
        QTest::newRow("400 MB, sparse") << QByteArray("<?xml version=\"1.0\"?><plist><dict>") << (qint64(400) << 20);
    }
    void notLoaded()
    {
        QFETCH(QByteArray, bytes); QFETCH(qint64, sparse);
        QVERIFY(TestSupport::useTable(m_dir.path(), {{"A", "from a good table"}}));
        QVERIFY(!L(QString()).isNull() && L(QString()).isEmpty() && QFile::remove(table()));
        QVERIFY(bytes.isNull() || (TestSupport::writeFile(table(), bytes) && (!sparse || QFile::resize(table(), sparse))));
        struct rusage before, after;
        ::getrusage(RUSAGE_SELF, &before);
        QCOMPARE(L("A"), QStringLiteral("A"));
        ::getrusage(RUSAGE_SELF, &after);
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 32 * 1024, "the file was read whole");
    }

    void tableAtTheLimitIsRead()
    {
        QVERIFY(TestSupport::writeFile(table(), padded(kLocalizedStringsMaxBytes)));
        QCOMPARE(ZVReadLocalizedStringsTable(table()).value_or(QVariant()).toMap().value("A").toString(), QStringLiteral("big"));
    }

    // The first table found is loaded; a second one written afterwards is never read.
    void lookups_data()
    {
        QTest::addColumn<QString>("key"); QTest::addColumn<QString>("expected");
        for (const auto &[key, expected] : {std::pair("A", "first"), {"Line", "one\n two"}, {"B", "B"}, {"Z", "Z"}, {"N", "N"}})
            QTest::newRow(key) << key << expected;
    }
    void lookups()
    {
        QFETCH(QString, key); QFETCH(QString, expected);
        static const bool loaded = TestSupport::useTable(m_dir.path(), {{"A", "first"}, {"N", 42}, {"Line", "one\n two"}})
            && L("A") == QLatin1String("first") && TestSupport::useTable(m_dir.path(), {{"A", "second"}, {"B", "b"}});
        QVERIFY(loaded);
        QCOMPARE(L(key), expected);
    }

    // A deployment's own image (here red) comes first; a file that is no image leaves the built-in one.
    void images_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("supplied");  // "!": a file that is no image
        QTest::addColumn<QString>("expected");  // "red", "built-in" or "none"
        QTest::newRow("background without extension") << "defaultuninstallerBackground" << "" << "built-in";
        QTest::newRow("no such image") << "NoSuchImage.tif" << "" << "none";
        QTest::newRow("deployment's, other format") << "defaultuninstallerBackground" << "defaultuninstallerBackground.tif" << "red";
        QTest::newRow("deployment's file is no image") << "DotGray.tif" << "DotGray.tif!" << "built-in";
    }
    void images()
    {
        QFETCH(QString, name); QFETCH(QString, supplied); QFETCH(QString, expected);
        QTemporaryDir bundle;
        QImage red(8, 8, QImage::Format_RGB32);
        red.fill(Qt::red);
        QVERIFY(supplied.isEmpty() || (supplied.endsWith('!') ? TestSupport::writeFile(bundle.filePath(supplied.chopped(1)), "no image")
                                                               : red.save(bundle.filePath(supplied), "TIFF")));
        NSBundle::mainBundle().setResourcePath(bundle.path());
        const QImage image = NSImageNamed(name).toImage();
        NSBundle::mainBundle().setResourcePath(QString());
        QCOMPARE(image.isNull(), expected == "none");
        QCOMPARE(!image.isNull() && image.pixel(0, 0) == qRgb(255, 0, 0), expected == "red");
    }

    void frameIsOneGrayPixelAndNothingInside()
    {
        for (const QSize size : {QSize(3, 3), QSize(240, 20), QSize(17, 131)}) {
            ZVUWhiteBackgroundView view;
            view.resize(size);
            QImage image(size, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            view.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    QCOMPARE(image.pixel(x, y), x % (size.width() - 1) && y % (size.height() - 1) ? 0u : qRgb(128, 128, 128));
        }
    }
};

QTEST_MAIN(WindowTest)
#include "tst_Window.moc"
