// The slow and exclusion-aware walks, the exclusion tests, the small questions about local
// paths, the file system holding a path, snapshot folders, volumes and Time Machine folders.
// The volume cases run this program again inside a private overlay of the root file system
// (own mount namespace, chroot), where it may make /Volumes freely: the machine's own / is
// never changed.
#include "MacStatfs_p.h"
#include "SizesTrees.h"
#include "ZVUtility.h"

#include <QTemporaryDir>
#include <QtTest>
#include <sched.h>
#include <sys/mount.h>

using namespace SizesTrees;
using SizeNumber = ZVUtility::SizeNumber;

namespace {

const QString kUser = QStringLiteral("alice");

QVariantMap settingsFor(const QVariantMap &user, const QVariantMap &defaults, const QVariant &hiddenKey = {})
{
    QVariantMap settings{{kUser, QVariantMap{{"User specified Exclusion", user}, {"Default Exclusion", defaults}}}, {"enableExcludeHiddenFilesKey", hiddenKey}};
    return hiddenKey.isValid() ? settings : (settings.remove("enableExcludeHiddenFilesKey"), settings);
}

// What the program reports when run inside the overlay, a line each: the listing of /Volumes,
// the start-up volume's name, the volumes, zvtool's volumes, the Time Machine folders, whether
// there are any (and in four backup sets), and how /Volumes/Backup and /Volumes/Data measure.
int overlayChild()
{
    const auto size = [](const SizeNumber &s) { return !s ? QStringLiteral("none") : *s > 1000000 ? QStringLiteral("used") : QString::number(*s); };
    const auto inSet = [](const QStringList &set) { return int(ZVUtility::isTimeMachineFolderPresentLocallyAndInBackupSet(set)); };
    const QString startup = ZVUtility::startupVolumeDisplayName(), zvtool = QFileInfo(qEnvironmentVariable("ZV_PROGRAM")).absolutePath() + "/zvtool";
    const QStringList lines{QDir("/Volumes").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Unsorted).join('|'),
                            startup.isNull() ? "(none)" : startup, ZVUtility::listMountedVolumesPaths().join('|'),
                            QString::fromUtf8(TestSupport::runProgram(zvtool, {"volumes"}).out).replace('\n', '|'), ZVUtility::timeMachineFolders().join('|'),
                            QStringLiteral("%1%2%3%4%5").arg(int(ZVUtility::isTimeMachineFolderPresent())).arg(inSet({})).arg(inSet({"/Users/a", "/Elsewhere/Backups.backupdb/x"}))
                                .arg(inSet({"/Users/a", "/Volumes/Backup/Backups.backupdb"})).arg(inSet({"/Users/a", "/Volumes/Backup"})),
                            size(ZVUtility::getFolderSize("/Volumes/Backup")) + ' ' + size(ZVUtility::getFolderSize("/Volumes/Data"))};
    std::fputs(qPrintable(lines.join('\n') + '\n'), stdout);
    return 0;
}

QString programPath;

} // namespace

class SizesPaths : public SizesTrees::TreeFixture {
    Q_OBJECT

private slots:
    void slowWalk()
    {
        // Every entry, folders too, after a pause of 10 ms each; a file by its size, following a link.
        QVERIFY(makeTree(root, "t/file=1000 t/sub/ t/link->file"));
        for (int i = 0; i < 17; ++i)
            QVERIFY(makeTree(root, QStringLiteral("t/sub/f%1=1").arg(i)));
        QElapsedTimer timer;
        timer.start();
        const quint64 expected = 1017 + lstatSize(root + "/t/sub") + 4;
        QCOMPARE(ZVUtility::calculateSizeOfFile(root + "/t"), SizeNumber(expected));
        QVERIFY2(timer.elapsed() >= 200, "20 entries pause 10 ms each"); // a lower bound only
        QCOMPARE(ZVUtility::getFolderSize(root + "/t"), SizeNumber(1017 + 4)); // no folders
        QCOMPARE(ZVUtility::calculateSizeOfFile(root + "/t/file"), SizeNumber(1000));
        QCOMPARE(ZVUtility::calculateSizeOfFile(root + "/t/link"), SizeNumber(1000));
        QCOMPARE(ZVUtility::calculateSizeOfFile(root + "/missing"), SizeNumber(0));
    }

