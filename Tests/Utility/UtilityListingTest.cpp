// The backup server's listing output: the three collect operations against listings and
// property-list files in temp folders, the remote checklist, the line parsers, the user
// default that shows hidden names, and a seeded run of generated and mutated lines.
//
// The checklist is process-wide and never emptied, so the first test function checks the
// state before any collect and the others use remote paths of their own.
#include "NSUserDefaults_p.h"
#include "PropertyList_p.h"
#include "TestSupport.h"
#include "ZVUtility.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Entries = QList<QVariantMap>;

Entries entriesOf(const QVariantList &list)
{
    Entries entries;
    for (const QVariant &v : list) {
        if (v.typeId() != QMetaType::QVariantMap)
            qFatal("a list element is not a file entry");
        entries.append(v.toMap());
    }
    return entries;
}

// "key=value;key=value" (keys: p filePath, s fileSize, d fileModificationDate, v Version).
QVariantMap entry(const QString &fields)
{
    static const QHash<QString, QString> keys{{QStringLiteral("p"), QStringLiteral("filePath")},
                                              {QStringLiteral("s"), QStringLiteral("fileSize")},
                                              {QStringLiteral("d"), QStringLiteral("fileModificationDate")},
                                              {QStringLiteral("v"), QStringLiteral("Version")}};
    QVariantMap map;
    for (const QString &pair : fields.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        map.insert(keys.value(pair.left(eq)), pair.mid(eq + 1));
    }
    return map;
}

// Every value of a list of entries is a text, and the entries have a name.
bool wellFormed(const Entries &entries)
{
    for (const QVariantMap &e : entries) {
        if (!e.contains(QStringLiteral("filePath")))
            return false;
        for (const QVariant &v : e)
            if (v.typeId() != QMetaType::QString)
                return false;
    }
    return true;
}

QString remotePath(const QString &folder, const QString &name)
{
    return folder == QLatin1String("/") ? QStringLiteral("/") + name : folder + QStringLiteral("/") + name;
}

} // namespace

Q_DECLARE_METATYPE(Entries)

class UtilityListingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void checklistBeforeFirstCollect();
    void recordListing_data();
    void recordListing();
    void recordListingHiddenNames_data();
    void recordListingHiddenNames();
    void recordListingReplacesServerFiles();
    void bracketedListing_data();
    void bracketedListing();
    void bracketedListingChecklist();
    void columnListing();
    void columnListingUnreadableFiles_data();
    void columnListingUnreadableFiles();
    void setDirNode_data();
    void setDirNode();
    void bracketedParsers_data();
    void bracketedParsers();
    void bracketedParsersNullPlaces();
    void orxParserRecordsSize();
    void spaceTokenParsers_data();
    void spaceTokenParsers();
    void verificationError_data();
    void verificationError();
    void locateCharacter_data();
    void locateCharacter();
    void accessorsAndNoOps();
    void userDefaultsLocation();
    void robustness();

private:
    void setShowHidden(const QVariant &value);
    QTemporaryDir m_config;
    QTemporaryDir m_files;
};

void UtilityListingTest::initTestCase()
{
    QVERIFY(m_config.isValid() && m_files.isValid());
    // The user's defaults live in the home folder's preferences: point HOME at a temp folder
    // so that the user's own settings neither matter nor change.
    qputenv("HOME", m_config.path().toUtf8());
    QVERIFY(QDir().mkpath(ZVUtility::userPreferencePath()));
}

void UtilityListingTest::setShowHidden(const QVariant &value)
{
    // Written the way a user's settings file is, at the place the product reads.
    const QString path = ZVUtility::userPreferencePath() + QStringLiteral("UtilityListingTest.plist");
    QVariantMap domain;
    if (value.isValid())
        domain.insert(QStringLiteral("ShowHiddenFilesKey "), value);
    QVERIFY(PropertyList::writeFile(domain, path, PropertyList::Format::XML, false));
}

void UtilityListingTest::checklistBeforeFirstCollect()
{
    // Nothing exists yet: setters do nothing, lookups find nothing.
    ZVUtility::setRemoteSizeForFile(QStringLiteral("10"), QStringLiteral("/early"));
    ZVUtility::setRemoteDirectoryStateForFile(QStringLiteral("directory"), QStringLiteral("/early"));
    QVERIFY(ZVUtility::remoteFileSize(QStringLiteral("/early")).isNull());
    QVERIFY(!ZVUtility::isRemoteDirectory(QStringLiteral("/early")));
    QString size, path;
    ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
        QStringLiteral("[p][77][d][/early-orx][x]"), &size, &path, nullptr, nullptr, nullptr, nullptr, QVariant());
    QCOMPARE(size, QStringLiteral("77"));
    QVERIFY(ZVUtility::remoteFileSize(path).isNull());

    // The first collect brings the checklist into being; from then on the setters work.
    ZVUtility::collectORXServerFilesInFile(QStringLiteral("/"), QString());
    ZVUtility::setRemoteSizeForFile(QStringLiteral("10"), QStringLiteral("/early"));
    ZVUtility::setRemoteDirectoryStateForFile(QStringLiteral("directory"), QStringLiteral("/early"));
    QCOMPARE(ZVUtility::remoteFileSize(QStringLiteral("/early")), QStringLiteral("10"));
    QVERIFY(ZVUtility::isRemoteDirectory(QStringLiteral("/early")));
}

