// ZVUtility's texts and checks, the Mac OS version, the server listings and zvtool's subcommands for
// them; one program, three tests. Long seeded runs (size texts, mutated listing lines): bench/.
#include "Gestalt_p.h"
#include "NSDecimalNumber_p.h"
#include "NSUserDefaults_p.h"
#include "PropertyList_p.h"
#include "TestSupport.h"
#include "ZVLocalizedString.h"
#include "ZVServerListing_p.h"
#include "ZVUtility.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>
#include <clocale>
#include <unistd.h>

namespace {

// A parse as text: the entries (keys abbreviated, in key order), then each remote path in the order
// first named with its size updates ("=SIZE") and directory updates (":d" directory, ":-" not).
QString show(const ZVServerListing::Parsed &parsed)
{
    static const QHash<QString, QString> keys{{"Version", "v"}, {"fileModificationDate", "d"}, {"filePath", "p"}, {"fileSize", "s"}};
    QStringList files, paths;
    QHash<QString, QString> updates;
    for (const QVariant &v : parsed.files) {
        QStringList fields;
        const QVariantMap e = v.toMap();
        for (const auto &[key, value] : e.asKeyValueRange())
            fields << keys.value(key, key) + '=' + (value.typeId() == QMetaType::QString ? value.toString() : "?");
        files << fields.join(',');
    }
    const auto update = [&](const QString &path, const QString &text) {
        paths << (updates.contains(path) ? QStringList() : QStringList{path});
        updates[path] += text;
    };
    for (const auto &[path, size] : parsed.sizes)
        update(path, '=' + size);
    for (const auto &[path, state] : parsed.directories)
        update(path, state == ZVServerListing::kDirectory ? ":d" : state == ZVServerListing::kNotDirectory ? ":-" : ":?");
    for (QString &path : paths)
        path += updates[path];
    return files.join(" ; ") + " | " + paths.join(" ; ");
}

// A column line: type, permissions, size right-aligned in 12, the date, a blank, the name.
QString column(const char *type, const char *size, const char *name)
{
    return QString("%1rwxr-xr-x@%2%3 %4").arg(type).arg(size, 12).arg("2011-05-02 10:11:12", name);
}

const QByteArray kBracketed = "[-rw-r--r--][2048][3][2011-05-02 10:11:12][/notes.txt]\n"
                              "[drwxr-xr-x][0][1][2011-05-02 10:11:12][a]b \"q\"]\ngarbage \xff\xfe line\n";

// The Mac OS version file (null: none), the application ("@self": this program, "@null": none),
// the user ("@null": none), and the version text, the answer and whether a scratch file is left.
struct MacRow { const char *name; QByteArray file; const char *application, *user, *expected; };

QList<MacRow> macRows()
{
    const auto file = [](const QByteArray &value) {
        return "<plist version=\"1.0\"><dict><key>ProductName</key><string>Mac OS X</string>" + value + "</dict></plist>";
    };
    const auto version = [&file](const char *text) { return file("<key>ProductVersion</key><string>" + QByteArray(text) + "</string>"); };
    const char *none = "NoSuchProgramZV";
    return {{"no file", QByteArray(), "@self", "root", "0.0.0 1 0"},
            {"damaged file", "ProductVersion=10.6.8", "@self", "root", "0.0.0 1 0"},
            {"ProductVersion not a text", file("<key>ProductVersion</key><real>10.6</real>"), "@self", "root", "0.0.0 1 0"},
            {"cut short after a point", version("10."), "@self", "root", "0.0.0 1 0"},
            {"four parts", version("10.6.8.1"), "@self", "root", "0.0.0 1 0"},
            {"major only: not checked", version("10"), none, "root", "10.0.0 1 0"},
            {"10.3.9: not checked", version("10.3.9"), none, "root", "10.3.9 1 0"},
            {"10.4.11, running", version("10.4.11"), "@self", "root", "10.4.11 1 0"},
            {"10.4, not running", version("10.4"), none, "root", "10.4.0 0 1"},
            {"10.4.11, no application", version("10.4.11"), "@null", "root", "10.4.11 1 0"},
            {"10.6.8, no user", version("10.6.8"), none, "@null", "10.6.8 1 0"},
            // procps refuses "-xwwwu USER": from 10.5 on the listing is empty on Linux.
            {"10.6.8, running but unlisted", version("10.6.8"), "@self", "root", "10.6.8 0 1"}};
}

} // namespace

class UtilityTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QStringList m_macAnswers; // one line a row of macVersion's table

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // A locale that writes decimal commas changes no text; a UTF-8 character type makes "?"
        // one character.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
            std::setlocale(LC_CTYPE, "C.UTF-8");
        QVERIFY(TestSupport::useTable(m_dir.path(), {{"LogoutCommandOutputFilePath", m_dir.filePath("logout.txt")}}));
        QVERIFY(TestSupport::redirectHome(m_dir.path())); // zvtool's own defaults domain lives here
        QVERIFY(QDir().mkpath(ZVUtility::userPreferencePath()));
        QVERIFY(TestSupport::writeFile(m_dir.filePath("bracketed.txt"), kBracketed));
        QVERIFY(TestSupport::writeFile(m_dir.filePath("records.txt"), "x//Docs/a.txt|120|2011-05-02|100644||y//Docs|0|2011-05-02|40755"));
        QVERIFY(TestSupport::writeFile(m_dir.filePath("hidden.txt"), "//h/.profile|1|2|3||//h/v|4|5|6"));
        QVERIFY(TestSupport::writeFile(m_dir.filePath("damaged.plist"), "not a property list"));
        QVERIFY(TestSupport::writeFile(m_dir.filePath("columns.plist"), "<plist><array><string>-rwxr-xr-x@        10242011-05-02 "
                                       "10:11:12 report.pdf</string><string>\"/BackUp_nightly.2011-05-03\" 4096</string></array></plist>"));
    }

    void parse_data()
    {
        QTest::addColumn<QString>("kind"); // user, user+hidden, orx FOLDER, snapshot FOLDER, or a line parser
        QTest::addColumn<QString>("listing"); // snapshot: one element a line, "<42>" a number; or one line
        QTest::addColumn<QString>("expected");
        const QString hidden = "//h/.profile|1|2|3||//h/.filelist.ldb|1|2|3||//.h/v|1|2|3||//h/filelist.ldb|1|2|3";
        const QString date = "d=2011-05-02 10:11:12";
        const QString columns = QStringList{column("-", "1024", "report.pdf"), column("d", "0", "Pictures and more"),
            column("-", "1", ".hidden"), column("l", "1", "link"), column("-", "100", ""), column("-", "100", "x"),
            "BackUp_nightly.x without the slash", "<42>", column("-", "1024", "filelist.ldb")}.join('\n');
        const struct { const char *name, *kind; QString listing, expected; } rows[] = {
            {"user: two records", "user", "x//Docs/a.txt|120|2011-05-02|100644||y//Docs|0|2011-05-02|40755",
             "d=2011-05-02,p=a.txt,s=120 ; d=2011-05-02,p=Docs,s=0 | /Docs/a.txt=120:- ; /Docs=0:d"},
            {"user: four fields and a // only", "user", "x//r1/a|1|2||no slashes||x//r1/b|1|2|3|4||x//r1/c|5|6|7",
             "d=6,p=c,s=5 | /r1/c=5:-"},
            {"user: the piece after the first //", "user", "head//r2/f|9|d|1//r2/ignored|1|2|3", "d=d,p=f,s=9 | /r2/f=9:-"},
            {"user: skipped names", "user", "//r3/filelist.ldb|1|2|3||//r3/filelist_final.ldb|1|2|3||//r3/Encrypted_Data|1|2|4||"
             "//r3/backup_restore_logs_do_not_delete|1|2|4||//r3/x.idxlist|1|2|3||//r3/kept.ldb|4|5|3", "d=5,p=kept.ldb,s=4 | /r3/kept.ldb=4:-"},
            {"user: empty records, type by its first character", "user", "||||//r4/e|1|2|4||//r4/b|1|2|04||//r4/g|1|2|",
             "d=2,p=e,s=1 ; d=2,p=b,s=1 ; d=2,p=g,s=1 | /r4/e=1:d ; /r4/b=1:- ; /r4/g=1:-"},
            {"user: empty fields cut the record", "user", "//r4/f|||4", " | "},
            {"user: trailing slash, slashes only", "user", "//r5/dir/|1|2|4||///|3|4|4", "d=2,p=dir,s=1 ; d=4,p=/,s=3 | /r5/dir/=1:d ; //=3:d"},
            {"user: hidden names left out", "user", hidden, "d=2,p=v,s=1 | /.h/v=1:-"},
            {"user: hidden names shown", "user+hidden", hidden, "d=2,p=.profile,s=1 ; d=2,p=.filelist.ldb,s=1 ; d=2,p=v,s=1"
             " | /h/.profile=1:- ; /h/.filelist.ldb=1:- ; /.h/v=1:-"},
            {"orx: file at the root", "orx /", "[-rw-r--r--][2048][3][2011-05-02 10:11:12][/notes.txt]",
             "v=3," + date + ",p=notes.txt,s=2048 | /notes.txt=2048:-"},
            {"orx: directory, later line wins", "orx /Users/x", "[drwxr-xr-x][0][1][2011-05-02 10:11:12][Docs]\n[d][7][2][d][Music]\n"
             "[-][5][1][d][Music]", "v=1," + date + ",p=Docs ; v=2,p=Music ; v=1,p=Music,s=5 | /Users/x/Music=5:d:- ; /Users/x/Docs:d"},
            {"orx: names", "orx /b", "[-][5][2][d][a]b]\n[-][5][2][d][x]y[z]]\n[-][5][2][d][/Documents/in/deep]\n[-][5][2][d][a/b]",
             "v=2,p=a]b,s=5 ; v=2,p=x]y[z],s=5 ; v=2,d=d,p=Documents,s=5 ; v=2,p=b,s=5 | /b/a]b=5:- ; /b/x]y[z]=5:- ; "
             "/b/Documents=5:- ; /b/b=5:-"},
            {"orx: left out", "orx /b", "[-][1][1][d][.hidden]\n[-][1][1][d][/.hidden/x]\n[d][1][1][d][backup_restore_logs_do_not_delete]"
             "\n[-][1][1][d][list.idxlist]\n[l][1][1][d][link]\n[][1][1][d][untyped]\n[-][1][1][d][filelist.ldb]",
             "v=1,d=d,p=filelist.ldb,s=1 | /b/filelist.ldb=1:-"},
            {"orx: short lines, dates from 24 characters on", "orx /b", "\n\n[-][1][1][d]name\n[-][1][1][d][ok]\n\n[-]]]][n]\n"
             "[-][1][1][date][abcdef]\n[-][1][1][date][abcdefg]\n-rw]12]4]when]nm]", "v=1,p=ok,s=1 ; v=,p=n,s= ; v=1,p=abcdef,s=1 ; "
             "v=1,d=date,p=abcdefg,s=1 ; v=4,p=nm,s=12 | /b/ok=1:- ; /b/n=:- ; /b/abcdef=1:- ; /b/abcdefg=1:- ; /b/nm=12:-"},
            {"orx: empty", "orx /", "", " | "},
            {"snapshot: columns", "snapshot /Col", columns, date + ",p=report.pdf,s=        1024 ; " + date + ",p=Pictures and more,"
             "s=           0 ; " + date + ",p=x,s=         100 ; " + date + ",p=filelist.ldb,s=        1024 | /Col/report.pdf=@        1024:- ; "
             "/Col/x=@         100:- ; /Col/filelist.ldb=@        1024:- ; /Col/Pictures and more:d"},
            {"snapshot: nightly folders", "snapshot /", "drwxr-xr-x  /Volumes/B/BackUp_nightly.2011-05-02\" more\n\"/BackUp_nightly."
             "2011-05-03\" 4096", "d= ,p=Volumes,s=  ; d= ,p=BackUp_nightly.2011-05-03,s=  | /Volumes:d ; /BackUp_nightly.2011-05-03:d"}};
        for (const auto &r : rows)
            QTest::newRow(r.name) << QString(r.kind) << r.listing << r.expected;
        // The line parsers: size|path|date|version1|permission ("-": not written).
        const char *lineRows[][3] = {
            {"search1", "[2011-05-02][120][4][x][/Docs/a.txt]", "120|/Docs/a.txt|2011-05-02|4|-"},
            {"search1", "[date][1][2][x][tail", "1|tail|date|2|-"}, {"search1", "[d][1][2][x][a]b]c]", "1|a]b]c|d|2|-"},
            {"search1", "[d][1][2][x", "-|-|-|-|-"}, {"search1", "a]b]c]d]e", "b|e|a|c|-"},
            {"orx-marker", "[rw][9][v1][when][v2][/n]", "9|/n|when|v1|rw"}, {"orx-marker", "[rw][9][v1][when]v2", "9|-|when|v1|rw"},
            {"orx-marker", "[rw][9][v1][when][v2][a]]b]", "9|a]]b|when|v1|rw"}, {"orx", "[rw][9][when][/n][more]", "9|/n][more|when|-|rw"},
            {"orx", "[rw][9][when][/n]", "9|/n|when|-|rw"}, {"orx", "[rw][9][when]", "-|-|-|-|-"}, {"orx", "", "-|-|-|-|-"},
            {"error", "[E] [V] [/Users/x/file.txt] [r] [s]", "-|/Users/x/file.txt|-|-|-"},
            {"error", "[E] [V] [/Users/x/file.txt] [r]", "-|-|-|-|-"}, {"error", "]]][E]][V]][/p]][r]][s]]", "-|/p|-|-|-"},
            {"error", "[E] [V] [/p [r [s", "-|-|-|-|-"}, {"error", "[E][V] /p ][r][s]", "-| /p |-|-|-"},
            {"search", "a 10 d c  my  file", "10|my  file|d|-|-"}, {"search", "  a   10  d c x", "10|x|d|-|-"},
            {"search", "a 10 d c ", "10|-|d|-|-"}, {"search", "a 10", "10|-|-|-|-"}, {"search", "alone", "-|-|-|-|-"},
            {"search", "a\t10 b c d", "b|-|c|-|-"}, {"info", "a 10 b c  my file", "10| my file|-|-|-"},
            {"info", "  a   10  d c x", "10|x|-|-|-"}, {"info", "a 10 d c", "10||-|-|-"}, {"info", "a 10", "10|a 10|-|-|-"},
            {"info", "alone", "-|alone|-|-|-"}, {"info", "", "-||-|-|-"}};
        for (const auto &r : lineRows)
            QTest::addRow("%s: %s", r[0], r[1]) << QString(r[0]) << QString(r[1]) << QString(r[2]);
    }

    void parse()
    {
        QFETCH(QString, kind);
        QFETCH(QString, listing);
        QFETCH(QString, expected);
        const QString folder = kind.section(' ', 1);
        if (kind.startsWith("user") || !folder.isEmpty()) {
            QVariantList lines; // the snapshot listing's elements
            for (const QString &line : listing.split('\n'))
                lines << (line == "<42>" ? QVariant(qint64(42)) : QVariant(line));
            QCOMPARE(show(kind.startsWith("user") ? ZVServerListing::parseUserListing(listing, kind == "user+hidden")
                          : kind.startsWith("orx") ? ZVServerListing::parseORXListing(folder, listing)
                                                   : ZVServerListing::parseSnapshotListing(folder, lines)), expected);
            return;
        }
        // A line parser. Places start out holding "-", so that "not written" can be told from "written empty".
        const QString &line = listing, &parser = kind, mark = "-";
        QString size = mark, path = mark, date = mark, version1 = mark, permission = mark, version2 = mark;
        const QVariant marker = parser == "orx-marker" ? QVariant("ORX") : QVariant();
        if (parser == "search1") {
            ZVUtility::parsedEntriesForOutputInfoSearch1FileSizeFilePathFileModifiedDateVersion1(line, &size, &path, &date, &version1);
            ZVUtility::parsedEntriesForOutputInfoSearch1FileSizeFilePathFileModifiedDateVersion1(line, nullptr, nullptr, nullptr, nullptr);
        } else if (parser.startsWith("orx")) {
            ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
                line, &size, &path, &date, &version1, &permission, &version2, marker);
            ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
                line, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, marker);
        } else if (parser == "error") {
            ZVUtility::parseErrorForVerificationFailedFile(line, &path);
            ZVUtility::parseErrorForVerificationFailedFile(line, nullptr);
        } else if (parser == "search") {
            ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDate(line, size, path, date);
        } else {
            ZVUtility::parsedEntriesForInfoFileSizeFilePath(line, size, path);
            QVERIFY(!path.isNull());
        }
        QCOMPARE((QStringList{size, path, date, version1, permission}).join('|'), expected);
        QCOMPARE(version2, mark);
    }

    void checklist_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QString>("expected"); // entries returned ("-": none), PATH=SIZE ("-": none), :d directory or :-
        const QString report = column("-", "1024", "report.pdf");
        const struct { const char *name, *operation; QString a, b; const char *expected; } rows[] = {
            // No checklist before the first collect: setters and the search-line parser record nothing.
            {"before any collect: size", "size", "10", "/early", "- /early=-:-"},
            {"before any collect: state", "state", "directory", "/early", "- /early=-:-"},
            {"before any collect: search line", "search", "[rw][77][v][when][x][/early-orx]", "", "- /early-orx=-:-"},
            {"user listing", "user", "//q/a|1|2|40755||//q/b|7|2|3", "", "2 /q/a=1:d"},
            {"orx listing, later line wins", "orx", "/Users/x", "[d][7][2][d][Music]\n[-][5][1][d][Music]", "2 /Users/x/Music=5:-"},
            {"orx directory gets no size", "orx", "/", "[d][7][2][d][Pics]", "1 /Pics=-:d"},
            {"orx search line", "search", "[rw][4711][v][when][x][/orx/sized]", "", "- /orx/sized=4711:-"},
            {"orx search line without a name", "search", "[rw][4712][v][when]", "", "- =-:-"},
            {"snapshot", "snapshot", "/Col", "<plist><array><string>" + report + "</string></array></plist>", "1 /Col/report.pdf=@        1024:-"},
            {"snapshot, no file", "snapshot", "/Col", "@missing", "0 /Col/report.pdf=@        1024:-"},
            {"snapshot, damaged file", "snapshot", "/", "bplist00\1garbage", "0 /x=-:-"},
            {"snapshot, dictionary", "snapshot", "/", "<plist><dict><key>x</key><string>" + column("-", "1", "x") + "</string></dict></plist>",
             "0 /x=-:-"},
            {"node d", "node", "dir", "/", "- /n=321:d"}, {"node D", "node", "Directory", "/p", "- /p/n=321:d"},
            {"node 0", "node", "040755", "/p/q", "- /p/q/n=321:d"}, {"node file", "node", "file", "/f", "- /f/n=321:-"},
            {"node without parent", "node", "", "", "- /n=321:-"},
            {"state Directory is not directory", "state", "Directory", "/q/a", "- /q/a=1:-"},
            {"state directory", "state", "directory", "/q/a", "- /q/a=1:d"},
            {"an empty size is a size", "size", "", "/q/a", "- /q/a=:d"},
            {"reset and print keep all", "keep", "", "/q/a", "- /q/a=:d"}};
        for (const auto &r : rows)
            QTest::newRow(r.name) << QString(r.operation) << r.a << r.b << QString(r.expected);
    }

    void checklist()
    {
        QFETCH(QString, operation);
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(QString, expected);
        const QString path = expected.section(' ', 1).section('=', 0, 0);
        qsizetype returned = -1;
        if (operation == "user") {
            returned = ZVUtility::collectServerFilesForUser(a, "anyone").size();
        } else if (operation == "orx") {
            returned = ZVUtility::collectORXServerFilesInFile(a, b).size();
        } else if (operation == "search") {
            ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
                a, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, QVariant(true));
        } else if (operation == "snapshot") {
            const QString file = m_dir.filePath(QTest::currentDataTag());
            QVERIFY(b == "@missing" || TestSupport::writeFile(file, b.toUtf8()));
            returned = ZVUtility::collectServerFilesInFileIsSnapshotEnabled(a, file, true).size();
        } else if (operation == "node") {
            ZVUtility::setDirNodeSizeForFileWithParentFile(a, "321", "n", b);
        } else if (operation == "state") {
            ZVUtility::setRemoteDirectoryStateForFile(a, b);
        } else if (operation == "size") {
            ZVUtility::setRemoteSizeForFile(a, b);
        } else {
            ZVUtility::resetRemoteFileSize();
            ZVUtility::printRemoteDirectoryCheckList();
            QVERIFY(!ZVUtility::serverFiles().has_value());
        }
        const QString size = ZVUtility::remoteFileSize(path);
        QCOMPARE(QString("%1 %2=%3%4").arg(returned < 0 ? "-" : QString::number(returned), path, size.isNull() ? "-" : size,
                                           ZVUtility::isRemoteDirectory(path) ? ":d" : ":-"), expected);
    }

    void userDefaultsLocation()
    {
        NSUserDefaults &defaults = NSUserDefaults::standardUserDefaults();
        const QString preferences = ZVUtility::userPreferencePath(), key = "ZVUtilityTestKey";
        // Where userPreferencePath says preferences live, whatever XDG_CONFIG_HOME names.
        QCOMPARE(preferences, m_dir.path() + "/home/Library/Preferences/");
        QCOMPARE(defaults.persistentDomainPath(), preferences + "UtilityTest.plist");
        QFile::remove(defaults.persistentDomainPath());
        // The global domain answers for keys the program's domain lacks.
        QVERIFY(PropertyList::writeFile(QVariantMap{{key, true}}, preferences + ".GlobalPreferences.plist", PropertyList::Format::XML, false));
        QVERIFY(defaults.setObjectForKey(false, key));
        QVERIFY(!defaults.boolForKey(key) && QFileInfo::exists(defaults.persistentDomainPath()));
        QVERIFY(defaults.removeObjectForKey(key) && defaults.boolForKey(key));
        // A damaged file is an empty domain.
        QVERIFY(TestSupport::writeFile(defaults.persistentDomainPath(), "<plist><dict><key>ZVUtilityTestKey</key><false/>"));
        QVERIFY(defaults.boolForKey(key));
    }

    void texts_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("input"); // "-": no size; time: H M S; match: NAME|PATTERN
        QTest::addColumn<QString>("expected");
        // Per mode, "INPUT=TEXT" cases. Sizes: thresholds and their neighbours, ties (1152 bytes are
        // 1.125 KB: the outline's tie goes to even), whole multiples of 1000 MiB, the extremes (2^61
        // bytes are 2^64 bits, not 0). E-mail: the loose check, then the strict one ("10": loose only).
        const char *rows[][2] = {
            {"bytes", "-=0 bytes; 0=0 bytes; 1023=1023 bytes; 1024=1 KB; 1025=1.1 KB; 1536=1.5 KB; 1048575=1024 KB; 1048576=1 MB"},
            {"bytes", "1048577=1.1 MB; 1073741823=1024 MB; 1073741824=1 GB; 1073741825=1.1 GB; 18446744073709551615=17179869184 GB"},
            {"truncated", "-=0 bytes; 1023=1023 bytes; 1025=1 KB; 1280=1.3 KB; 1048575=1024 KB; 1048576=1 MB; 1048575999=1000 MB"},
            {"truncated", "1048576000=1024 MB; 1049624575=1025 MB; 1073741823=1024 MB; 1073741824=1 GB; 1572864000=1.5 GB"},
            {"truncated", "2097152000=2 GB; 5242880000=5 GB; 5368709120=5 GB; 1073741823999=1000 GB; 1073741824000=1 TB"},
            {"truncated", "1099511627776=1 TB; 18446744073709551615=17179869.2 TB"},
            {"bits", "-=1 bytes; 0=50 Kb; 100=800 bytes; 127=1016 bytes; 128=1 Kb; 144=1.13 Kb; 1000=7.81 Kb; 131071=1023.99 Kb"},
            {"bits", "131072=1 Mb; 141000=1.08 Mb; 134217727=1024 Mb; 134217728=1 Gb; 200000000=1.49 Gb"},
            {"bits", "2305843009213693952=17179869184 Gb; 18446744073709551615=137438953472 Gb"},
            {"number", "-=0; 18446744073709551615=18446744073709551615"},
            {"outline", "-=0 bytes; 0=0 bytes; 1023=1023 bytes; 1024=1.00 KB; 1152=1.12 KB; 1536=1.50 KB; 1048575=1024.00 KB; 1048576=1.00 MB"},
            {"outline", "1073741824=1.00 GB; 18446744073709551615=17179869184.00 GB"},
            {"time", "1 5 30=01:05:30; 10 0 9=10:00:09; 123 59 75=123:59:75; -1 -9 -10=-1:-9:-10"},
            {"time", "-2147483648 2147483647 9=-2147483648:2147483647:09"},
            {"email", "ann.lee_2-x@mail.example.com=11; ANN9@EXAMPLE9.COM=11; @b.c=11; a@b.=11; @x.=11; a@b@c.d=00; a@bc=00; a@.c=00"},
            {"email", "abc.d=00; a.b@c=00; @.=00; a b@c.d=10; a+b@c.d=10; jürgen@c.d=10; a\xEF\xBC\xA0" "b.c=00; =00"},
            {"match", "Report.PDF|*.pdf=1; a/b.txt|*.txt=1; ab.txt|?.txt=0; a.txt|?.txt=1; .profile|*profile=1; notes.txt.bak|*.txt=0"},
            {"match", "File7|file[0-9]=1; FileA|file[!a]=0; a*b|a\\*b=1; axb|a\\*b=0; |=1; x|=0; [ab|[ab=1; My File.doc|my*.DOC=1"},
            {"match", "Résumé 日本.txt|R*sumé*.TXT=1; Résumé 日本.txt|Résumé 日本.txt=1; Résumé 日本.txt|Resume*=0; 日|?=1"},
            // Decimal divisions by rounding mode, DIVIDEND/DIVISOR@SCALE: ties, negative scales, 38 digits but
            // not 40, 2^64 scaled beyond 128 bits; a leading blank is no number.
            {"plain", " 1/1@1=NaN; 1.25/1@1=1.3; -1.25/1@1=-1.3; 1/3@2=0.33; 3/2@3=1.5; 1/1000@2=0; 1234/1@-2=1200; 1.5e3/1@0=1500"},
            {"plain", "000012.500/0.5@1=25; 1/4@2=0.25; 18446744073709551615/3@1=6148914691236517205; 1/0@1=NaN; 1.2.3/1@1=NaN; /1@1=NaN"},
            {"plain", "99999999999999999999999999999999999999/10@0=10000000000000000000000000000000000000; 18446744073709551615/1@30=NaN"},
            {"plain", "9999999999999999999999999999999999999999/1@0=NaN"}, {"bankers", "1.25/1@1=1.2; 1.35/1@1=1.4"},
            {"up", "1.01/1@1=1.1; -1.09/1@1=-1"}, {"down", "-1.01/1@1=-1.1"}};
        for (const auto &r : rows)
            for (const QString &c : QString(r[1]).split("; "))
                QTest::addRow("%s %s", r[0], qPrintable(c.section('=', 0, 0))) << QString(r[0]) << c.section('=', 0, 0) << c.section('=', 1);
        QTest::newRow("email null") << "email" << QString() << "00";
        QTest::newRow("match NUL in name") << "match" << QString::fromUtf8("a\0b|a", 5) << "0";
        QTest::newRow("match NUL in pattern") << "match" << QString::fromUtf8("a|a\0*", 5) << "0";
    }

    void texts()
    {
        QFETCH(QString, mode);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const ZVUtility::SizeNumber n = input == "-" ? std::nullopt : ZVUtility::SizeNumber(input.toULongLong());
        const QStringList hms = input.split(' ');
        const auto bit = [](bool yes) { return QString(yes ? "1" : "0"); };
        const auto divided = [&input](NSRoundingMode rounding) {
            const auto handler = NSDecimalNumberHandler::
                decimalNumberHandlerWithRoundingModeScaleRaiseOnExactnessRaiseOnOverflowRaiseOnUnderflowRaiseOnDivideByZero(
                    rounding, qint16(input.section('@', 1).toInt()), false, false, false, false);
            const QString quotient = input.section('@', 0, 0);
            const NSDecimalNumber divisor = NSDecimalNumber::decimalNumberWithString(quotient.section('/', 1));
            const NSDecimalNumber q =
                NSDecimalNumber::decimalNumberWithString(quotient.section('/', 0, 0)).decimalNumberByDividingByWithBehavior(divisor, handler);
            return q.isNotANumber() == (q.stringValue() == "NaN") ? q.stringValue() : "NaN, but not so flagged";
        };
        const QString actual = mode == "time"        ? ZVUtility::timeDisplayFormatHourMinuteSeconds(hms[0].toInt(), hms.value(1).toInt(), hms.value(2).toInt())
            : mode == "email"                        ? bit(ZVUtility::isEmailID(input)) + bit(ZVUtility::isValidEmailID(input))
            : mode == "match"                        ? bit(ZVUtility::isStringMatchesPattern(input.section('|', 0, 0), input.section('|', 1)))
            : mode == "plain" || mode == "bankers"   ? divided(mode == "plain" ? NSRoundPlain : NSRoundBankers)
            : mode == "up" || mode == "down"         ? divided(mode == "up" ? NSRoundUp : NSRoundDown)
            : mode == "bytes"                        ? ZVUtility::formatedFileSizeAsString(n)
            : mode == "truncated"                    ? ZVUtility::formatedFileSizeAsStringWithDecimalTruncated(n)
            : mode == "bits"                         ? ZVUtility::formatedFileSizeInBits(n)
            : mode == "outline"                      ? ZVUtility::formatedFileSizeForOutlineView(n)
                                                     : QString::number(ZVUtility::formatedFileSize(n).value_or(1));
        QCOMPARE(actual, expected);
    }

    void frontWindow()
    {
        QVERIFY(!ZVUtility::isFrontWindow(nullptr));
        QWidget first, second;
        QVERIFY(!ZVUtility::isFrontWindow(&first)); // no window on screen
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        // The one window on screen is the front one even when the application is not active.
        QApplication::setActiveWindow(nullptr);
        QVERIFY(ZVUtility::isFrontWindow(&first) && !ZVUtility::isFrontWindow(&second));
        second.show();
        second.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&second));
        QVERIFY(ZVUtility::isFrontWindow(&second) && !ZVUtility::isFrontWindow(&first));
        // Two windows on screen and neither active: neither is the front one.
        QApplication::setActiveWindow(nullptr);
        QVERIFY(!ZVUtility::isFrontWindow(&first) && !ZVUtility::isFrontWindow(&second));
        // Hidden and minimized windows are not on screen.
        first.hide();
        QTRY_VERIFY(ZVUtility::isFrontWindow(&second));
        second.showMinimized();
        QTRY_VERIFY(!ZVUtility::isFrontWindow(&second));
    }

    void zvtool_data()
    {
        QTest::addColumn<QStringList>("args"); // "@NAME": NAME in the test's folder
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QVariantMap>("defaults"); // zvtool's user defaults
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // ' stands for "
        const auto row = [](const char *name, const QStringList &args, int status = 0, const QString &out = "",
                            const QByteArray &input = {}, const QVariantMap &defaults = {}) {
            QTest::newRow(name) << args << input << defaults << status << out;
        };
        const QString bracketed = "{'Version':'3','fileModificationDate':'2011-05-02 10:11:12','filePath':'notes.txt','fileSize':'2048'}\n"
                                  "{'Version':'1','fileModificationDate':'2011-05-02 10:11:12','filePath':'a]b \\'q\\''}\n";
        row("bytes", {"size-text", "bytes", "1023", "1025", "-", "18446744073709551615"}, 0, "1023 bytes\n1.1 KB\n0 bytes\n17179869184 GB\n");
        row("truncated", {"size-text", "truncated", "5242880000", "1073741824000", "1025"}, 0, "5 GB\n1 TB\n1 KB\n");
        row("bits", {"size-text", "bits", "0", "-", "1000"}, 0, "50 Kb\n1 bytes\n7.81 Kb\n");
        row("outline", {"size-text", "outline", "1536", "-"}, 0, "1.50 KB\n0 bytes\n");
        row("time negative", {"time-text", "-1", "123", "-2147483648"}, 0, "-1:123:-2147483648\n");
        row("email", {"email", "a@b.c", "a b@c.d", "a@bc"}, 0, "YES\nYES\nNO\n");
        row("email strict", {"email", "--strict", "a@b.c", "a b@c.d"}, 0, "YES\nNO\n");
        row("email after --", {"email", "--strict", "--", "--strict@x.y", "-a@b.c"}, 0, "YES\nYES\n");
        row("email options end at the first text", {"email", "a@b.c", "--strict"}, 0, "YES\nNO\n");
        row("match", {"match", "*.pdf", "Report.PDF", "a.txt"}, 0, "YES\nNO\n");
        row("match after --", {"match", "-*", "--", "--", "-x", "x"}, 0, "YES\nYES\nNO\n");
        row("match UTF-8", {"match", QString::fromUtf8("*é*"), QString::fromUtf8("Résumé")}, 0, "YES\n");
        row("listing bracketed", {"listing", "bracketed", "/Users/x", "@bracketed.txt"}, 0, bracketed);
        row("listing bracketed from standard input", {"listing", "bracketed", "/Users/x", "-"}, 0, bracketed, kBracketed);
        row("listing records", {"listing", "records", "@records.txt"}, 0, "{'fileModificationDate':'2011-05-02','filePath':'a.txt',"
            "'fileSize':'120'}\n{'fileModificationDate':'2011-05-02','filePath':'Docs','fileSize':'0'}\n");
        // Hidden names shown by the user's setting, read as a yes-or-no; the blank belongs to the key.
        const QString hidden = "{'fileModificationDate':'2','filePath':'.profile','fileSize':'1'}\n", key = "ShowHiddenFilesKey ";
        const QString kept = "{'fileModificationDate':'5','filePath':'v','fileSize':'4'}\n";
        for (auto [name, value, all] : {std::tuple{"absent", QVariant(), false}, {"false", QVariant(false), false},
                                        {"true", QVariant(true), true}, {"number 1", QVariant(qint64(1)), true},
                                        {"text YES", QVariant("YES"), true}, {"text no", QVariant("no"), false}})
            QTest::addRow("listing records, hidden names setting %s", name) << QStringList{"listing", "records", "@hidden.txt"}
                << QByteArray() << (value.isValid() ? QVariantMap{{key, value}} : QVariantMap()) << 0 << (all ? hidden : "") + kept;
        row("listing records, hidden names setting without its blank", {"listing", "records", "@hidden.txt"}, 0, kept, {},
            {{key.trimmed(), true}});
        row("listing columns", {"listing", "columns", "/", "@columns.plist"}, 0, "{'fileModificationDate':'2011-05-02 10:11:12','filePath':"
            "'report.pdf','fileSize':'        1024'}\n{'fileModificationDate':' ','filePath':'BackUp_nightly.2011-05-03','fileSize':' '}\n");
        row("listing columns, damaged file", {"listing", "columns", "/", "@damaged.plist"});
        row("listing columns, missing file", {"listing", "columns", "/", "@missing.plist"}, 1);
        row("listing records, a folder", {"listing", "records", "@"}, 1);
        const QList<QStringList> usageErrors{
            {"size-text", "bytes"}, {"size-text", "kilo", "1"}, {"size-text", "bytes", "1", "-1"},
            {"size-text", "bytes", "18446744073709551616"}, {"size-text", "bits", "0x10"}, {"size-text", "bits", "+5"},
            {"size-text", "bits", ""}, {"size-text", "bits", " 5"}, {"time-text", "1", "2"}, {"time-text", "1", "2", "2147483648"},
            {"time-text", "1", "2", "three"}, {"email", "--strict"}, {"email", "--loose", "a@b.c"}, {"match", "*", "--"}, {"match"},
            {"listing", "tree", "x"}, {"listing", "records", "a", "b"}, {"listing", "bracketed", "/"}, {"listing"}};
        for (const QStringList &args : usageErrors)
            QTest::addRow("usage: %s", qPrintable(args.join(' '))) << args << QByteArray() << QVariantMap() << 2 << "";
    }

    void zvtool()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(QVariantMap, defaults);
        QFETCH(int, status);
        QFETCH(QString, out);
        QVERIFY(PropertyList::writeFile(defaults, ZVUtility::userPreferencePath() + "zvtool.plist", PropertyList::Format::Binary, false));
        for (QString &arg : args)
            if (arg.startsWith('@'))
                arg = m_dir.filePath(arg.mid(1));
        const TestSupport::Run r = TestSupport::zvtool(args, input);
        QCOMPARE(r.exitCode, status);
        QCOMPARE(QString::fromUtf8(r.out), out.replace('\'', '"')); // nothing printed for the values before a bad one
        // An error is one line that names the tool; otherwise nothing goes to the error output.
        QVERIFY2(status ? r.err.startsWith("zvtool: ") && r.err.count('\n') == 1 && r.err.endsWith('\n') : r.err.isEmpty(), r.err.constData());
    }


    void macVersion_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("expected");
        const QList<MacRow> rows = macRows();
        for (int i = 0; i < rows.size(); ++i)
            QTest::newRow(rows[i].name) << i << QString(rows[i].expected);
    }

    // A machine carrying each row's version file (or none), made once in a private mount namespace:
    // the root file system overlaid (changes land in a temp folder) and this program run again
    // inside it through chroot (see main below), answering one line a row.
    void macVersion()
    {
        QFETCH(int, row);
        QFETCH(QString, expected);
        if (::geteuid() != 0)
            QSKIP("a private mount namespace needs root");
        if (m_macAnswers.isEmpty()) {
            QTemporaryDir overlay;
            QVERIFY(QDir(overlay.path()).mkpath("upper") && QDir(overlay.path()).mkpath("work") && QDir(overlay.path()).mkpath("root"));
            QStringList args{"-m", "/bin/sh", "-c", "set -e; D=$1; shift; mount --make-rprivate /; mount -t overlay overlay -o "
                             "lowerdir=/,upperdir=$D/upper,workdir=$D/work $D/root; mount -t proc proc $D/root/proc; "
                             "mount --rbind /dev $D/root/dev; exec chroot $D/root \"$@\"", "sh", overlay.path(),
                             QCoreApplication::applicationFilePath(), "--mac-version-child", m_dir.path()};
            for (const MacRow &r : macRows()) {
                const QString file = r.file.isNull() ? "-" : overlay.filePath(QString::number(args.size()));
                QVERIFY(r.file.isNull() || TestSupport::writeFile(file, r.file));
                args << file << r.application << r.user;
            }
            const TestSupport::Run run = TestSupport::runProgram("unshare", args);
            if (run.exitCode != 0 && (run.err.contains("mount") || run.err.contains("unshare")))
                QSKIP(qPrintable("no overlay here: " + QString::fromUtf8(run.err)));
            QCOMPARE(run.exitCode, 0);
            m_macAnswers = QString::fromUtf8(run.out).split('\n');
            QVERIFY(!QFileInfo::exists(kGestaltSystemVersionFilePath) && !QFileInfo::exists(m_dir.filePath("logout.txt")));
        }
        QCOMPARE(m_macAnswers.value(row), expected);
    }
};

