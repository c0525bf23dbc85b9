// zvtool's size, duration, e-mail, pattern and listing subcommands, run as the real program.
#include "PropertyList_p.h"
#include "TestSupport.h"
#include "ZVUtility.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run zvtool(const QStringList &args, const QByteArray &input = QByteArray(),
           const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(TestSupport::binaryDir() + QStringLiteral("/bin/zvtool"), args);
    Run r;
    if (!p.waitForStarted(30000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

class UtilityZvtoolTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void answers_data();
    void answers();
    void usageErrors_data();
    void usageErrors();
    void manySizesInOrder();
    void listings();
    void recordListingFollowsUserDefault();

private:
    QTemporaryDir m_dir;
};

void UtilityZvtoolTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFileInfo(TestSupport::binaryDir() + QStringLiteral("/bin/zvtool")).isExecutable(), "zvtool is built");
}

void UtilityZvtoolTest::answers_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bytes") << QStringList{"size-text", "bytes", "1023", "1025", "-", "18446744073709551615"}
                           << "1023 bytes\n1.1 KB\n0 bytes\n17179869184 GB\n";
    QTest::newRow("truncated") << QStringList{"size-text", "truncated", "5242880000", "1073741824000", "1025"}
                               << "5 GB\n1 TB\n1 KB\n";
    QTest::newRow("bits") << QStringList{"size-text", "bits", "0", "-", "1000"} << "50 Kb\n1 bytes\n7.81 Kb\n";
    QTest::newRow("outline") << QStringList{"size-text", "outline", "1536", "-"} << "1.50 KB\n0 bytes\n";
    QTest::newRow("time") << QStringList{"time-text", "1", "5", "30"} << "01:05:30\n";
    QTest::newRow("time negative") << QStringList{"time-text", "-1", "123", "-2147483648"} << "-1:123:-2147483648\n";
    QTest::newRow("email") << QStringList{"email", "a@b.c", "a b@c.d", "a@bc"} << "YES\nYES\nNO\n";
    QTest::newRow("email strict") << QStringList{"email", "--strict", "a@b.c", "a b@c.d"} << "YES\nNO\n";
    QTest::newRow("email after --") << QStringList{"email", "--strict", "--", "--strict@x.y", "-a@b.c"} << "YES\nYES\n";
    QTest::newRow("email options end at the first text") << QStringList{"email", "a@b.c", "--strict"} << "YES\nNO\n";
    QTest::newRow("email empty text") << QStringList{"email", ""} << "NO\n";
    QTest::newRow("match") << QStringList{"match", "*.pdf", "Report.PDF", "a.txt"} << "YES\nNO\n";
    QTest::newRow("match after --") << QStringList{"match", "-*", "--", "--", "-x", "x"} << "YES\nYES\nNO\n";
    QTest::newRow("match UTF-8") << QStringList{"match", QString::fromUtf8("*é*"), QString::fromUtf8("Résumé")} << "YES\n";
}

void UtilityZvtoolTest::answers()
{
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    const Run r = zvtool(args);
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, expected);
}

void UtilityZvtoolTest::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("size-text without values") << QStringList{"size-text", "bytes"};
    QTest::newRow("size-text bad mode") << QStringList{"size-text", "kilo", "1"};
    QTest::newRow("size-text negative") << QStringList{"size-text", "bytes", "1", "-1"};
    QTest::newRow("size-text 2^64") << QStringList{"size-text", "bytes", "18446744073709551616"};
    QTest::newRow("size-text hex") << QStringList{"size-text", "bits", "0x10"};
    QTest::newRow("size-text plus") << QStringList{"size-text", "bits", "+5"};
    QTest::newRow("size-text empty") << QStringList{"size-text", "bits", ""};
    QTest::newRow("size-text space") << QStringList{"size-text", "bits", " 5"};
    QTest::newRow("time-text two") << QStringList{"time-text", "1", "2"};
    QTest::newRow("time-text too big") << QStringList{"time-text", "1", "2", "2147483648"};
    QTest::newRow("time-text word") << QStringList{"time-text", "1", "2", "three"};
    QTest::newRow("email nothing") << QStringList{"email", "--strict"};
    QTest::newRow("email unknown option") << QStringList{"email", "--loose", "a@b.c"};
    QTest::newRow("match no name") << QStringList{"match", "*", "--"};
    QTest::newRow("match nothing") << QStringList{"match"};
    QTest::newRow("listing unknown") << QStringList{"listing", "tree", "x"};
    QTest::newRow("listing records extra") << QStringList{"listing", "records", "a", "b"};
    QTest::newRow("listing bracketed no file") << QStringList{"listing", "bracketed", "/"};
    QTest::newRow("listing nothing") << QStringList{"listing"};
}

void UtilityZvtoolTest::usageErrors()
{
    QFETCH(QStringList, args);
    const Run r = zvtool(args);
    QCOMPARE(r.status, 2);
    QCOMPARE(r.out, QString()); // nothing printed for the values before a bad one
    QVERIFY(r.err.startsWith(QLatin1String("zvtool: ")));
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
}