void UtilityListingTest::recordListing_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<Entries>("expected");
    QTest::addColumn<QStringList>("directories");    // remote paths recorded as directories
    QTest::addColumn<QStringList>("notDirectories"); // "path=size" recorded as files

    QTest::newRow("two records")
        << "x//Docs/a.txt|120|2011-05-02|100644||y//Docs|0|2011-05-02|40755"
        << Entries{entry("p=a.txt;s=120;d=2011-05-02"), entry("p=Docs;s=0;d=2011-05-02")} << QStringList{"/Docs"}
        << QStringList{"/Docs/a.txt=120"};
    QTest::newRow("three fields, no slashes, five fields")
        << "x//r1/a|1|2||no slashes here||x//r1/b|1|2|3|4||x//r1/c|5|6|7" << Entries{entry("p=c;s=5;d=6")}
        << QStringList{} << QStringList{"/r1/c=5"};
    QTest::newRow("only the piece after the first // counts")
        << "head//r2/f|9|d|1//r2/ignored|1|2|3" << Entries{entry("p=f;s=9;d=d")} << QStringList{}
        << QStringList{"/r2/f=9"};
    QTest::newRow("skipped names")
        << "//r3/filelist.ldb|1|2|3||//r3/filelist_final.ldb|1|2|3||//r3/Encrypted_Data|1|2|4||"
           "//r3/backup_restore_logs_do_not_delete|1|2|4||//r3/x.idxlist|1|2|3||//r3/kept.ldb|4|5|3"
        << Entries{entry("p=kept.ldb;s=4;d=5")} << QStringList{} << QStringList{"/r3/kept.ldb=4"};
    QTest::newRow("empty records")
        << "||||//r4/e|1|2|4||||" << Entries{entry("p=e;s=1;d=2")} << QStringList{"/r4/e"} << QStringList{};
    // Two empty fields in a row make a "||", which ends the record.
    QTest::newRow("empty fields cut the record") << "//r4/f|||4" << Entries{} << QStringList{} << QStringList{};
    QTest::newRow("empty last field") << "//r4/g|1|2|" << Entries{entry("p=g;s=1;d=2")} << QStringList{}
                                      << QStringList{"/r4/g=1"};
    QTest::newRow("type decides by its first character")
        << "//r5/a|1|2|4||//r5/b|1|2|04||//r5/c|1|2|" << Entries{entry("p=a;s=1;d=2"), entry("p=b;s=1;d=2"), entry("p=c;s=1;d=2")}
        << QStringList{"/r5/a"} << QStringList{"/r5/b=1", "/r5/c=1"};
    QTest::newRow("empty listing") << "" << Entries{} << QStringList{} << QStringList{};
}

void UtilityListingTest::recordListing()
{
    QFETCH(QString, listing);
    QFETCH(Entries, expected);
    QFETCH(QStringList, directories);
    QFETCH(QStringList, notDirectories);
    setShowHidden(QVariant());
    QCOMPARE(entriesOf(ZVUtility::collectServerFilesForUser(listing, QStringLiteral("anyone"))), expected);
    for (const QString &d : directories)
        QVERIFY2(ZVUtility::isRemoteDirectory(d), qPrintable(d));
    for (const QString &f : notDirectories) {
        const QString path = f.section(QLatin1Char('='), 0, 0);
        QVERIFY2(!ZVUtility::isRemoteDirectory(path), qPrintable(path));
        QCOMPARE(ZVUtility::remoteFileSize(path), f.section(QLatin1Char('='), 1));
    }
}

void UtilityListingTest::recordListingHiddenNames_data()
{
    QTest::addColumn<QVariant>("setting");
    QTest::addColumn<bool>("shown");
    QTest::newRow("absent") << QVariant() << false;
    QTest::newRow("false") << QVariant(false) << false;
    QTest::newRow("true") << QVariant(true) << true;
    QTest::newRow("number 1") << QVariant(qint64(1)) << true;
    QTest::newRow("text YES") << QVariant(QStringLiteral("YES")) << true;
    QTest::newRow("text no") << QVariant(QStringLiteral("no")) << false;
}

void UtilityListingTest::recordListingHiddenNames()
{
    QFETCH(QVariant, setting);
    QFETCH(bool, shown);
    setShowHidden(setting);
    const Entries entries = entriesOf(
        ZVUtility::collectServerFilesForUser(QStringLiteral("//h/.profile|1|2|3||//h/.filelist.ldb|1|2|3||//h/v|1|2|3||"
                                                            "//h/filelist.ldb|1|2|3"),
                                             QString()));
    Entries expected;
    if (shown)
        expected << entry("p=.profile;s=1;d=2") << entry("p=.filelist.ldb;s=1;d=2");
    expected << entry("p=v;s=1;d=2");
    QCOMPARE(entries, expected);

    // The key's trailing blank belongs to it: the same setting without it is not read.
    if (shown) {
        QVariantMap domain{{QStringLiteral("ShowHiddenFilesKey"), setting}};
        QVERIFY(PropertyList::writeFile(domain, ZVUtility::userPreferencePath() + QStringLiteral("UtilityListingTest.plist"),
                                        PropertyList::Format::Binary, false));
        QCOMPARE(ZVUtility::collectServerFilesForUser(QStringLiteral("//h/.profile|1|2|3"), QString()).size(), 0);
    }
}

void UtilityListingTest::recordListingReplacesServerFiles()
{
    setShowHidden(QVariant());
    const QVariantList first = ZVUtility::collectServerFilesForUser(QStringLiteral("//q/a|1|2|3"), QString());
    QCOMPARE(first.size(), 1);
    // A later listing starts a new list; the checklist keeps what earlier listings taught it.
    const QVariantList second = ZVUtility::collectServerFilesForUser(QStringLiteral("//q/b|7|2|3"), QString());
    QCOMPARE(entriesOf(second), Entries{entry("p=b;s=7;d=2")});
    QCOMPARE(ZVUtility::remoteFileSize(QStringLiteral("/q/a")), QStringLiteral("1"));
    QCOMPARE(first.size(), 1); // the list handed out before is the caller's own
}

void UtilityListingTest::bracketedListing_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("listing");
    QTest::addColumn<Entries>("expected");
    const QString date = QStringLiteral("2011-05-02 10:11:12");
    QTest::newRow("file at the root")
        << "/" << "[-rw-r--r--][2048][3][2011-05-02 10:11:12][/notes.txt]"
        << Entries{entry("p=notes.txt;s=2048;v=3;d=" + date)};
    QTest::newRow("directory, no size")
        << "/Users/x" << "[drwxr-xr-x][0][1][2011-05-02 10:11:12][Docs]" << Entries{entry("p=Docs;v=1;d=" + date)};
    QTest::newRow("name holding ]") << "/b" << "[-][5][2][d][a]b]" << Entries{entry("p=a]b;s=5;v=2")};
    QTest::newRow("name holding ] [ and ending in ]")
        << "/b" << "[-][5][2][d][x]y[z]]" << Entries{entry("p=x]y[z];s=5;v=2")};
    QTest::newRow("second slash component") << "/b" << "[-][5][2][d][/Documents/inner/deep]"
                                           << Entries{entry("p=Documents;s=5;v=2;d=d")};
    QTest::newRow("relative name with a slash") << "/b" << "[-][5][2][d][a/b]" << Entries{entry("p=b;s=5;v=2")};
    QTest::newRow("left out")
        << "/b"
        << "[-][1][1][d][.hidden]\n[-][1][1][d][/.hidden/x]\n[d][1][1][d][backup_restore_logs_do_not_delete]\n"
           "[-][1][1][d][list.idxlist]\n[l][1][1][d][link]\n[][1][1][d][untyped]\n[-][1][1][d][filelist.ldb]"
        << Entries{entry("p=filelist.ldb;s=1;v=1;d=d")};
    QTest::newRow("too few pieces and empty lines")
        << "/b" << "\n\n[-][1][1][d]name\n[-][1][1][d][ok]\n\n" << Entries{entry("p=ok;s=1;v=1")};
    QTest::newRow("short line has no date") << "/b" << "[-]]]][n]" << Entries{entry("p=n;s=;v=")};
    QTest::newRow("date from 24 characters on")
        << "/b" << "[-][1][1][date][abcdef]\n[-][1][1][date][abcdefg]" // 23 and 24 characters
        << Entries{entry("p=abcdef;s=1;v=1"), entry("p=abcdefg;s=1;v=1;d=date")};
    QTest::newRow("fields without [") << "/b" << "-rw]12]4]when]name]" << Entries{entry("p=name;s=12;v=4")};
}