// Inside the overlaid machine, for each FILE APPLICATION USER: the version text, the answer
// and whether the scratch file is left, the version file placed (or removed) first.
static int macVersionChild(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    NSBundle::mainBundle().setResourcePath(QString::fromLocal8Bit(argv[2]));
    const QString versionFile = kGestaltSystemVersionFilePath;
    const QString scratch = ZVLocalizedString("LogoutCommandOutputFilePath", QString());
    QDir().mkpath(QFileInfo(versionFile).path());
    for (int i = 3; i + 2 < argc; i += 3) {
        QFile::remove(versionFile);
        QFile::remove(scratch);
        if (qstrcmp(argv[i], "-") != 0 && !QFile::copy(QString::fromLocal8Bit(argv[i]), versionFile))
            return 1;
        const auto given = [](const char *text) {
            return qstrcmp(text, "@null") == 0 ? QString() : qstrcmp(text, "@self") == 0 ? QCoreApplication::applicationName() : QString(text);
        };
        const bool running = ZVUtility::isApplicationRunningForUserUser(given(argv[i + 1]), given(argv[i + 2]));
        std::printf("%s %d %d\n", qPrintable(ZVUtility::MacOSVersionWithBugfix()), int(running), int(QFileInfo::exists(scratch)));
    }
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc > 2 && qstrcmp(argv[1], "--mac-version-child") == 0)
        return macVersionChild(argc, argv);
    QApplication app(argc, argv);
    UtilityTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "UtilityTest.moc"
