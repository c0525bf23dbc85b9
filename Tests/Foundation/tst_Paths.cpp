// Tilde expansion, path standardizing and formats used without arguments, as the uninstall
// forms the paths it removes.
#include "NSPathUtilities.h"
#include "NSStringFormat.h"

#include <QTest>

class PathsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("HOME", "/home/ann"); }

    void standardizing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tilde") << "~/Library/x.plist" << "/home/ann/Library/x.plist";
        QTest::newRow("tilde alone") << "~" << "/home/ann";
        QTest::newRow("dots and doubled slashes") << "/a//b/./c/../d/" << "/a/b/d";
        QTest::newRow("above the root") << "/../../x" << "/x";
        QTest::newRow("root") << "/" << "/";
        QTest::newRow("relative keeps dot-dot") << "a/../b/./c" << "a/../b/c";
        QTest::newRow("tilde then dot-dot") << "~/../bob/x" << "/home/bob/x";
        QTest::newRow("tilde of root user") << "~root/x" << "/root/x";
        QTest::newRow("tilde of unknown user") << "~no-such-user-zv/x" << "~no-such-user-zv/x";
        QTest::newRow("tilde not leading") << "/a/~/b" << "/a/~/b";
        QTest::newRow("empty") << "" << "";
    }
    void standardizing()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(stringByStandardizingPath(path), expected);
    }

    void formats_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("objects");
        QTest::addColumn<QString>("expected");
        QTest::newRow("user path") << "/home/%@/x" << QStringList{"ann"} << "/home/ann/x";
        QTest::newRow("doubled percent") << "/tmp/100%%/x" << QStringList{} << "/tmp/100%/x";
        QTest::newRow("object not re-read") << "/home/%@/x" << QStringList{"%@%%"} << "/home/%@%%/x";
        QTest::newRow("missing object stays") << "/home/%@/x" << QStringList{} << "/home/%@/x";
        QTest::newRow("other conversions stay") << "%d %s %" << QStringList{} << "%d %s %";
    }
    void formats()
    {
        QFETCH(QString, format);
        QFETCH(QStringList, objects);
        QFETCH(QString, expected);
        QCOMPARE(NSStringFormat::stringWithFormat(format, objects), expected);
    }
};

QTEST_GUILESS_MAIN(PathsTest)
#include "tst_Paths.moc"