void UtilityListingTest::bracketedListing()
{
    QFETCH(QString, folder);
    QFETCH(QString, listing);
    QFETCH(Entries, expected);
    QCOMPARE(entriesOf(ZVUtility::collectORXServerFilesInFile(folder, listing)), expected);
}

void UtilityListingTest::bracketedListingChecklist()
{
    const QString line = QStringLiteral("[-rw-r--r--][2048][3][2011-05-02 10:11:12][/notes.txt]\n"
                                        "[drwxr-xr-x][99][3][2011-05-02 10:11:12][Music]");
    ZVUtility::collectORXServerFilesInFile(QStringLiteral("/"), line);
    QVERIFY(!ZVUtility::isRemoteDirectory(QStringLiteral("/notes.txt")));
    QCOMPARE(ZVUtility::remoteFileSize(QStringLiteral("/notes.txt")), QStringLiteral("2048"));
    QVERIFY(ZVUtility::isRemoteDirectory(QStringLiteral("/Music")));
    QVERIFY(ZVUtility::remoteFileSize(QStringLiteral("/Music")).isNull()); // directories get no size

    ZVUtility::collectORXServerFilesInFile(QStringLiteral("/Users/x"), line);
    QCOMPARE(ZVUtility::remoteFileSize(QStringLiteral("/Users/x/notes.txt")), QStringLiteral("2048"));
    QVERIFY(ZVUtility::isRemoteDirectory(QStringLiteral("/Users/x/Music")));

    // A later listing overwrites what was known of a path.
    ZVUtility::collectORXServerFilesInFile(QStringLiteral("/Users/x"), QStringLiteral("[-][5][1][d][Music]"));
    QVERIFY(!ZVUtility::isRemoteDirectory(QStringLiteral("/Users/x/Music")));
    QCOMPARE(ZVUtility::remoteFileSize(QStringLiteral("/Users/x/Music")), QStringLiteral("5"));
}

void UtilityListingTest::columnListing()
{
    // Columns: 0 type, 10-22 size with the character before it, 23-41 date, 43- name.
    const auto line = [](QChar type, const QString &size12, const QString &date19, const QString &name) {
        const QString l = QString(type) + QStringLiteral("rwxr-xr-x") + QStringLiteral("@") + size12 + date19
            + QStringLiteral(" ") + name;
        Q_ASSERT(size12.size() == 12 && date19.size() == 19);
        return l;
    };
    const QString date = QStringLiteral("2011-05-02 10:11:12");
    const QString exactly43 = line(QLatin1Char('-'), QStringLiteral("         100"), date, QString());
    QCOMPARE(exactly43.size(), 43);
    const QVariantList lines{
        line(QLatin1Char('-'), QStringLiteral("        1024"), date, QStringLiteral("report.pdf")),
        line(QLatin1Char('d'), QStringLiteral("           0"), date, QStringLiteral("Pictures and more")),
        line(QLatin1Char('-'), QStringLiteral("           1"), date, QStringLiteral(".hidden")),
        line(QLatin1Char('l'), QStringLiteral("           1"), date, QStringLiteral("link")),
        exactly43,
        exactly43 + QStringLiteral("x"),
        QStringLiteral("drwxr-xr-x  /Volumes/Backup/BackUp_nightly.2011-05-02\" more"),
        QStringLiteral("\"/BackUp_nightly.2011-05-03\" 4096"),
        QStringLiteral("BackUp_nightly.x without the slash"),
        QVariant(qint64(42)),
        line(QLatin1Char('-'), QStringLiteral("        1024"), date, QStringLiteral("filelist.ldb")),
    };
    const QString plist = m_files.filePath(QStringLiteral("columns.plist"));
    QVERIFY(PropertyList::writeFile(lines, plist, PropertyList::Format::Binary, false));

    const Entries entries = entriesOf(ZVUtility::collectServerFilesInFileIsSnapshotEnabled(QStringLiteral("/Col"), plist, true));
    const Entries expected{entry("p=report.pdf;s=        1024;d=" + date), entry("p=Pictures and more;s=           0;d=" + date),
                           entry("p=x;s=         100;d=" + date), entry("p=Volumes;s= ;d= "),
                           entry("p=BackUp_nightly.2011-05-03;s= ;d= "),
                           entry("p=filelist.ldb;s=        1024;d=" + date)};
    QCOMPARE(entries, expected);
    QCOMPARE(ZVUtility::remoteFileSize(QStringLiteral("/Col/report.pdf")), QStringLiteral("@        1024"));
    QVERIFY(!ZVUtility::isRemoteDirectory(QStringLiteral("/Col/report.pdf")));
    QVERIFY(ZVUtility::isRemoteDirectory(QStringLiteral("/Col/Pictures and more")));
    QVERIFY(ZVUtility::remoteFileSize(QStringLiteral("/Col/Pictures and more")).isNull());
    QVERIFY(ZVUtility::isRemoteDirectory(QStringLiteral("/Col/Volumes")));
    QVERIFY(ZVUtility::isRemoteDirectory(QStringLiteral("/Col/BackUp_nightly.2011-05-03")));
    QVERIFY(ZVUtility::remoteFileSize(QStringLiteral("/Col/.hidden")).isNull());

    // The flag changes nothing.
    QCOMPARE(entriesOf(ZVUtility::collectServerFilesInFileIsSnapshotEnabled(QStringLiteral("/Col"), plist, false)), expected);
}