    void exclusionWalk_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("musicExcluded");
        QTest::addColumn<QVariant>("hiddenKey");
        QTest::addColumn<QString>("counted");
        const char *all = "Docs Docs/a Music Music/m Music/deep Music/deep/x MusicOld MusicOld/o .secret .secret/s Docs/.dot";
        for (auto [tag, path, user, music, hidden, counted] : {std::tuple{"Music in force, hidden key missing", "", "alice", true, "", "Docs Docs/a"},
                                                               {"Music in force, hidden key true", "", "alice", true, "true", "Docs Docs/a"},
                                                               {"Music in force, hidden key false", "", "alice", true, "false", "Docs Docs/a .secret .secret/s Docs/.dot"},
                                                               {"Music not in force, hidden key false", "", "alice", false, "false", all},
                                                               {"another user's settings", "", "bob", true, "false", all},
                                                               {"a file as it is", "Music/m", "alice", true, "false", "Music/m"}, {"missing", "none", "alice", true, "false", ""}})
            QTest::newRow(tag) << QString(path) << QString(user) << music << (*hidden ? QVariant(QByteArray(hidden) == "true") : QVariant()) << QString(counted);
    }
    void exclusionWalk()
    {
        QFETCH(QString, path);
        QFETCH(QString, user);
        QFETCH(bool, musicExcluded);
        QFETCH(QVariant, hiddenKey);
        QFETCH(QString, counted);
        // The key is a plain text prefix: MusicOld goes with Music.
        QVERIFY(makeTree(root, "Docs/a=11 Docs/.dot=13 Music/m=101 Music/deep/x=103 MusicOld/o=107 .secret/s=109"));
        quint64 expected = 0;
        for (const QString &entry : counted.split(' ', Qt::SkipEmptyParts))
            expected += lstatSize(root + "/" + entry);
        const QVariantMap settings = settingsFor({{root + "/Music", musicExcluded}}, {{root + "/Docs", true}}, hiddenKey);
        QCOMPARE(ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary(root + (path.isEmpty() ? "" : "/" + path), user, settings),
                 ZVUtility::formatedFileSizeAsString(expected));
    }

    void exclusionTotals()
    {
        // No exclusion test in the totals; overlapping folders count again; links are followed.
        QVERIFY(makeTree(root, "a/x=10 a/b/y=20 file=300 .hidden/z=4000 fileLink->file"));
        const QString u = root + "/";
        const QVariantMap user{{u + "a", true}, {u + "a/b", true}, {u + "file", false}, {u + "fileLink", true}, {u + "missing", true}};
        const QVariantMap settings = settingsFor(user, {{u + ".hidden", true}, {u + "file", true}}, true);
        QCOMPARE(ZVUtility::totalSizeOfUserExclusionForUserWithExcludedDictionary(kUser, settings), SizeNumber(30 + lstatSize(u + "a/b") + 20 + 300));
        QCOMPARE(ZVUtility::totalSizeOfDefaultExclusionForUserWithExcludedDictionary(kUser, settings), SizeNumber(4000 + 300));
        QCOMPARE(ZVUtility::totalSizeOfUserExclusionForUserWithExcludedDictionary(QString(), settings), SizeNumber(0));
        QCOMPARE(ZVUtility::totalSizeOfDefaultExclusionForUserWithExcludedDictionary(kUser, {}), SizeNumber(0));
        QCOMPARE(ZVUtility::totalSizeOfDefaultExclusionForUserWithExcludedDictionary("bob", settings), SizeNumber(0));
    }

    void rootSubtractionNeverWraps()
    {
        // A sparse file far larger than what "/" uses, named as an exclusion.
        QFile huge(root + "/huge");
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(8) << 40)); // 8 TiB, no blocks
        huge.close();
        const QString zero = ZVUtility::formatedFileSizeAsString(0);
        QCOMPARE(ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary("/", kUser, settingsFor({}, {{huge.fileName(), true}})), zero);
        QVERIFY(ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary("/", kUser, {}) != zero);
    }

    // One question per row: the operation, its input and the exact answer.
    void answers_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        // snapshotVersion of a folder name ("null" when null).
        for (auto [in, out] : {std::pair{"Documents", ""}, {"BackUp_nightly.2011-05-02", "2011-05-02"}, {"BackUp_nightly.2011-05-02_10-00", "2011-05-02"},
                               {"BackUp_nightly.3.1_x", "3"}, {"BackUp_nightly.", ""}, {"BackUp_nightly", ""}, {"my_BackUp_nightly.5", ""},
                               {"a.b_c.d_BackUp_nightly.5", "d"}, {"", ""}})
            QTest::addRow("version %s", in) << "version" << in << out;
        // isSupportedImageFileWithExtensions: "PATH|EXTENSION|...".
        for (auto [in, out] : {std::pair{"/x/Photo.JPG|jpg|png", "1"}, {"/x/Photo.JPG|JPG", "0"}, {"/x/a.tar.png|png", "1"}, {"/x.png/file|png", "0"},
                               {"/x/README|png", "0"}, {"/x/README|", "1"}, {"/x/pic.png/|png", "1"}, {"/x/a.png", "0"}})
            QTest::addRow("image %s", in) << "image" << in << out;
        // The user's exclusions (a plain text prefix, in force, a non-empty key; the default list
        // never counts) and the hidden-file test (without the key, key true, key false).
        for (auto [in, out] : {std::pair{"/Users/a/Music", "1 0000"}, {"/Users/a/Music/x/y", "1 0000"}, {"/Users/a/Documents", "1 0000"},
                               {"/Users/a/Office", "0 0000"}, {"/Users/a/Mus", "0 0000"}, {"/x", "0 0000"}, {"/Users/a/.profile", "0 1110"},
                               {"/Users/a/.Trash/old/file", "0 1110"}, {"/Users/a/./b/../c", "0 0000"}, {"/Users/a/file.txt", "0 0000"},
                               {".config/x", "0 1110"}, {"", "0 0000"}})
            QTest::addRow("exclusion %s", in) << "exclusion" << in << out;
        QTest::newRow("undeletable") << "undeletable" << "/a/b.txt /a/x=y /a/../b /c;rm ./here /d/e /f/..g /g/h." << "/a/b.txt /d/e /g/h.";
        // Snapshot folders first, then _MAC ones ("#N": the number N, "-": an empty dictionary,
        // both with no path), or _MAC ones first; whole entries move.
        QTest::newRow("top") << "top" << "Docs Photos_MAC BackUp_nightly.2011-05-02 Music BackUp_nightly.2011-05-01"
                             << "BackUp_nightly.2011-05-02 BackUp_nightly.2011-05-01 Photos_MAC Docs Music";
        QTest::newRow("top, snapshot ending in _MAC") << "top" << "A_MAC b BackUp_nightly.1_MAC c_MAC BackUp_nightly.2" << "BackUp_nightly.1_MAC BackUp_nightly.2 A_MAC c_MAC b";
        QTest::newRow("top, no path") << "top" << "#42 k_MAC -" << "k_MAC #42 -";
        QTest::newRow("top, empty") << "top" << "" << "";
        QTest::newRow("mac") << "mac" << "x Y_MAC z BackUp_nightly.1 w_MAC" << "Y_MAC w_MAC x z BackUp_nightly.1";
        QTest::newRow("mac, empty") << "mac" << "" << "";
        QTest::newRow("preference path") << "preferences" << "/home/somebody" << "/home/somebody/Library/Preferences/";
        // Below the temp folder: exists, exists for auto sync, directory (also with a "/"), Mac directory.
        for (auto [in, out] : {std::pair{"notes.txt", "1100 1"}, {"Tool.app", "1111 1"}, {"Kit.FRAMEWORK", "1111 1"}, {"Users", "1111 0"},
                               {"photos.2011", "1111 0"}, {"fake.app", "1100 1"}, {".app", "1111 0"}, {"linkToApp", "1111 0"}, // the link's name decides
                               {"Alias.app", "1111 1"}, {"dangling", "0000 0"}, {"missing.app", "0000 0"}, {"notes.txt/x", "0000 0"},
                               {"loop", "0100 0"}}) // a link loop: resolving fails otherwise
            QTest::addRow("kind %s", in) << "kind" << in << out;
        QTest::newRow("kind of the empty path") << "kind" << "" << "0000 0";
    }
    void answers()
    {
        QFETCH(QString, op);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const auto bits = [](std::initializer_list<bool> list) { QString t; for (bool b : list) t += b ? '1' : '0'; return t; };
        const QStringList words = input.split(' ', Qt::SkipEmptyParts);
        const QVariantMap music{{"/Users/a/Music", true}, {"/Users/a/Doc", true}, {"/Users/a/Off", false}, {"", true}};
        QString got;
        if (op == "version")
            got = ZVUtility::snapshotVersion(input).isNull() ? "null" : ZVUtility::snapshotVersion(input);
        else if (op == "image")
            got = bits({ZVUtility::isSupportedImageFileWithExtensions(input.section('|', 0, 0), input.split('|').mid(1))});
        else if (op == "exclusion")
            got = bits({ZVUtility::shouldExcludeUserFileUserDictionary(input, {{"User specified Exclusion", music}})
                        || ZVUtility::shouldExcludeUserFileUserDictionary(input, {{"Default Exclusion", music}})}) + ' '
                + bits({ZVUtility::isChildOfHiddenFolder(input), ZVUtility::shouldExcludeHiddenFileUserDictionary(input, {}),
                        ZVUtility::shouldExcludeHiddenFileUserDictionary(input, {{"enableExcludeHiddenFilesKey", true}}),
                        ZVUtility::shouldExcludeHiddenFileUserDictionary(input, {{"enableExcludeHiddenFilesKey", false}})});
        QStringList list = words;
        QVariantList entries;
        for (const QString &p : words)
            entries << (p == "-" ? QVariant(QVariantMap()) : p.startsWith('#') ? QVariant(p.mid(1).toInt()) : QVariant(QVariantMap{{"filePath", p}, {"fileSize", p}}));
        if (op == "undeletable")
            ZVUtility::filterUndeletableFiles(list);
        if (op == "top")
            ZVUtility::moveSnapshotFoldersToTop(entries);
        if (op == "mac")
            QCOMPARE(&ZVUtility::sortMacFoldersInSnapshots(entries), &entries);
        if (op == "top" || op == "mac") {
            list.clear();
            for (const QVariant &v : entries) {
                const QVariantMap m = v.toMap();
                list << (v.typeId() != QMetaType::QVariantMap ? "#" + v.toString() : m.isEmpty() ? "-" : m["filePath"].toString() + (m["fileSize"] == m["filePath"] ? "" : "!"));
            }
        }
        if (op == "undeletable" || op == "top" || op == "mac")
            got = list.join(' ');
        if (op == "preferences") {
            const QByteArray saved = qgetenv("HOME");
            qputenv("HOME", input.toUtf8());
            got = ZVUtility::userPreferencePath();
            qputenv("HOME", saved);
        }
        if (op == "kind") {
            QVERIFY(makeTree(root, "notes.txt=3 Tool.app/Contents/Info.plist=3 Kit.FRAMEWORK/ Users/ photos.2011/ .app/ fake.app=1 "
                                   "linkToApp->Tool.app Alias.app->Users dangling->nothing loop->loop"));
            const QString path = input.isEmpty() ? input : root + '/' + input;
            got = bits({ZVUtility::isFileExists(path), ZVUtility::isFileExistsForAutoSync(path), ZVUtility::isDirectory(path),
                        input.isEmpty() ? false : ZVUtility::isDirectory(path + '/')}) + ' ' + bits({ZVUtility::isMacDirectory(path)});
        }
        QCOMPARE(got, expected);
    }

    void permissionsAlongThePath()
    {
        if (::geteuid() != 0)
            QSKIP("the checks run as the user nobody, which needs root to switch to");
        QVERIFY(makeTree(root, "open/file=1 closed/file=1 writable=1 writeOnly=1"));
        using P = QFileDevice;
        QVERIFY(QFile::setPermissions(root, P::ReadOwner | P::WriteOwner | P::ExeOwner | P::ReadOther | P::ExeOther));
        QVERIFY(QFile::setPermissions(root + "/closed", P::ReadOwner | P::WriteOwner | P::ExeOwner));
        QVERIFY(QFile::setPermissions(root + "/writable", P::ReadOther | P::WriteOther | P::ReadOwner));
        QVERIFY(QFile::setPermissions(root + "/writeOnly", P::WriteOther | P::ReadOwner));
        // Read: every existing item along the path, the last one included; missing ones passed over.
        const QByteArray answers = TestSupport::inChild([&] {
            QByteArray a;
            for (const char *name : {"open/file", "closed/file", "open/file/not/there", "writeOnly", "writable"})
                a += ZVUtility::hasReadPermissionForFile(root + '/' + name) ? '1' : '0';
            for (const char *name : {"writable", "writeOnly", "open/file"})
                a += ZVUtility::isWritableFileAtPath(root + '/' + name) ? '1' : '0';
            return a;
        }, -1, 65534);
        QCOMPARE(answers, QByteArray("10101100"));
        QVERIFY(!ZVUtility::isWritableFileAtPath(root + "/missing"));
    }

    void emptyAndRemove()
    {
        QVERIFY(makeTree(root, "empty/ full/.only-hidden=1 file=1 keep/precious=5 gone/sub/x=5"));
        QVERIFY(makeTree(root, QStringLiteral("gone/linkToKeep->%1/keep alias->%1/keep").arg(root)));
        QCOMPARE(QList<bool>({ZVUtility::isEmptyFolder(root + "/empty"), ZVUtility::isEmptyFolder(root + "/full"),
                              ZVUtility::isEmptyFolder(root + "/missing"), ZVUtility::isEmptyFolder(root + "/file")}),
                 QList<bool>({true, false, true, true}));
        // Links are removed, not followed; "." and ".." are refused, relative to the current folder.
        ZVUtility::removeFolder(root + "/gone");
        ZVUtility::removeFolder(root + "/alias");
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root + "/keep"));
        ZVUtility::removeFolder(QStringLiteral("."));
        ZVUtility::removeFolder(QStringLiteral(".."));
        QDir::setCurrent(before);
        QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), (QStringList{"empty", "file", "full", "keep"}));
        QCOMPARE(QDir(root + "/keep").entryList(QDir::Files), QStringList{"precious"});
    }

    // The type of the mount holding a path, as findmnt names it, and the local flag; a path
    // that cannot be asked leaves the answer untouched. "@" is a tmpfs mounted in a private
    // mount namespace.
    void fileSystemOfPath_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *path : {"/", "/proc", "/proc/self/fd", "/sys", "/sys/fs/cgroup", "/dev", "/dev/shm", "@", "@/sub/file", "@/missing"})
            QTest::newRow(path) << path;
    }
    void fileSystemOfPath()
    {
        QFETCH(QString, path);
        if (::geteuid() != 0)
            QSKIP("needs root: mounts a tmpfs in a private mount namespace");
        const QString mount = root + "/mnt";
        QVERIFY(QDir().mkpath(mount));
        path.replace('@', mount);
        const QByteArray answer = TestSupport::inChild([&] {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount("zv", fs(mount).constData(), "tmpfs", 0, nullptr) != 0 || !makeTree(mount, "sub/file=1"))
                return QByteArray("no mount");
            MacStatfs info;
            info.f_fstypename = QStringLiteral("untouched");
            const int status = macStatfs(fs(path).constData(), &info);
            char type[256] = "";
            FILE *findmnt = ::setenv("ZV_PATH", fs(path).constData(), 1) == 0 ? ::popen("findmnt -no FSTYPE -T \"$ZV_PATH\"", "r") : nullptr;
            if (!findmnt || !std::fgets(type, sizeof type, findmnt))
                std::strcpy(type, "untouched");
            if (findmnt)
                ::pclose(findmnt);
            return QStringLiteral("%1 %2 %3|%4 %5 %6").arg(status).arg(info.f_fstypename).arg(info.f_flags)
                .arg(QFileInfo::exists(path) ? 0 : -1).arg(QString::fromUtf8(type).trimmed()).arg(QFileInfo::exists(path) ? MNT_LOCAL : 0).toUtf8();
        });
        QVERIFY2(answer.contains('|'), answer.constData());
        QCOMPARE(answer.split('|')[0], answer.split('|')[1]);
    }

    void volumes_data()
    {
        QTest::addColumn<QString>("setup"); // shell commands in the overlay's top folder
        QTest::addColumn<QString>("startupName");
        QTest::addColumn<QString>("expectedSet"); // the list, in any order
        QTest::addColumn<QString>("timeMachine");
        const QString volumes = "mkdir -p Volumes/Backup/Backups.backupdb Volumes/Data/sub Volumes/Empty Backups.backupdb\n"
                                "ln -s / Volumes/Main && ln -s /nowhere Volumes/Gone && echo note > Volumes/notes.txt\n"
                                "printf 12345 > Volumes/Data/sub/f\n";
        const QString label = "mkdir -p dev/disk/by-label && mknod dev/zv-root b $(stat -c '%Hd %Ld' .) && ln -s ../../zv-root ";
        const QString all = "/ /Volumes/Backup /Volumes/Data /Volumes/Empty", both = "//Backups.backupdb /Volumes/Backup/Backups.backupdb";
        QTest::newRow("named by file") << volumes + "mkdir -p etc && printf '  Main  \\nsecond line\\n' > etc/startup-volume-name" << "Main" << all << both;
        QTest::newRow("named by the root file system's label") << volumes + label + "'dev/disk/by-label/Main'" << "Main" << all << both;
        QTest::newRow("label with an escaped blank") << volumes + "mv Volumes/Main 'Volumes/Main Disk' && " + label + "'dev/disk/by-label/Main\\x20Disk'"
                                                     << "Main Disk" << all << both;
        QTest::newRow("no name for the start-up volume") << volumes << QString() << "/Volumes/Main /Volumes/Backup /Volumes/Data /Volumes/Empty"
                                                         << "/Volumes/Backup/Backups.backupdb /Volumes/Main/Backups.backupdb";
        QTest::newRow("a Time Machine name that is a file") << "mkdir -p Volumes/Backup etc && echo x > Volumes/Backup/Backups.backupdb && echo Main > etc/startup-volume-name"
                                                            << "Main" << "/Volumes/Backup" << "";
        QTest::newRow("no /Volumes") << "echo Main > etc/startup-volume-name" << "Main" << "" << "";
    }
    void volumes()
    {
        QFETCH(QString, setup);
        QFETCH(QString, startupName);
        QFETCH(QString, expectedSet);
        QFETCH(QString, timeMachine);
        if (::geteuid() != 0)
            QSKIP("needs root: /Volumes is made inside a private overlay of / (unshare -m, mount, chroot)");
        const QString top = root + "/top", binDir = QFileInfo(programPath).absolutePath();
        const QString script = QStringLiteral(
            "set -e\nmkdir -p '%1/upper' '%1/work' '%2'\nmount --make-rprivate /\n"
            "mount -t overlay overlay -o lowerdir=/,upperdir='%1/upper',workdir='%1/work' '%2'\n"
            "mount -t proc proc '%2/proc'\n"
            "mkdir -p '%2%3' && mount --bind '%3' '%2%3'\n" // the build folder may be on another file system
            "cd '%2'\nrm -rf Volumes etc/startup-volume-name Backups.backupdb dev/disk\n%4\n"
            "ZV_PROGRAM='%5' exec chroot '%2' '%5' --overlay-child\n").arg(root, top, binDir, setup, programPath);
        const TestSupport::Run run = TestSupport::runProgram("unshare", {"-m", "sh", "-c", script});
        const QStringList report = QString::fromUtf8(run.out).split('\n');
        QVERIFY2(report.size() == 8, run.err.constData());
        // The listing's order, folders only, the start-up volume as "/"; Time Machine folders in
        // volume order; a volume measured by its used space.
        QStringList volumes, tm;
        for (const QString &name : report[0].split('|', Qt::SkipEmptyParts)) {
            const QString path = !startupName.isNull() && name == startupName ? "/" : "/Volumes/" + name;
            volumes << (expectedSet.split(' ').contains(path) ? QStringList{path} : QStringList());
            tm << (timeMachine.split(' ').contains(path + "/Backups.backupdb") ? QStringList{path + "/Backups.backupdb"} : QStringList());
        }
        QCOMPARE(volumes.size(), expectedSet.split(' ', Qt::SkipEmptyParts).size());
        QCOMPARE(tm.size(), timeMachine.split(' ', Qt::SkipEmptyParts).size());
        const int any = !tm.isEmpty(), exact = timeMachine.contains("/Volumes/Backup/Backups.backupdb");
        const auto size = [&](const QString &v) { return volumes.contains(v) ? "used" : "none"; };
        QCOMPARE(report, (QStringList{report[0], startupName.isNull() ? "(none)" : startupName, volumes.join('|'), volumes.isEmpty() ? "" : volumes.join('|') + '|',
                                      tm.join('|'), QStringLiteral("%1 0%1%2 0").arg(any).arg(exact).remove(' '), size("/Volumes/Backup") + QStringLiteral(" ") + size("/Volumes/Data"), ""}));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--overlay-child") == 0)
        return overlayChild();
    QCoreApplication app(argc, argv);
    programPath = QCoreApplication::applicationFilePath();
    SizesPaths test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_SizesPaths.moc"
