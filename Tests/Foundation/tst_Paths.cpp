// Tilde expansion, path standardizing and formats used without arguments, as the uninstall
// forms the paths it removes; the bundle's resource search by the user's language.
#include "NSBundle_p.h"
#include "NSPathUtilities_p.h"
#include "NSStringFormat_p.h"
#include "TestSupport.h"

#include <QLocale>
#include <QTemporaryDir>
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

    void resourceSearch_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        const QString en = "en.lproj/Localizable.plist", de = "de.lproj/Localizable.plist";
        QTest::newRow("English only") << QStringList{en} << "de_DE" << en;
        QTest::newRow("user's language over English") << QStringList{en, de} << "de_DE" << de;
        QTest::newRow("English user keeps English") << QStringList{en, de} << "en_US" << en;
        QTest::newRow("region before language") << QStringList{de, "de_AT.lproj/Localizable.plist"} << "de_AT"
                                                << "de_AT.lproj/Localizable.plist";
        QTest::newRow("old language names") << QStringList{"English.lproj/Localizable.plist", "German.lproj/Localizable.plist"}
                                            << "de_DE" << "German.lproj/Localizable.plist";
        QTest::newRow("under Resources") << QStringList{en, "Resources/" + de} << "de_DE" << "Resources/" + de;
        QTest::newRow("no language owns it: first") << QStringList{"Localizable.plist", de} << "de_DE" << "Localizable.plist";
        QTest::newRow("Base after English") << QStringList{"Base.lproj/Localizable.plist", "fr.lproj/Localizable.plist"}
                                            << "de_DE" << "Base.lproj/Localizable.plist";
        QTest::newRow("none") << QStringList{"fr.lproj/Localizable.plist"} << "de_DE" << "";
    }
    void resourceSearch()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        for (const QString &file : files)
            QVERIFY(TestSupport::writeFile(dir.filePath(file), "x"));
        NSBundle::mainBundle().setResourcePath(dir.path());
        QLocale::setDefault(QLocale(locale));
        const QString found = NSBundle::mainBundle().pathForResourceOfType("Localizable", "plist");
        QLocale::setDefault(QLocale::system());
        QCOMPARE(found, expected.isEmpty() ? QString() : QFileInfo(dir.filePath(expected)).absoluteFilePath());
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