void UtilityListingTest::columnListingUnreadableFiles_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("not a property list") << QByteArray("\x00\x01garbage\xff", 11);
    QTest::newRow("truncated binary list")
        << PropertyList::toData(QVariantList{QStringLiteral("-rwxr-xr-x@        1024 2011-05-02 10:11:12 name")},
                                PropertyList::Format::Binary)
               .left(20);
    QTest::newRow("dictionary root") << PropertyList::toData(QVariantMap{{QStringLiteral("a"), QStringLiteral("b")}},
                                                             PropertyList::Format::XML);
    QTest::newRow("text root") << PropertyList::toData(QStringLiteral("-rwxr-xr-x@        1024 2011-05-02 10:11:12 name"),
                                                       PropertyList::Format::XML);
}

void UtilityListingTest::columnListingUnreadableFiles()
{
    QFETCH(QByteArray, content);
    const QString path = m_files.filePath(QStringLiteral("damaged-%1.plist").arg(QTest::currentDataTag()));
    if (!content.isEmpty())
        QVERIFY(TestSupport::writeFile(path, content));
    // The server file list from before is replaced even so.
    QCOMPARE(ZVUtility::collectServerFilesForUser(QStringLiteral("//u/a|1|2|3"), QString()).size(), 1);
    QCOMPARE(ZVUtility::collectServerFilesInFileIsSnapshotEnabled(QStringLiteral("/"), path, false).size(), 0);
}

void UtilityListingTest::setDirNode_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("directory");
    QTest::newRow("d") << "dir" << "/" << "/n-d" << true;
    QTest::newRow("D") << "Directory" << "/p" << "/p/n-D" << true;
    QTest::newRow("0") << "040755" << "/p/q" << "/p/q/n-0" << true;
    QTest::newRow("file") << "file" << "/p" << "/p/n-file" << false;
    QTest::newRow("empty type") << "" << "" << "/n-empty type" << false;
}

void UtilityListingTest::setDirNode()
{
    QFETCH(QString, type);
    QFETCH(QString, parent);
    QFETCH(QString, path);
    QFETCH(bool, directory);
    const QString name = QStringLiteral("n-") + QString::fromLatin1(QTest::currentDataTag());
    ZVUtility::setDirNodeSizeForFileWithParentFile(type, QStringLiteral("321"), name, parent);
    QCOMPARE(ZVUtility::isRemoteDirectory(path), directory);
    QCOMPARE(ZVUtility::remoteFileSize(path), QStringLiteral("321"));
}

void UtilityListingTest::bracketedParsers_data()
{
    QTest::addColumn<QString>("parser"); // search1, orx-marker, orx
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("expected"); // size, path, date, version1, permission; "-" = not written

    QTest::newRow("search1") << "search1" << "[2011-05-02][120][4][x][/Docs/a.txt]"
                             << QStringList{"120", "/Docs/a.txt", "2011-05-02", "4", "-"};
    QTest::newRow("search1 five pieces: name is the last piece")
        << "search1" << "[date][1][2][x][tail" << QStringList{"1", "tail", "date", "2", "-"};
    QTest::newRow("search1 name with ]") << "search1" << "[d][1][2][x][a]b]c]" << QStringList{"1", "a]b]c", "d", "2", "-"};
    QTest::newRow("search1 four pieces") << "search1" << "[d][1][2][x" << QStringList{"-", "-", "-", "-", "-"};
    QTest::newRow("orx marker") << "orx-marker" << "[rw][9][v1][when][v2][/n]"
                                << QStringList{"9", "/n", "when", "v1", "rw"};
    QTest::newRow("orx marker, five pieces, no name") << "orx-marker" << "[rw][9][v1][when]v2"
                                                      << QStringList{"9", "-", "when", "v1", "rw"};
    QTest::newRow("orx marker name with ]") << "orx-marker" << "[rw][9][v1][when][v2][a]]b]"
                                            << QStringList{"9", "a]]b", "when", "v1", "rw"};
    QTest::newRow("orx") << "orx" << "[rw][9][when][/n][more]" << QStringList{"9", "/n][more", "when", "-", "rw"};
    QTest::newRow("orx five pieces") << "orx" << "[rw][9][when][/n]" << QStringList{"9", "/n", "when", "-", "rw"};
    QTest::newRow("orx four pieces") << "orx" << "[rw][9][when]" << QStringList{"-", "-", "-", "-", "-"};
    QTest::newRow("empty") << "orx" << "" << QStringList{"-", "-", "-", "-", "-"};
    QTest::newRow("no brackets at all") << "search1" << "a]b]c]d]e" << QStringList{"b", "e", "a", "c", "-"};
}

void UtilityListingTest::bracketedParsers()
{
    QFETCH(QString, parser);
    QFETCH(QString, line);
    QFETCH(QStringList, expected);
    // Places start out holding a mark, so that "not written" can be told from "written empty".
    const QString mark = QStringLiteral("untouched");
    QString size = mark, path = mark, date = mark, version1 = mark, permission = mark, version2 = mark;
    if (parser == QLatin1String("search1"))
        ZVUtility::parsedEntriesForOutputInfoSearch1FileSizeFilePathFileModifiedDateVersion1(line, &size, &path, &date,
                                                                                               &version1);
    else
        ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
            line, &size, &path, &date, &version1, &permission, &version2,
            parser == QLatin1String("orx-marker") ? QVariant(QStringLiteral("ORX")) : QVariant());
    const QStringList actual{size, path, date, version1, permission};
    QStringList wanted;
    for (const QString &e : expected)
        wanted << (e == QLatin1String("-") ? mark : e);
    QCOMPARE(actual, wanted);
    QCOMPARE(version2, mark);
}

void UtilityListingTest::bracketedParsersNullPlaces()
{
    QString size, date;
    ZVUtility::parsedEntriesForOutputInfoSearch1FileSizeFilePathFileModifiedDateVersion1(
        QStringLiteral("[d][1][2][x][n]"), &size, nullptr, &date, nullptr);
    QCOMPARE(size, QStringLiteral("1"));
    QCOMPARE(date, QStringLiteral("d"));
    QString path;
    ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
        QStringLiteral("[p][1][2][3][4][n]"), nullptr, &path, nullptr, nullptr, nullptr, nullptr, QVariant(0));
    QCOMPARE(path, QStringLiteral("n"));
    ZVUtility::parseErrorForVerificationFailedFile(QStringLiteral("[a][b][c][d][e]"), nullptr);
}

