// The configuration lookup's process-wide table: loaded by the first lookup that finds it,
// then kept; tried again while it is missing; never loaded for a null key. The functions
// run in order and share the one table of this process.
#include "NSBundle_p.h"
#include "PropertyList_p.h"
#include "TestSupport.h"
#include "ZVLocalizedString.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

class LocalizedStringTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString table() const { return m_dir.filePath(QStringLiteral("Localizable.plist")); }
    void writeTable(const QVariantMap &values)
    {
        QVERIFY(PropertyList::writeFile(values, table(), PropertyList::Format::XML, true));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        NSBundle::mainBundle().setResourcePath(m_dir.path());
    }

    void missingTableGivesTheKey()
    {
        const QString key = QStringLiteral("ApplicationName");
        QCOMPARE(ZVLocalizedString(key, QString()), key);
        QCOMPARE(ZVLocalizedString(QStringLiteral(""), QString()), QStringLiteral(""));
    }

    void nullKeyGivesEmptyWithoutLoading()
    {
        writeTable({{QStringLiteral("A"), QStringLiteral("from the first table")}});
        const QString result = ZVLocalizedString(QString(), QString());
        QVERIFY(!result.isNull());
        QCOMPARE(result, QStringLiteral(""));
        // Had the null key loaded the table, "A" would still be found after the file is gone.
        QVERIFY(QFile::remove(table()));
        QCOMPARE(ZVLocalizedString(QStringLiteral("A"), QString()), QStringLiteral("A"));
    }

    void damagedTableIsTriedAgain()
    {
        QFile f(table());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<?xml version=\"1.0\"?><plist><dict><key>A</key><string>broken");
        f.close();
        QCOMPARE(ZVLocalizedString(QStringLiteral("A"), QString()), QStringLiteral("A"));
        // A property list whose root is not a dictionary is no table either.
        QVERIFY(PropertyList::writeFile(QVariantList{QStringLiteral("A")}, table(), PropertyList::Format::Binary, true));
        QCOMPARE(ZVLocalizedString(QStringLiteral("A"), QString()), QStringLiteral("A"));
    }

    // A table beyond kLocalizedStringsMaxBytes is refused like a damaged one (and tried again),
    // judged by its size: a sparse file of 400 MB is not read into memory.
    void oversizedTableIsRefused_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("one byte over") << kLocalizedStringsMaxBytes + 1;
        QTest::newRow("400 MB, sparse") << (qint64(400) << 20);
    }
    void oversizedTableIsRefused()
    {
        QFETCH(qint64, size);
        // A valid table of N bytes: blanks before the closing tag pad it out.
        const QByteArray head = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>A</key><string>big</string></dict>";
        const QByteArray tail = "</plist>\n";
        auto padded = [&](qint64 n) { return head + QByteArray(n - head.size() - tail.size(), ' ') + tail; };
        if (size == kLocalizedStringsMaxBytes + 1) {
            QVERIFY(TestSupport::writeFile(table(), padded(size - 1)));
            const auto atTheLimit = ZVReadLocalizedStringsTable(table());
            QVERIFY(atTheLimit);
            QCOMPARE(atTheLimit->toMap().value(QStringLiteral("A")).toString(), QStringLiteral("big"));
            QVERIFY(TestSupport::writeFile(table(), padded(size)));
        } else {
            QFile f(table());
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(head) == head.size() && f.resize(size));
        }
        struct rusage before, after;
        ::getrusage(RUSAGE_SELF, &before);
        QCOMPARE(ZVLocalizedString(QStringLiteral("A"), QString()), QStringLiteral("A"));
        ::getrusage(RUSAGE_SELF, &after);
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 32 * 1024, "the file was read whole");
        QVERIFY(QFile::remove(table()));
    }

    void tableLoadedOnceAndKept()
    {
        writeTable({{QStringLiteral("A"), QStringLiteral("first")},
                    {QStringLiteral("N"), 42},
                    {QStringLiteral("Line"), QStringLiteral("one\n two")}});
        QCOMPARE(ZVLocalizedString(QStringLiteral("A"), QString()), QStringLiteral("first"));
        writeTable({{QStringLiteral("A"), QStringLiteral("second")}, {QStringLiteral("B"), QStringLiteral("b")}});
        QCOMPARE(ZVLocalizedString(QStringLiteral("A"), QString()), QStringLiteral("first"));
        QCOMPARE(ZVLocalizedString(QStringLiteral("B"), QString()), QStringLiteral("B"));
        QVERIFY(QFile::remove(table()));
        QCOMPARE(ZVLocalizedString(QStringLiteral("A"), QString()), QStringLiteral("first"));
        QCOMPARE(ZVLocalizedString(QStringLiteral("Line"), QStringLiteral("ignored")), QStringLiteral("one\n two"));
    }

    void lookupsOnTheLoadedTable_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing key") << QStringLiteral("Z") << QStringLiteral("Z");
        QTest::newRow("non-string value") << QStringLiteral("N") << QStringLiteral("N");
        QTest::newRow("case matters") << QStringLiteral("a") << QStringLiteral("a");
        QTest::newRow("null key") << QString() << QStringLiteral("");
    }
    void lookupsOnTheLoadedTable()
    {
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(ZVLocalizedString(key, QString()), expected);
    }
};

QTEST_GUILESS_MAIN(LocalizedStringTest)
#include "tst_LocalizedString.moc"