void UtilityZvtoolTest::manySizesInOrder()
{
    QRandomGenerator random(77);
    QStringList values;
    QList<ZVUtility::SizeNumber> sizes;
    for (int i = 0; i < 3000; ++i) {
        if (i % 100 == 0) {
            values << QStringLiteral("-");
            sizes << std::nullopt;
            continue;
        }
        const quint64 v = random.generate64() >> random.bounded(64);
        values << QString::number(v);
        sizes << v;
    }
    const struct { const char *mode; QString (*format)(ZVUtility::SizeNumber); } modes[] = {
        {"bytes", &ZVUtility::formatedFileSizeAsString},
        {"truncated", &ZVUtility::formatedFileSizeAsStringWithDecimalTruncated},
        {"bits", &ZVUtility::formatedFileSizeInBits},
        {"outline", &ZVUtility::formatedFileSizeForOutlineView}};
    for (const auto &m : modes) {
        const Run r = zvtool(QStringList{"size-text", QString::fromLatin1(m.mode)} + values);
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), sizes.size() + 1);
        QCOMPARE(lines.last(), QString());
        for (qsizetype i = 0; i < sizes.size(); ++i)
            QCOMPARE(lines[i], m.format(sizes[i]));
    }
}

static QList<QJsonObject> jsonLines(const QString &out)
{
    QList<QJsonObject> objects;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            qFatal("not a JSON object line: %s", qPrintable(line));
        objects << doc.object();
    }
    return objects;
}

void UtilityZvtoolTest::listings()
{
    // Bracketed, from a file and from standard input, with a name that needs escaping.
    const QByteArray bracketed = "[-rw-r--r--][2048][3][2011-05-02 10:11:12][/notes.txt]\n"
                                 "[drwxr-xr-x][0][1][2011-05-02 10:11:12][a]b \"q\"]\n"
                                 "garbage \xff\xfe line\n";
    const QString file = m_dir.filePath(QStringLiteral("bracketed.txt"));
    QVERIFY(TestSupport::writeFile(file, bracketed));
    for (const bool fromStdin : {false, true}) {
        const Run r = fromStdin ? zvtool({"listing", "bracketed", "/Users/x", "-"}, bracketed)
                                : zvtool({"listing", "bracketed", "/Users/x", file});
        QCOMPARE(r.status, 0);
        const QList<QJsonObject> objects = jsonLines(r.out);
        QCOMPARE(objects.size(), 2);
        QCOMPARE(objects[0].toVariantMap(),
                 (QVariantMap{{"filePath", "notes.txt"}, {"fileSize", "2048"}, {"Version", "3"},
                              {"fileModificationDate", "2011-05-02 10:11:12"}}));
        QCOMPARE(objects[1].value(QStringLiteral("filePath")).toString(), QStringLiteral("a]b \"q\""));
        QVERIFY(!objects[1].contains(QStringLiteral("fileSize")));
    }

    // Records.
    const QString records = m_dir.filePath(QStringLiteral("records.txt"));
    QVERIFY(TestSupport::writeFile(records, "x//Docs/a.txt|120|2011-05-02|100644||y//Docs|0|2011-05-02|40755"));
    Run r = zvtool({"listing", "records", records});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QStringLiteral("{\"fileModificationDate\":\"2011-05-02\",\"filePath\":\"a.txt\",\"fileSize\":\"120\"}\n"
                                   "{\"fileModificationDate\":\"2011-05-02\",\"filePath\":\"Docs\",\"fileSize\":\"0\"}\n"));

    // Columns from a property-list file; a missing file is an error of its own.
    const QString plist = m_dir.filePath(QStringLiteral("columns.plist"));
    QVERIFY(PropertyList::writeFile(QVariantList{QStringLiteral("-rwxr-xr-x@        1024 2011-05-02 10:11:12 report.pdf"),
                                                 QStringLiteral("\"/BackUp_nightly.2011-05-03\" 4096")},
                                    plist, PropertyList::Format::XML, false));
    r = zvtool({"listing", "columns", "/", plist});
    QCOMPARE(r.status, 0);
    const QList<QJsonObject> objects = jsonLines(r.out);
    QCOMPARE(objects.size(), 2);
    QCOMPARE(objects[0].value(QStringLiteral("fileSize")).toString(), QStringLiteral("        1024"));
    QCOMPARE(objects[1].value(QStringLiteral("filePath")).toString(), QStringLiteral("BackUp_nightly.2011-05-03"));
    r = zvtool({"listing", "columns", "/", m_dir.filePath(QStringLiteral("missing.plist"))});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.out, QString());
    r = zvtool({"listing", "records", m_dir.path()});
    QCOMPARE(r.status, 1);
    // A damaged property list reads as an empty listing, as the product reads it.
    QVERIFY(TestSupport::writeFile(plist, "not a property list"));
    r = zvtool({"listing", "columns", "/", plist});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QString());
}

void UtilityZvtoolTest::recordListingFollowsUserDefault()
{
    // zvtool's own defaults domain, in a private home folder.
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    const QDir config(home.filePath(QStringLiteral("Library/Preferences")));
    QVERIFY(config.mkpath(QStringLiteral(".")));
    const QString records = m_dir.filePath(QStringLiteral("hidden.txt"));
    QVERIFY(TestSupport::writeFile(records, "//h/.profile|1|2|3||//h/v|1|2|3"));
    Run r = zvtool({"listing", "records", records}, QByteArray(), env);
    QCOMPARE(jsonLines(r.out).size(), 1);
    QVERIFY(PropertyList::writeFile(QVariantMap{{QStringLiteral("ShowHiddenFilesKey "), true}},
                                    config.filePath(QStringLiteral("zvtool.plist")), PropertyList::Format::Binary, false));
    r = zvtool({"listing", "records", records}, QByteArray(), env);
    const QList<QJsonObject> objects = jsonLines(r.out);
    QCOMPARE(objects.size(), 2);
    QCOMPARE(objects[0].value(QStringLiteral("filePath")).toString(), QStringLiteral(".profile"));
}

QTEST_GUILESS_MAIN(UtilityZvtoolTest)
#include "UtilityZvtoolTest.moc"