void UtilityListingTest::orxParserRecordsSize()
{
    ZVUtility::collectORXServerFilesInFile(QStringLiteral("/"), QString()); // the checklist exists
    ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
        QStringLiteral("[rw][4711][v][when][x][/orx/sized]"), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        QVariant(true));
    QCOMPARE(ZVUtility::remoteFileSize(QStringLiteral("/orx/sized")), QStringLiteral("4711"));
    // Without a name nothing is recorded, not even under an empty path.
    ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
        QStringLiteral("[rw][4712][v][when]"), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, QVariant(true));
    QVERIFY(ZVUtility::remoteFileSize(QString()).isNull());
    QVERIFY(ZVUtility::remoteFileSize(QStringLiteral("")).isNull());
}

void UtilityListingTest::spaceTokenParsers_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("search"); // size, date, path ("-" = left as it was)
    QTest::addColumn<QStringList>("info");   // size, path
    QTest::newRow("spacing inside the path")
        << "a 10 d c  my  file" << QStringList{"10", "d", "my  file"} << QStringList{"10", " my  file"};
    QTest::newRow("info keeps the spaces after the fourth token")
        << "a 10 b c  my file" << QStringList{"10", "b", "my file"} << QStringList{"10", " my file"};
    QTest::newRow("leading and doubled spaces")
        << "  a   10  d c x" << QStringList{"10", "d", "x"} << QStringList{"10", "x"};
    QTest::newRow("four tokens") << "a 10 d c" << QStringList{"10", "d", "-"} << QStringList{"10", ""};
    QTest::newRow("four tokens and a space") << "a 10 d c " << QStringList{"10", "d", "-"} << QStringList{"10", ""};
    QTest::newRow("two tokens") << "a 10" << QStringList{"10", "-", "-"} << QStringList{"10", "a 10"};
    QTest::newRow("one token") << "alone" << QStringList{"-", "-", "-"} << QStringList{"-", "alone"};
    QTest::newRow("empty") << "" << QStringList{"-", "-", "-"} << QStringList{"-", ""};
    QTest::newRow("tabs are not separators")
        << "a\t10 b c d" << QStringList{"b", "c", "-"} << QStringList{"b", ""};
}

void UtilityListingTest::spaceTokenParsers()
{
    QFETCH(QString, line);
    QFETCH(QStringList, search);
    QFETCH(QStringList, info);
    const QString mark = QStringLiteral("untouched");
    const auto want = [&mark](const QString &e) { return e == QLatin1String("-") ? mark : e; };
    QString size = mark, path = mark, date = mark;
    ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDate(line, size, path, date);
    QCOMPARE((QStringList{size, date, path}), (QStringList{want(search[0]), want(search[1]), want(search[2])}));
    size = mark;
    path = mark;
    ZVUtility::parsedEntriesForInfoFileSizeFilePath(line, size, path);
    QCOMPARE((QStringList{size, path}), (QStringList{want(info[0]), info[1]}));
    QVERIFY(!path.isNull());
}

void UtilityListingTest::verificationError_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // "-" = not written
    QTest::newRow("five parts") << "[E] [V] [/Users/x/file.txt] [r] [s]" << "/Users/x/file.txt";
    QTest::newRow("four parts") << "[E] [V] [/Users/x/file.txt] [r]" << "-";
    QTest::newRow("empty pieces dropped") << "]]][E]][V]][/p]][r]][s]]" << "/p";
    QTest::newRow("no ]") << "[E] [V] [/p [r [s" << "-";
    QTest::newRow("third piece without [") << "[E][V] /p ][r][s]" << " /p ";
    QTest::newRow("empty") << "" << "-";
}

void UtilityListingTest::verificationError()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QString path = QStringLiteral("untouched");
    ZVUtility::parseErrorForVerificationFailedFile(text, &path);
    QCOMPARE(path, expected == QLatin1String("-") ? QStringLiteral("untouched") : expected);
}

void UtilityListingTest::locateCharacter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QChar>("character");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty") << QString() << QChar(u'[') << -1;
    QTest::newRow("first of several") << "ab[c[" << QChar(u'[') << 2;
    QTest::newRow("absent") << "abc" << QChar(u'[') << -1;
    // U+1F600 takes two 16-bit units.
    QTest::newRow("after a surrogate pair") << QString::fromUtf8("\xF0\x9F\x98\x80[") << QChar(u'[') << 2;
    QTest::newRow("a surrogate half") << QString::fromUtf8("x\xF0\x9F\x98\x80") << QChar(char16_t(0xDE00)) << 2;
}

void UtilityListingTest::locateCharacter()
{
    QFETCH(QString, text);
    QFETCH(QChar, character);
    QFETCH(int, expected);
    QCOMPARE(ZVUtility::LocateCharecterInChar(text, character), expected);
}

void UtilityListingTest::accessorsAndNoOps()
{
    ZVUtility::setDirNodeSizeForFileWithParentFile(QStringLiteral("-"), QStringLiteral("1"), QStringLiteral("acc"),
                                                   QStringLiteral("/"));
    ZVUtility::setRemoteDirectoryStateForFile(QStringLiteral("Directory"), QStringLiteral("/acc"));
    QVERIFY(!ZVUtility::isRemoteDirectory(QStringLiteral("/acc"))); // only "directory" itself
    ZVUtility::setRemoteDirectoryStateForFile(QStringLiteral("directory"), QStringLiteral("/acc"));
    QVERIFY(ZVUtility::isRemoteDirectory(QStringLiteral("/acc")));
    ZVUtility::setRemoteSizeForFile(QStringLiteral(""), QStringLiteral("/acc"));
    QCOMPARE(ZVUtility::remoteFileSize(QStringLiteral("/acc")), QStringLiteral(""));
    QVERIFY(!ZVUtility::remoteFileSize(QStringLiteral("/acc")).isNull()); // an empty size is still a size

    // Neither of these empties anything.
    ZVUtility::resetRemoteFileSize();
    ZVUtility::printRemoteDirectoryCheckList();
    QVERIFY(ZVUtility::isRemoteDirectory(QStringLiteral("/acc")));
    QVERIFY(!ZVUtility::remoteFileSize(QStringLiteral("/acc")).isNull());

    ZVUtility::collectServerFilesForUser(QStringLiteral("//acc2|1|2|3"), QString());
    QVERIFY(!ZVUtility::serverFiles().has_value());
}

