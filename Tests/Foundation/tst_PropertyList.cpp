// Property-list files as the uninstaller reads its table and writes its marker: every kind
// of value both ways in both formats, atomic writes, and damaged input refused without a
// crash (a seeded run of mutated copies of a valid file).
#include "PropertyList.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

class PropertyListTest : public QObject {
    Q_OBJECT
    static QVariantMap sample()
    {
        return {{QStringLiteral("text"), QStringLiteral("Grüße, 日本 and \"quotes\" <&>")},
                {QStringLiteral("empty"), QStringLiteral("")},
                {QStringLiteral("yes"), true},
                {QStringLiteral("no"), false},
                {QStringLiteral("big"), qint64(1) << 40},
                {QStringLiteral("negative"), qint64(-5)},
                {QStringLiteral("real"), 2.5},
                {QStringLiteral("data"), QByteArray("\x00\x01\xff", 3)},
                {QStringLiteral("date"), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)},
                {QStringLiteral("list"), QVariantList{QStringLiteral("a"), qint64(1), QVariantMap{{QStringLiteral("k"), QStringLiteral("v")}}}}};
    }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("xml") << int(PropertyList::Format::XML);
        QTest::newRow("binary") << int(PropertyList::Format::Binary);
    }
    void roundTrip()
    {
        QFETCH(int, format);
        const QByteArray bytes = PropertyList::toData(sample(), PropertyList::Format(format));
        QVERIFY(!bytes.isEmpty());
        const auto back = PropertyList::fromData(bytes);
        QVERIFY(back);
        QCOMPARE(back->toMap(), sample());
    }

    void atomicWriteReplacesWholeFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("marker.plist"));
        QVERIFY(TestSupport::writeFile(path, QByteArray(5000, 'x')));
        QVERIFY(PropertyList::writeFile(QVariantMap{{QStringLiteral("KILLDAEMON"), true}}, path, PropertyList::Format::XML, true));
        QCOMPARE(PropertyList::readFile(path)->toMap(), (QVariantMap{{QStringLiteral("KILLDAEMON"), true}}));
        // Nothing of the temporary file is left beside the target.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("marker.plist")});
    }

    void writeIntoMissingFolderFails()
    {
        QTemporaryDir dir;
        QVERIFY(!PropertyList::writeFile(QVariantMap{{QStringLiteral("a"), 1}}, dir.filePath(QStringLiteral("no/such/x.plist")),
                                         PropertyList::Format::XML, true));
        QVERIFY(!PropertyList::writeFile(QVariant(), dir.filePath(QStringLiteral("x.plist")), PropertyList::Format::XML, true));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("x.plist"))));
    }

    void refusedInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("not a property list");
        QTest::newRow("truncated xml") << QByteArray("<?xml version=\"1.0\"?><plist><dict><key>a</key><string>b");
        QTest::newRow("bare header") << QByteArray("bplist00");
        // Texts holding a NUL: an ASCII value, a UTF-16 key (as Foundation writes them).
        QTest::newRow("nul in ascii text") << QByteArray::fromHex("62706c6973743030d10102516153610062080b0d0000000000000101000000000000000300000000000000000000000000000011");
        QTest::newRow("nul in utf-16 key") << QByteArray::fromHex("62706c6973743030d101026300e9000000785176080b120000000000000101000000000000000300000000000000000000000000000014");
    }
    void refusedInput()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!PropertyList::fromData(bytes));
    }

    void mutatedCopiesNeverCrash()
    {
        const QByteArray xml = PropertyList::toData(sample(), PropertyList::Format::XML);
        const QByteArray bin = PropertyList::toData(sample(), PropertyList::Format::Binary);
        QRandomGenerator random(20261205);
        int parsed = 0;
        for (int i = 0; i < 3000; ++i) {
            QByteArray bytes = (i % 2) ? bin : xml;
            const int edits = 1 + int(random.bounded(6));
            for (int e = 0; e < edits; ++e) {
                const int at = int(random.bounded(bytes.size()));
                switch (random.bounded(3)) {
                case 0: bytes[at] = char(random.bounded(256)); break;
                case 1: bytes.truncate(at + 1); break;
                default: bytes.insert(at, char(random.bounded(256))); break;
                }
            }
            if (PropertyList::fromData(bytes))
                ++parsed;
        }
        qInfo("3000 mutated files (seed 20261205): %d still parsed, none crashed", parsed);
    }
};

QTEST_GUILESS_MAIN(PropertyListTest)
#include "tst_PropertyList.moc"
