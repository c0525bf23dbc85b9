// Reading process listings: which lines give ids, what the grep pipeline's own lines and
// header lines give, and the decoding of the two owners; the "%@" filling of command lines.
#include "NSStringFormat_p.h"
#include "ZVProcessListing_p.h"

#include <QtTest>

using namespace ZVProcessListing;

class ProcessesListingTest : public QObject {
    Q_OBJECT
private slots:
    void allIDs_data();
    void allIDs();
    void firstID_data();
    void firstID();
    void decoding();
    void realCommandOutput();
    void formats_data();
    void formats();
};

void ProcessesListingTest::allIDs_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<qint32>>("ids");

    const QString grepLines = QStringLiteral(
        "  912 sh -c /bin/ps -axwwopid,command,user | grep \"ZVDaemon\" root\n"
        "  914 grep ZVDaemon               root\n");
    QTest::newRow("only the pipeline") << grepLines << "ZVDaemon" << QList<qint32>{};
    QTest::newRow("two instances in listing order, trailing empty line")
        << QStringLiteral("  731 /opt/zv/ZVDaemon -d       root\n") + grepLines
               + QStringLiteral("   45 ZVDaemon                    root\n")
        << "ZVDaemon" << QList<qint32>{731, 45};
    QTest::newRow("header holding the name")
        << QStringLiteral("  PID COMMAND                     USER\n  12 COMMAND x root\n")
        << "COMMAND" << QList<qint32>{12};
    QTest::newRow("name first on the line")
        << QStringLiteral("ZVDaemon 12 root\n  13 ZVDaemon root") << "ZVDaemon" << QList<qint32>{13};
    QTest::newRow("no number, zero, blank lines")
        << QStringLiteral("\n   \n  x12 ZVDaemon\n    0 ZVDaemon\n\t 77 ZVDaemon") << "ZVDaemon"
        << QList<qint32>{77};
    QTest::newRow("name missing from a line: the whole line is the prefix")
        << QStringLiteral("  5 other\n  6 ZVDaemon") << "ZVDaemon" << QList<qint32>{5, 6};
    QTest::newRow("grep in an argument before the name is skipped")
        << QStringLiteral("  8 /usr/bin/zgrep-wrapper ZVDaemon\n  9 ZVDaemon grep") << "ZVDaemon"
        << QList<qint32>{9};
    QTest::newRow("duplicates kept") << QStringLiteral("3 ZVDaemon\n3 ZVDaemon\n") << "ZVDaemon"
                                     << QList<qint32>{3, 3};
    QTest::newRow("huge id clamps") << QStringLiteral("99999999999 ZVDaemon") << "ZVDaemon"
                                    << QList<qint32>{2147483647};
    QTest::newRow("empty name: every prefix is empty") << QStringLiteral("1 a\n2 b") << ""
                                                      << QList<qint32>{};
}

void ProcessesListingTest::allIDs()
{
    QFETCH(QString, listing);
    QFETCH(QString, name);
    QFETCH(QList<qint32>, ids);
    QCOMPARE(processIDsInListing(listing, name), ids);
}

void ProcessesListingTest::firstID_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint32>("id");
    QTest::newRow("first real line") << QStringLiteral("\n  731 /opt/ZVDaemon\n  900 grep ZVDaemon\n")
                                     << "ZVDaemon" << 731;
    QTest::newRow("pipeline first") << QStringLiteral("  900 sh -c ps | grep \"ZVDaemon\"\n  931 ZVDaemon\n")
                                    << "ZVDaemon" << 0;
    QTest::newRow("header first: the prefix spans no number")
        << QStringLiteral("  PID COMMAND\n  12 ZVDaemon") << "ZVDaemon" << 0;
    QTest::newRow("name absent: whole text") << QStringLiteral("  44 other\n 45 more") << "ZVDaemon" << 44;
    QTest::newRow("empty") << QString() << "ZVDaemon" << 0;
}

void ProcessesListingTest::firstID()
{
    QFETCH(QString, listing);
    QFETCH(QString, name);
    QFETCH(qint32, id);
    QCOMPARE(firstProcessIDInListing(listing, name), id);
}

void ProcessesListingTest::decoding()
{
    const QByteArray ascii("  12 ZVDaemon\n");
    const QByteArray utf8 = QStringLiteral("  12 ZVDémon\n").toUtf8();
    const QByteArray broken("  12 ZV\xC3(\n");
    QCOMPARE(decode(ascii, Encoding::ASCII), QString::fromLatin1(ascii));
    QVERIFY(decode(utf8, Encoding::ASCII).isNull());
    QCOMPARE(decode(utf8, Encoding::UTF8), QStringLiteral("  12 ZVDémon\n"));
    QVERIFY(decode(broken, Encoding::UTF8).isNull());
    QVERIFY(!decode(QByteArray(), Encoding::UTF8).isNull());
}

// The popen reader keeps every chunk, including a last one of exactly 512 bytes and output
// far longer than one chunk.
void ProcessesListingTest::realCommandOutput()
{
    for (const int size : {0, 1, 511, 512, 513, 1024, 100000}) {
        const auto output = readCommandOutput(QStringLiteral("head -c %1 /dev/zero | tr '\\0' x").arg(size));
        QVERIFY(output);
        QCOMPARE(output->size(), size);
        QCOMPARE(output->count('x'), size);
    }
}

void ProcessesListingTest::formats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("objects");
    QTest::addColumn<QString>("result");
    QTest::newRow("scratch command") << "ps -axww | grep %@ > \"%@\""
                                     << QStringList{"ZVDaemon", "/tmp/out %@.txt"}
                                     << "ps -axww | grep ZVDaemon > \"/tmp/out %@.txt\"";
    QTest::newRow("no arguments") << "/tmp/100%%/out%d.txt" << QStringList{} << "/tmp/100%/out%d.txt";
    QTest::newRow("placeholder beyond the objects") << "a %@ b %@" << QStringList{"1"} << "a 1 b %@";
    QTest::newRow("trailing percent") << "50%" << QStringList{"x"} << "50%";
}

void ProcessesListingTest::formats()
{
    QFETCH(QString, format);
    QFETCH(QStringList, objects);
    QFETCH(QString, result);
    QCOMPARE(NSStringFormat::stringWithFormat(format, objects), result);
}

QTEST_GUILESS_MAIN(ProcessesListingTest)
#include "ListingTest.moc"