void UtilityListingTest::userDefaultsLocation()
{
    // The defaults are written where userPreferencePath says preferences live, whatever
    // XDG_CONFIG_HOME names.
    NSUserDefaults &defaults = NSUserDefaults::standardUserDefaults();
    const QString preferences = ZVUtility::userPreferencePath();
    QCOMPARE(preferences, m_config.path() + QStringLiteral("/Library/Preferences/"));
    QTemporaryDir xdg;
    qputenv("XDG_CONFIG_HOME", xdg.path().toUtf8());
    QCOMPARE(defaults.persistentDomainPath(), preferences + QStringLiteral("UtilityListingTest.plist"));
    QFile::remove(defaults.persistentDomainPath());
    const QString key = QStringLiteral("ZVListingTestGlobalKey");
    QVERIFY(defaults.setObjectForKey(QStringLiteral("YES"), key));
    qunsetenv("XDG_CONFIG_HOME");
    QVERIFY(QFileInfo::exists(preferences + QStringLiteral("UtilityListingTest.plist")));
    QVERIFY(defaults.removeObjectForKey(key));

    // The global domain answers for keys the program's domain lacks.
    QVERIFY(PropertyList::writeFile(QVariantMap{{key, true}}, preferences + QStringLiteral(".GlobalPreferences.plist"),
                                    PropertyList::Format::XML, false));
    QVERIFY(defaults.boolForKey(key));
    QVERIFY(defaults.setObjectForKey(false, key));
    QVERIFY(!defaults.boolForKey(key));
    QVERIFY(defaults.removeObjectForKey(key));
    QVERIFY(defaults.boolForKey(key));

    // A damaged file is an empty domain.
    QVERIFY(TestSupport::writeFile(defaults.persistentDomainPath(), QByteArray("<plist><dict><key>")));
    QVERIFY(!defaults.objectForKey(QStringLiteral("ShowHiddenFilesKey ")).isValid());
    setShowHidden(QVariant());
}

// ---------------------------------------------------------------------------------------
// Generated and mutated lines.

namespace {

constexpr quint32 kRobustnessSeed = 424242;
constexpr int kGeneratedPerLayout = 4000;
constexpr int kMutated = 40000;
constexpr int kLongLines = 12;

class LineMaker {
public:
    explicit LineMaker(quint32 seed) : m_random(seed) {}

    int below(int n) { return int(m_random.bounded(n)); }
    bool chance(int percent) { return below(100) < percent; }

    // A text of FROM..TO characters drawn from ALPHABET (units or surrogate pairs).
    QString text(const QStringList &alphabet, int from, int to)
    {
        const int n = from + below(to - from + 1);
        QString t;
        for (int i = 0; i < n; ++i)
            t += alphabet[below(int(alphabet.size()))];
        return t;
    }
    // A field value between brackets: anything but "]".
    QString field() { return text(kField, 0, 12); }
    // A name: anything, "]" and "[" and "/" included, but no line feed.
    QString name()
    {
        static const QStringList special{QStringLiteral(".hidden"), QStringLiteral("backup_restore_logs_do_not_delete"),
                                         QStringLiteral("x.idxlist"), QStringLiteral("filelist.ldb")};
        if (chance(5))
            return special[below(int(special.size()))];
        return text(kName, 1, 24);
    }
    // A name for the record listing: no "|", no "//", no slash at either end.
    QString recordName()
    {
        if (chance(5))
            return QStringLiteral(".profile");
        QString n = text(kRecordName, 1, 16);
        return n;
    }
    QString mutate(QString line)
    {
        const int steps = 1 + below(5);
        for (int s = 0; s < steps; ++s) {
            const int at = line.isEmpty() ? 0 : below(int(line.size()) + 1);
            switch (below(6)) {
            case 0: // delete a run
                line.remove(at, 1 + below(8));
                break;
            case 1: // insert a nasty character
                line.insert(at, kNasty[below(int(kNasty.size()))]);
                break;
            case 2: // repeat a run
                line.insert(at, line.mid(below(int(line.size()) + 1), below(16)));
                break;
            case 3: // cut short
                line.truncate(at);
                break;
            case 4: // a random 16-bit unit, lone surrogates included
                line.insert(at, QChar(char16_t(m_random.bounded(0x10000))));
                break;
            default: // a run of bytes read as UTF-8, as damaged output is
                QByteArray bytes;
                for (int i = below(12); i > 0; --i)
                    bytes.append(char(m_random.bounded(256)));
                line.insert(at, QString::fromUtf8(bytes));
                break;
            }
        }
        return line;
    }

private:
    QRandomGenerator m_random;
    const QStringList kField{"a", "Z", "0", "9", "-", " ", ":", "[", "/", ".", QString::fromUtf8("é"), QString::fromUtf8("日")};
    const QStringList kName{"a", "b", "Z", "0", " ", "  ", "]", "[", "/", ".", "-", "\"", "|", "\t",
                            QString::fromUtf8("é"), QString::fromUtf8("日"), QString::fromUtf8("\xF0\x9F\x98\x80")};
    const QStringList kRecordName{"a", "b", "Z", "0", " ", "]", "[", ".", "-", QString::fromUtf8("ü"),
                                  QString::fromUtf8("\xF0\x9F\x98\x80")};
    const QStringList kNasty{"[", "]", "]]", "|", "||", "/", "//", "\n", " ", "  ", QString(QChar(0)), "\"", ".",
                             QString(QChar(0xD800)), QString(QChar(0xFFFF)), "/BackUp_nightly.", "@"};
};

// The bracketed pieces' count, counted here without cutting.
int piecesOf(const QString &line) { return int(line.count(QLatin1Char(']'))) + 1; }

// NAME after the bracketed listing's rules: its second "/"-component when it holds a slash.
QString listedName(const QString &name)
{
    if (!name.contains(QLatin1Char('/')))
        return name;
    const qsizetype first = name.indexOf(QLatin1Char('/'));
    const qsizetype second = name.indexOf(QLatin1Char('/'), first + 1);
    return name.mid(first + 1, second < 0 ? -1 : second - first - 1);
}

} // namespace

void UtilityListingTest::robustness()
{
    setShowHidden(QVariant());
    LineMaker maker(kRobustnessSeed);
    QStringList corpus; // every generated line, for the mutations
    int checkedLines = 0;
    const QString mark = QStringLiteral("\x01untouched");

    // Search results in both bracketed layouts: every value comes back, the name rebuilt.
    for (int i = 0; i < kGeneratedPerLayout; ++i) {
        const QString a = maker.field(), b = maker.field(), c = maker.field(), d = maker.field(), e = maker.field();
        const QString name = maker.name();
        const QString search1 = QStringLiteral("[%1][%2][%3][%4][%5]").arg(a, b, c, d, name);
        QString size = mark, path = mark, date = mark, version = mark, permission = mark, version2 = mark;
        ZVUtility::parsedEntriesForOutputInfoSearch1FileSizeFilePathFileModifiedDateVersion1(search1, &size, &path, &date,
                                                                                               &version);
        if (date != a || size != b || version != c || path != name)
            QFAIL(qPrintable(QStringLiteral("search1 line %1 read as %2|%3|%4|%5").arg(search1, date, size, version, path)));

        const QString marker = QStringLiteral("[%1][%2][%3][%4][%5][%6]").arg(a, b, c, d, e, name);
        size = path = date = version = mark;
        ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
            marker, &size, &path, &date, &version, &permission, &version2, QVariant(1));
        if (permission != a || size != b || version != c || date != d || path != name || version2 != mark)
            QFAIL(qPrintable(QStringLiteral("ORX line %1 misread").arg(marker)));

        const QString plain = QStringLiteral("[%1][%2][%3][%4]").arg(a, b, c, name);
        size = path = date = version = permission = mark;
        ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
            plain, &size, &path, &date, &version, &permission, &version2, QVariant());
        if (permission != a || size != b || date != c || path != name || version != mark)
            QFAIL(qPrintable(QStringLiteral("ORX line without marker %1 misread").arg(plain)));

        const QString error = QStringLiteral("%1[E] [%2] [%3] [%4] [%5]").arg(d, a, name.contains(QLatin1Char(']')) ? b : name, c, e);
        path = mark;
        ZVUtility::parseErrorForVerificationFailedFile(error, &path);
        const QString wantedError = name.contains(QLatin1Char(']')) ? b : name;
        if (path != wantedError)
            QFAIL(qPrintable(QStringLiteral("error %1 read as %2").arg(error, path)));
        corpus << search1 << marker << plain << error;
        checkedLines += 4;
    }

    // Bracketed folder listings: entries and checklist follow a model of the rules.
    {
        QStringList lines;
        Entries expected;
        QHash<QString, QPair<bool, QString>> states; // remote path -> directory, size
        const QString folder = QStringLiteral("/gen");
        for (int i = 0; i < kGeneratedPerLayout; ++i) {
            const QString type = QStringList{"drwx", "-rw", "lrw", "", "d", "-"}[maker.below(6)];
            const QString size = maker.field(), version = maker.field(), date = maker.field();
            const QString name = maker.name();
            const QString line = QStringLiteral("[%1][%2][%3][%4][%5]").arg(type, size, version, date, name);
            lines << line;
            const bool dir = type.startsWith(QLatin1Char('d'));
            if (!dir && !type.startsWith(QLatin1Char('-')))
                continue;
            const QString shown = listedName(name);
            if (shown.startsWith(QLatin1Char('.')) || shown == QLatin1String("backup_restore_logs_do_not_delete")
                || shown.endsWith(QLatin1String(".idxlist")))
                continue;
            QVariantMap e{{QStringLiteral("filePath"), shown}, {QStringLiteral("Version"), version}};
            if (!dir)
                e.insert(QStringLiteral("fileSize"), size);
            if (line.size() > 23)
                e.insert(QStringLiteral("fileModificationDate"), date);
            expected << e;
            states.insert(remotePath(folder, shown), {dir, dir ? QString() : size});
        }
        const Entries actual = entriesOf(ZVUtility::collectORXServerFilesInFile(folder, lines.join(QLatin1Char('\n'))));
        QCOMPARE(actual.size(), expected.size());
        for (qsizetype i = 0; i < actual.size(); ++i)
            if (actual[i] != expected[i])
                QFAIL(qPrintable(QStringLiteral("listed entry %1 is %2").arg(i).arg(
                    actual[i].value(QStringLiteral("filePath")).toString())));
        for (auto it = states.cbegin(); it != states.cend(); ++it) {
            QCOMPARE(ZVUtility::isRemoteDirectory(it.key()), it->first);
            if (!it->first)
                QCOMPARE(ZVUtility::remoteFileSize(it.key()), it->second);
        }
        corpus << lines;
        checkedLines += int(lines.size());
    }

    // Record listings.
    {
        QStringList records;
        Entries expected;
        for (int i = 0; i < kGeneratedPerLayout; ++i) {
            QStringList components;
            for (int c = maker.below(3); c >= 0; --c)
                components << maker.recordName();
            const QString relative = QStringLiteral("rec/") + components.join(QLatin1Char('/'));
            const QString size = QString::number(maker.below(100000));
            const QString type = QStringList{"40755", "100644", "4", "0"}[maker.below(4)];
            records << QStringLiteral("junk%1//%2|%3|2011-05-%4|%5").arg(i).arg(relative, size).arg(maker.below(30)).arg(type);
            const QString name = components.last();
            if (name.startsWith(QLatin1Char('.')))
                continue;
            expected << QVariantMap{{QStringLiteral("filePath"), name},
                                    {QStringLiteral("fileSize"), size},
                                    {QStringLiteral("fileModificationDate"), records.last().section(QLatin1Char('|'), 2, 2)}};
        }
        const Entries actual = entriesOf(ZVUtility::collectServerFilesForUser(records.join(QStringLiteral("||")), QString()));
        QCOMPARE(actual, expected);
        corpus << records;
        checkedLines += int(records.size());
    }

    // Space-separated lines: values are found at their places in the line.
    for (int i = 0; i < kGeneratedPerLayout; ++i) {
        QStringList tokens;
        for (int t = 1 + maker.below(8); t > 0; --t)
            tokens << maker.text({"a", "1", "é", "[", "]", "/", "-"}, 1, 6);
        QString line = QString(maker.below(3), QLatin1Char(' '));
        QList<qsizetype> starts;
        for (const QString &t : tokens) {
            starts << line.size();
            line += t + QString(1 + maker.below(3), QLatin1Char(' '));
        }
        if (maker.chance(50))
            line.chop(1);
        QString size = mark, path = mark, date = mark;
        ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDate(line, size, path, date);
        if (size != (tokens.size() >= 2 ? tokens[1] : mark) || date != (tokens.size() >= 3 ? tokens[2] : mark)
            || path != (tokens.size() >= 5 ? line.mid(starts[4]) : mark))
            QFAIL(qPrintable(QStringLiteral("search line '%1' read as %2|%3|%4").arg(line, size, date, path)));
        size = mark;
        ZVUtility::parsedEntriesForInfoFileSizeFilePath(line, size, path);
        const QString wantedPath = tokens.size() >= 4 ? line.mid(starts[3] + tokens[3].size() + 1) : line;
        if (size != (tokens.size() >= 2 ? tokens[1] : mark) || path != wantedPath)
            QFAIL(qPrintable(QStringLiteral("info line '%1' read as %2|%3").arg(line, size, path)));
        corpus << line;
        ++checkedLines;
    }

    // Mutations of all of the above, plain binary noise, and very long lines: nothing may
    // crash, every value handed out is a piece of its line, and the bracketed parsers write
    // exactly when the line has their pieces.
    int mutated = 0;
    for (int i = 0; i < kMutated + kLongLines; ++i) {
        QString line;
        if (i >= kMutated) {
            // Mutated pieces strung together beyond 100000 characters.
            while (line.size() <= 100000)
                line += maker.mutate(corpus[maker.below(int(corpus.size()))]);
        } else if (maker.chance(5)) {
            line = maker.mutate(QString());
        } else {
            line = maker.mutate(corpus[maker.below(int(corpus.size()))]);
        }
        const int pieces = piecesOf(line);
        const auto partOfLine = [&line, &mark](const QString &value) { return value == mark || line.contains(value); };

        QString size = mark, path = mark, date = mark, version = mark, permission = mark, version2 = mark;
        ZVUtility::parsedEntriesForOutputInfoSearch1FileSizeFilePathFileModifiedDateVersion1(line, &size, &path, &date,
                                                                                               &version);
        if ((pieces >= 5) != (size != mark) || (pieces >= 5) != (path != mark) || !partOfLine(size)
            || !partOfLine(path) || !partOfLine(date) || !partOfLine(version))
            QFAIL(qPrintable(QStringLiteral("search1 parser on mutated line %1").arg(i)));

        for (const QVariant &marker : {QVariant(), QVariant(QStringLiteral("ORX"))}) {
            size = path = date = version = permission = mark;
            ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
                line, &size, &path, &date, &version, &permission, &version2, marker);
            const int namePiece = marker.isValid() ? 6 : 5;
            if ((pieces >= 5) != (permission != mark) || (pieces >= namePiece) != (path != mark) || version2 != mark
                || !partOfLine(size) || !partOfLine(path) || !partOfLine(date) || !partOfLine(version)
                || !partOfLine(permission))
                QFAIL(qPrintable(QStringLiteral("ORX parser on mutated line %1").arg(i)));
        }

        path = mark;
        ZVUtility::parseErrorForVerificationFailedFile(line, &path);
        if (!partOfLine(path))
            QFAIL(qPrintable(QStringLiteral("verification error parser on mutated line %1").arg(i)));

        size = path = date = mark;
        ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDate(line, size, path, date);
        if (!partOfLine(size) || !partOfLine(path) || !partOfLine(date))
            QFAIL(qPrintable(QStringLiteral("search line parser on mutated line %1").arg(i)));
        size = mark;
        ZVUtility::parsedEntriesForInfoFileSizeFilePath(line, size, path);
        if (!partOfLine(size) || path.isNull() || !line.contains(path))
            QFAIL(qPrintable(QStringLiteral("info parser on mutated line %1").arg(i)));

        if (ZVUtility::LocateCharecterInChar(line, QLatin1Char('[')) != line.indexOf(QLatin1Char('[')))
            QFAIL("LocateCharecterInChar");

        // The listings, fed one mutated line (and every hundredth time a block of them).
        const QString listing = i % 100 == 0 ? corpus.mid(maker.below(int(corpus.size()) - 60), 50).join(QLatin1Char('\n')) + line
                                             : line;
        const Entries bracketed = entriesOf(ZVUtility::collectORXServerFilesInFile(QStringLiteral("/m"), listing));
        const Entries records = entriesOf(ZVUtility::collectServerFilesForUser(listing, QString()));
        if (!wellFormed(bracketed) || !wellFormed(records))
            QFAIL(qPrintable(QStringLiteral("collect on mutated line %1 gave a malformed entry").arg(i)));
        for (const Entries &list : {bracketed, records})
            for (const QVariantMap &e : list)
                for (const QVariant &v : e)
                    if (!listing.contains(v.toString()))
                        QFAIL(qPrintable(QStringLiteral("collect on mutated line %1 invented a value").arg(i)));
        ++mutated;
    }

    // The column listing reads its lines from a file: the mutated corpus goes through it too.
    {
        QVariantList lines;
        LineMaker columns(kRobustnessSeed + 1);
        for (int i = 0; i < 2000; ++i)
            lines << columns.mutate(QStringLiteral("-rwxr-xr-x@        1024 2011-05-02 10:11:12 ") + columns.name());
        for (int i = 0; i < 2000; ++i)
            lines << columns.mutate(QStringLiteral("drwxr-xr-x  /Volumes/B/BackUp_nightly.2011-05-0%1\" x").arg(i % 10));
        const QString plist = m_files.filePath(QStringLiteral("mutated-columns.plist"));
        QVERIFY(PropertyList::writeFile(lines, plist, PropertyList::Format::Binary, false));
        const Entries entries = entriesOf(ZVUtility::collectServerFilesInFileIsSnapshotEnabled(QStringLiteral("/c"), plist, false));
        QVERIFY(wellFormed(entries));
        QVERIFY(entries.size() > 1000);
        checkedLines += int(lines.size());
    }

    qInfo("robustness: seed %u, %d generated lines checked, %d mutated lines (%d of them over 100000 characters)",
          kRobustnessSeed, checkedLines, mutated, kLongLines);
    QCOMPARE(mutated, kMutated + kLongLines);
}

QTEST_GUILESS_MAIN(UtilityListingTest)
#include "UtilityListingTest.moc"
