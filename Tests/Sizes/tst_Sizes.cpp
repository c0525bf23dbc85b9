// Folder sizes and the File Manager layer beneath them (references, catalog iteration in batches,
// the parallel tree walk), the exclusion-aware walks, questions about local paths, the file system
// holding a path, snapshot folders, volumes and Time Machine folders: real trees in temp folders,
// measured with find. The volume cases run this program again in a private overlay of / (own mount
// namespace, chroot), where it may make /Volumes freely. One program, two tests.
#include "Files.h"
#include "MacStatfs_p.h"
#include "TestSupport.h"
#include "ZVUtility.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using SizeNumber = ZVUtility::SizeNumber;

namespace {

QByteArray fs(const QString &path) { return QFile::encodeName(path); }

qint64 lstatSize(const QString &path)
{
    struct stat st;
    return ::lstat(fs(path).constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

// Makes in ROOT the blank-separated items of LAYOUT: "a/b=N" a file of N bytes, "a/b/" a
// folder, "a->T" a symbolic link to T, "a=>b" a hard link to ROOT/b. False on a failure.
bool makeTree(const QString &root, const QString &layout)
{
    for (const QString &item : layout.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const qsizetype at = item.indexOf(QLatin1String("->")), hard = item.indexOf(QLatin1String("=>")), file = item.indexOf(u'=');
        const QString path = root + u'/' + item.left(at > 0 ? at : file > 0 ? file : item.size());
        if (!(at < 0 && hard < 0 && file > 0) && !QDir().mkpath(at > 0 || file > 0 ? QFileInfo(path).path() : path))
            return false;
        if (at > 0 ? ::symlink(fs(item.mid(at + 2)).constData(), fs(path).constData()) != 0
                : hard > 0 ? ::link(fs(root + u'/' + item.mid(hard + 2)).constData(), fs(path).constData()) != 0
                : file > 0 && !TestSupport::writeFile(path, QByteArray(item.mid(file + 1).toInt(), 'x')))
            return false;
    }
    return true;
}

// The byte total of `find DIR -mindepth 1 [-name PRUNE -prune -o] -not -type d -printf '%s\n'`:
// every non-folder entry (every entry with FOLDERS), links as themselves, hard links once
// per name, nothing at or below an entry named PRUNE. -1 when find fails.
qint64 findSum(const QString &dir, bool folders = false, const QString &prune = QString())
{
    QStringList args{dir, "-mindepth", "1"};
    if (!prune.isEmpty())
        args << "-name" << prune << "-prune" << "-o";
    if (!folders)
        args << "-not" << "-type" << "d";
    const TestSupport::Run find = TestSupport::runProgram("find", args << "-printf" << "%s\\n");
    qint64 sum = 0;
    for (const QByteArray &line : find.out.split('\n'))
        sum += line.toLongLong();
    return find.exitCode == 0 ? sum : -1;
}

// A chain DEPTH folders deep below ROOT (each named NAME), made with openat so that paths
// beyond PATH_MAX are no obstacle; at every level % SIDEEVERY == 0 a side folder holding one
// file of level % 7 + 1 bytes. The byte total of the files, or -1 on failure.
qint64 makeDeepChain(const QString &root, int depth, int sideEvery, const char *name)
{
    int fd = ::open(fs(root).constData(), O_RDONLY | O_DIRECTORY);
    qint64 total = 0;
    for (int level = 0; fd >= 0 && level < depth; ++level) {
        if (level % sideEvery == 0) {
            const QByteArray bytes(level % 7 + 1, 'd');
            const int side = ::mkdirat(fd, "side", 0755) == 0 ? ::openat(fd, "side", O_RDONLY | O_DIRECTORY) : -1;
            const int file = side >= 0 ? ::openat(side, "f", O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
            total += file >= 0 && ::write(file, bytes.constData(), size_t(bytes.size())) == bytes.size() ? bytes.size() : -(qint64(1) << 40);
            ::close(file);
            ::close(side);
        }
        const int next = ::mkdirat(fd, name, 0755) == 0 ? ::openat(fd, name, O_RDONLY | O_DIRECTORY) : -1;
        ::close(fd);
        fd = next;
    }
    ::close(fd);
    return fd >= 0 && total >= 0 ? total : -1;
}

// Removes a tree of any depth (rm walks relative to open folders; QDir uses whole paths).
bool removeTree(const QString &path) { return TestSupport::runProgram("rm", {"-rf", "--", path}).exitCode == 0; }

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

FSRef makeRef(const QString &path, OSStatus *status = nullptr)
{
    FSRef ref;
    const OSStatus s = FSPathMakeRef(reinterpret_cast<const UInt8 *>(fs(path).constData()), &ref, nullptr);
    if (status)
        *status = s;
    return ref;
}

QString refPath(const FSRef &ref, UInt32 size = 1 << 16)
{
    QByteArray buffer(size, 0);
    const OSStatus s = FSRefMakePath(&ref, reinterpret_cast<UInt8 *>(buffer.data()), size);
    return s == noErr ? QFile::decodeName(buffer.constData()) : QString::number(s);
}

// FOLDER read through the iterator in batches of BATCH: its items sorted, "name=size" ("name/"
// for a folder, "!" when the item's path is wrong or it has a resource fork), and the batches
// as "count:status".
QStringList readAll(const QString &folder, ItemCount batch, QString *batches)
{
    QStringList items;
    FSIterator it = nullptr;
    const FSRef ref = makeRef(folder);
    std::vector<FSCatalogInfo> infos(batch);
    std::vector<FSRef> refs(batch);
    std::vector<HFSUniStr255> names(batch);
    for (OSStatus s = FSOpenIterator(&ref, kFSIterateFlat, &it); s == noErr;) {
        ItemCount n = 999;
        s = FSGetCatalogInfoBulk(it, batch, &n, nullptr, kFSCatInfoNodeFlags | kFSCatInfoDataSizes | kFSCatInfoRsrcSizes,
                                 infos.data(), refs.data(), nullptr, names.data());
        *batches += QStringLiteral("%1:%2 ").arg(n).arg(s);
        for (ItemCount i = 0; i < n; ++i) {
            const QString name = QString::fromUtf16(reinterpret_cast<const char16_t *>(names[i].unicode), names[i].length);
            items << name + ((infos[i].nodeFlags & kFSNodeIsDirectoryMask) ? "/=" : "=") + QString::number(infos[i].dataLogicalSize)
                    + (refPath(refs[i]) != folder + '/' + name || infos[i].rsrcLogicalSize ? "!" : "");
        }
    }
    FSCloseIterator(it);
    items.sort();
    return items;
}

int openDescriptors() { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size(); }

} // namespace

class Sizes : public QObject {
    Q_OBJECT
    QScopedPointer<QTemporaryDir> dir;
    QString root; // a fresh temp folder for each test function (canonical path), removed after it
    QTemporaryDir shared;

private slots:
    void init() { dir.reset(new QTemporaryDir), root = QFileInfo(dir->path()).canonicalFilePath(); }
    void cleanup() { removeTree(root); }

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
                               {"BackUp_nightly.3.1_x", "3"}, {"BackUp_nightly.", ""}, {"my_BackUp_nightly.5", ""}, {"a.b_c.d_BackUp_nightly.5", "d"}})
            QTest::addRow("version %s", in) << "version" << in << out;
        // isSupportedImageFileWithExtensions: "PATH|EXTENSION|...".
        for (auto [in, out] : {std::pair{"/x/Photo.JPG|jpg|png", "1"}, {"/x/Photo.JPG|JPG", "0"}, {"/x/a.tar.png|png", "1"}, {"/x.png/file|png", "0"},
                               {"/x/README|png", "0"}, {"/x/README|", "1"}, {"/x/pic.png/|png", "1"}, {"/x/a.png", "0"}})
            QTest::addRow("image %s", in) << "image" << in << out;
        // The user's exclusions (a plain text prefix, in force, a non-empty key; the default list
        // never counts) and the hidden-file test (without the key, key true, key false).
        for (auto [in, out] : {std::pair{"/Users/a/Music/x/y", "1 0000"}, {"/Users/a/Documents", "1 0000"}, {"/Users/a/Office", "0 0000"},
                               {"/Users/a/Mus", "0 0000"}, {"/Users/a/.profile", "0 1110"}, {"/Users/a/.Trash/old/file", "0 1110"},
                               {"/Users/a/./b/../c", "0 0000"}, {".config/x", "0 1110"}, {"", "0 0000"}})
            QTest::addRow("exclusion %s", in) << "exclusion" << in << out;
        QTest::newRow("undeletable") << "undeletable" << "/a/b.txt /a/x=y /a/../b /c;rm ./here /d/e /f/..g /g/h." << "/a/b.txt /d/e /g/h.";
        // Snapshot folders first, then _MAC ones ("#N": the number N, "-": an empty dictionary,
        // both with no path), or _MAC ones first; whole entries move.
        QTest::newRow("top") << "top" << "Docs Photos_MAC BackUp_nightly.2011-05-02 Music BackUp_nightly.2011-05-01"
                             << "BackUp_nightly.2011-05-02 BackUp_nightly.2011-05-01 Photos_MAC Docs Music";
        QTest::newRow("top, snapshot ending in _MAC") << "top" << "A_MAC b BackUp_nightly.1_MAC c_MAC BackUp_nightly.2" << "BackUp_nightly.1_MAC BackUp_nightly.2 A_MAC c_MAC b";
        QTest::newRow("top, no path") << "top" << "#42 k_MAC -" << "k_MAC #42 -";
        QTest::newRow("mac") << "mac" << "x Y_MAC z BackUp_nightly.1 w_MAC" << "Y_MAC w_MAC x z BackUp_nightly.1";
        // Below the temp folder: exists, exists for auto sync, directory (also with a "/"), Mac directory.
        for (auto [in, out] : {std::pair{"notes.txt", "1100 1"}, {"Tool.app", "1111 1"}, {"Kit.FRAMEWORK", "1111 1"}, {"Users", "1111 0"},
                               {"photos.2011", "1111 0"}, {"fake.app", "1100 1"}, {".app", "1111 0"}, {"linkToApp", "1111 0"}, // the link's name decides
                               {"Alias.app", "1111 1"}, {"dangling", "0000 0"}, {"missing.app", "0000 0"}, {"notes.txt/x", "0000 0"},
                               {"loop", "0100 0"}}) // a link loop: resolving fails otherwise
            QTest::addRow("kind %s", in) << "kind" << in << out;
        QTest::newRow("kind of the empty path") << "kind" << "" << "0000 0";
        // The exclusion-aware walk below the temp folder, "PATH USER MUSIC-IN-FORCE HIDDEN-KEY": the entries counted. The
        // key is a plain text prefix: MusicOld goes with Music.
        const char *all = "Docs Docs/a Music Music/m Music/deep Music/deep/x MusicOld MusicOld/o .secret .secret/s Docs/.dot";
        for (auto [in, out] : {std::pair{". alice 1 true", "Docs Docs/a"}, {". alice 1 false", "Docs Docs/a .secret .secret/s Docs/.dot"},
                               {". alice 0 false", all}, {". bob 1 false", all}, {"./Music/m alice 1 false", "Music/m"}, {"./none alice 1 false", ""}})
            QTest::addRow("walk %s", in) << "walk" << in << out;
        // The file system representation of a text into a buffer of SIZE bytes ("SIZE|TEXT", "^" a NUL).
        for (auto [in, out] : {std::pair{"5|/a/b", "/a/b"}, {"4|/a/b", "refused"}, {"32|/Fotos/Mädchen", "/Fotos/Mädchen"}, {"1|", ""},
                               {"16|/a^b", "refused"}, {"null", "refused"}})
            QTest::addRow("representation %s", in) << "representation" << in << out;
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
        if (op == "walk") {
            QVERIFY(makeTree(root, "Docs/a=11 Docs/.dot=13 Music/m=101 Music/deep/x=103 MusicOld/o=107 .secret/s=109"));
            quint64 counted = 0;
            for (const QString &entry : expected.split(' ', Qt::SkipEmptyParts))
                counted += lstatSize(root + "/" + entry);
            const QVariantMap settings = settingsFor({{root + "/Music", words[2] == "1"}}, {{root + "/Docs", true}}, words[3] == "true");
            QCOMPARE(ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary(root + words[0].mid(1), words[1], settings),
                     ZVUtility::formatedFileSizeAsString(counted));
            return;
        }
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
        if (op == "representation") {
            const QString text = input == "null" ? QString() : QString("") + input.section('|', 1).replace('^', QChar(0));
            QByteArray buffer(input == "null" ? 16 : input.section('|', 0, 0).toInt(), '\x7f');
            QVERIFY(CFStringGetMaximumSizeOfFileSystemRepresentation(text) > CFIndex(QFile::encodeName(text).size()));
            got = CFStringGetFileSystemRepresentation(text, buffer.data(), CFIndex(buffer.size())) ? QString::fromUtf8(buffer.constData()) : "refused";
        }
        if (op == "undeletable" || op == "top" || op == "mac")
            got = list.join(' ');
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

    void references()
    {
        QVERIFY(makeTree(root, "real/file=3 alias->real folder/ link->folder"));
        OSStatus status = 1;
        const FSRef ref = makeRef(root + "/alias/file", &status), folder = makeRef(root);
        QCOMPARE(status, OSStatus(noErr));
        QCOMPARE(refPath(ref), root + "/real/file");
        QCOMPARE(refPath(ref, 4), QString::number(pathTooLongErr));
        for (const char *missing : {"/missing", "/real/file/below"}) {
            makeRef(root + missing, &status);
            QCOMPARE(status, OSStatus(fnfErr));
        }
        FSIterator it = nullptr;
        QCOMPARE(FSOpenIterator(&folder, kFSIterateSubtree, &it), OSStatus(errFSBadIteratorFlags));
        QCOMPARE(FSOpenIterator(&ref, kFSIterateFlat, &it), OSStatus(errFSNotAFolder));
        QCOMPARE(FSCloseIterator(nullptr), OSStatus(errFSIteratorNotFound));
        QCOMPARE(FSOpenIterator(&folder, kFSIterateFlat, &it), OSStatus(noErr));
        FSCatalogInfo infos[8];
        FSRef refs[8];
        ItemCount n = 0;
        QCOMPARE(FSGetCatalogInfoBulk(it, 8, &n, nullptr, kFSCatInfoNodeFlags, infos, refs, nullptr, nullptr), OSStatus(errFSNoMoreItems));
        QCOMPARE(int(n), 4);
        QCOMPARE(FSGetCatalogInfoBulk(it, 8, &n, nullptr, kFSCatInfoNodeFlags, infos, refs, nullptr, nullptr), OSStatus(errFSNoMoreItems));
        QCOMPARE(int(n), 0);
        QCOMPARE(FSGetCatalogInfoBulk(it, 0, &n, nullptr, kFSCatInfoNodeFlags, infos, refs, nullptr, nullptr), OSStatus(errFSBadItemCount));
        FSCloseIterator(it);
        // A catalog reference to a link is the link, not the folder it names; a folder removed
        // after it was listed is gone.
        QMap<QString, OSStatus> opened;
        for (const FSRef &r : refs) {
            if (!r.name.empty() && (opened[QString::fromStdString(r.name)] = FSOpenIterator(&r, kFSIterateFlat, &it)) == noErr)
                FSCloseIterator(it);
        }
        QCOMPARE(opened, (QMap<QString, OSStatus>{{"alias", errFSNotAFolder}, {"folder", noErr}, {"link", errFSNotAFolder}, {"real", noErr}}));
        QVERIFY(QDir(root + "/folder").removeRecursively());
        for (const FSRef &r : refs)
            QCOMPARE(r.name == "folder" ? FSOpenIterator(&r, kFSIterateFlat, &it) : OSStatus(fnfErr), OSStatus(fnfErr));
    }

    void batches_data()
    {
        QTest::addColumn<QString>("layout"); // a number: that many files named file-I of I % 300 bytes
        QTest::addColumn<int>("batch");
        QTest::addColumn<QString>("batches");
        QTest::addColumn<QStringList>("items"); // more than those numbered files
        QTest::newRow("empty folder") << "0" << 256 << "0:-1417 " << QStringList();
        QTest::newRow("600 in 256s") << "600" << 256 << "256:0 256:0 88:-1417 " << QStringList();
        QTest::newRow("exactly 256") << "256" << 256 << "256:0 0:-1417 " << QStringList();
        QTest::newRow("batches of 1") << "3" << 1 << "1:0 1:0 1:0 0:-1417 " << QStringList();
        // Folders carry the folder flag and no size; links are items of their own, not followed.
        QTest::newRow("kinds of items") << "0 file=1234 folder/inner/ folderLink->folder dangling->nowhere/at/all" << 256
                                        << "4:-1417 " << QStringList{"dangling=14", "file=1234", "folder/=0", "folderLink=6"};
    }
    void batches()
    {
        QFETCH(QString, layout);
        QFETCH(int, batch);
        QFETCH(QString, batches);
        QFETCH(QStringList, items);
        for (int i = 0; i < layout.section(' ', 0, 0).toInt(); ++i)
            layout += QStringLiteral(" ") + (items << QStringLiteral("file-%1=%2").arg(i).arg(i % 300)).last();
        QVERIFY(makeTree(root, layout.section(' ', 1)));
        QString seen;
        items.sort();
        QCOMPARE(readAll(root, ItemCount(batch), &seen), items);
        QCOMPARE(seen, batches);
    }

    void manyOpenFolders()
    {
        // More folders than the layer keeps open: references to early ones still open later, by
        // name from their parents. Every "g" reference is made first, forcing closes; then all used.
        const int count = kFSMaxOpenFolders * 3;
        for (int i = 0; i < count; ++i)
            QVERIFY(makeTree(root, QStringLiteral("f%1/g/file=%2").arg(i).arg(i + 1)));
        FSIterator it = nullptr;
        const FSRef top = makeRef(root);
        std::vector<FSRef> tops(count + 1), inner(count);
        ItemCount n = 0;
        QCOMPARE(FSOpenIterator(&top, kFSIterateFlat, &it), OSStatus(noErr));
        FSGetCatalogInfoBulk(it, ItemCount(count) + 1, &n, nullptr, kFSCatInfoNone, nullptr, tops.data(), nullptr, nullptr);
        FSCloseIterator(it);
        QCOMPARE(int(n), count);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(FSOpenIterator(&tops[i], kFSIterateFlat, &it), OSStatus(noErr));
            FSGetCatalogInfoBulk(it, 1, &n, nullptr, kFSCatInfoNone, nullptr, &inner[i], nullptr, nullptr);
            FSCloseIterator(it);
            QCOMPARE(int(n), 1);
        }
        for (int i = 0; i < count; ++i) {
            FSCatalogInfo info;
            FSRef file;
            QCOMPARE(FSOpenIterator(&inner[i], kFSIterateFlat, &it), OSStatus(noErr));
            QCOMPARE(FSGetCatalogInfoBulk(it, 4, &n, nullptr, kFSCatInfoDataSizes, &info, &file, nullptr, nullptr), OSStatus(errFSNoMoreItems));
            FSCloseIterator(it);
            const QString name = QString::fromStdString(tops[i].name);
            QCOMPARE(refPath(file) + '=' + QString::number(info.dataLogicalSize), QStringLiteral("%1/%2/g/file=%3").arg(root, name).arg(name.mid(1).toInt() + 1));
        }
    }

    void treeWalk_data()
    {
        QTest::addColumn<int>("workers");
        QTest::addColumn<bool>("countFolders");
        QTest::addColumn<QString>("filter"); // "skip": leave out what is named skip; "paths": keep what is there
        for (auto [tag, workers, folders, filter] : {std::tuple{"one worker", 1, false, ""}, {"a worker per CPU", 0, false, ""}, {"folders counted", 0, true, ""},
                                                     {"a folder left out", 0, true, "skip"}, {"paths of the entries", 0, true, "paths"}})
            QTest::newRow(tag) << workers << folders << QString(filter);
    }
    void treeWalk()
    {
        QFETCH(int, workers);
        QFETCH(bool, countFolders);
        QFETCH(QString, filter);
        QString layout = "d1/skip/inner/f=5000 d2/empty/ d3/up->.. d4/hard=>d1/e1/f1";
        for (int i = 0; i < 600; ++i)
            layout.prepend(QStringLiteral("d%1/e%2/f%3=%3 ").arg(i % 40).arg(i % 7).arg(i));
        const QString root = shared.path(); // one tree for every row
        QVERIFY(QFileInfo::exists(root + "/d4/hard") || makeTree(root, layout));
        const QByteArray top = fs(root) + '/';
        FSWalkOptions options;
        options.maxWorkers = workers;
        options.countFolders = countFolders;
        options.paths = filter == "paths";
        if (filter == "skip")
            options.filter = [](const FSWalkEntry &e) { return std::strcmp(e.name, "skip") != 0; };
        else if (options.paths)
            options.filter = [top](const FSWalkEntry &e) { return lstatSize(QFile::decodeName(top + QByteArray(e.folder, qsizetype(e.folderLength)) + e.name)) >= 0; };
        FSWalkTotals totals;
        const FSRef ref = makeRef(root), file = makeRef(root + "/d1/e1/f1");
        QCOMPARE(FSWalkTree(&ref, options, &totals), OSStatus(noErr));
        QCOMPARE(qint64(totals.bytes), findSum(root, countFolders, filter == "skip" ? "skip" : ""));
        QCOMPARE(totals.workers, workers ? workers : std::min(QThread::idealThreadCount(), kFSWalkMaxWorkers));
        QCOMPARE(totals.skippedFolders, UInt64(0));
        QVERIFY(totals.peakDescriptors <= 1 + kFSWalkDescriptorsPerWorker * totals.workers);
        QCOMPARE(FSWalkTree(&file, options, &totals), OSStatus(errFSNotAFolder));
        QCOMPARE(totals.bytes, UInt64(0));
    }

    // The fast size of a tree is find's sum of its non-folder entries, also through a link to
    // the folder and with a trailing "/"; no folder is left open.
    void folderSize_data()
    {
        QTest::addColumn<QString>("layout");
        QString plain = "zero=0 .hidden/inside=99", wide;
        for (int i = 0; i < 1000; ++i) {
            wide += QStringLiteral(" w/f%1=%2").arg(i).arg(i % 511);
            plain += i < 30 ? QStringLiteral(" a%1/b%2/file%3.txt=%4").arg(i % 3).arg(i % 5).arg(i).arg(i * 37) : "";
        }
        const QString empty = " e1/e2/e3/ e4/", hard = " h/original=777 h/second=>h/original other/third=>h/original";
        const QString links = " target/big=5000 toFolder->target toFile->target/big dangling->/no/such/thing target/loop->..";
        QTest::newRow("wide folder of 1000 files") << wide;
        QTest::newRow("files, empty folders, symbolic and hard links") << plain + empty + links + hard;
    }
    void folderSize()
    {
        QFETCH(QString, layout);
        QVERIFY(makeTree(root + "/tree", layout + " ../alias->tree"));
        const qint64 expected = findSum(root + "/tree");
        const int descriptors = openDescriptors();
        for (const QString &path : {root + "/tree", root + "/alias", root + "/tree/"})
            QCOMPARE(ZVUtility::getFolderSize(path), SizeNumber(quint64(expected)));
        QCOMPARE(openDescriptors(), descriptors);
    }

    void specialPaths()
    {
        // getFolderSize and zvtool folder-size of paths that are no folder; the total of paths,
        // links followed (to the file 1000, to the folder 123), dangling and missing 0.
        QVERIFY(makeTree(root, "t/a=100 t/b/c=23 file=1000 empty/ fileLink->file folderLink->t dangling->gone"));
        QStringList paths{"", root + "/file/below"}, sizes{"none", "none"};
        for (const char *name : {"t", "missing", "t/b", "file", "empty", "fileLink", "folderLink", "dangling"}) {
            paths << root + '/' + name;
            sizes << (ZVUtility::getFolderSize(paths.last()) ? QString::number(*ZVUtility::getFolderSize(paths.last())) : "none");
        }
        QCOMPARE(sizes.join(' '), QStringLiteral("none none 123 none 23 0 0 0 123 none"));
        const TestSupport::Run run = TestSupport::zvtool(QStringList{"folder-size"} + paths);
        QCOMPARE(QString::fromUtf8(run.out), sizes.join('\n') + '\n');
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(TestSupport::zvtool({"folder-size"}).exitCode, 2);
        QCOMPARE(ZVUtility::calculateTotalSizeInArray(paths.mid(2)), SizeNumber(123 + 23 + 1000 + 1000 + 123));
        QCOMPARE(ZVUtility::calculateTotalSizeInArray({}), SizeNumber(0));
    }

    void unreadableFolderAddsNothing()
    {
        // As nobody, so that root's right to read every folder does not hide the case.
        QVERIFY(makeTree(root, "open/a=10 closed/b=20"));
        QVERIFY(QFile::setPermissions(root, QFile::permissions(root) | QFileDevice::ReadOther | QFileDevice::ExeOther));
        QVERIFY(QFile::setPermissions(root + "/closed", QFileDevice::WriteOwner));
        const QVariantMap settings{{"u", QVariantMap{{"Default Exclusion", QVariantMap{{root, true}}}}}};
        QCOMPARE(TestSupport::inChild([&] {
                     return QByteArray::number(ZVUtility::getFolderSize(root).value_or(0)) + ' '
                         + QByteArray::number(ZVUtility::totalSizeOfDefaultExclusionForUserWithExcludedDictionary("u", settings).value_or(0));
                 }, -1, ::geteuid() == 0 ? 65534 : 0),
                 "10 " + QByteArray::number(10 + lstatSize(root + "/open") + lstatSize(root + "/closed")));
    }

    void entriesRemovedDuringTheWalk()
    {
        // What is removed meanwhile may or may not count; what stays counts once.
        QString keep, gone;
        for (int i = 0; i < 100; ++i)
            keep += QStringLiteral(" keep/k%1/f=3").arg(i);
        for (int i = 0; i < 2000; ++i)
            gone += QStringLiteral(" gone/g%1/f%2=7").arg(i / 5).arg(i % 5);
        QVERIFY(makeTree(root, keep));
        const QVariantMap settings{{"u", QVariantMap{{"User specified Exclusion", QVariantMap{{root, true}}}}}};
        const quint64 kept = quint64(findSum(root, true));
        for (int round = 0; round < 3; ++round) {
            QVERIFY(makeTree(root, gone));
            const quint64 doomed = quint64(findSum(root, true)) - kept;
            std::thread remover([&] { removeTree(root + "/gone"); });
            const quint64 fast = ZVUtility::getFolderSize(root).value_or(0);
            const quint64 all = ZVUtility::totalSizeOfUserExclusionForUserWithExcludedDictionary("u", settings).value_or(0);
            remover.join();
            QVERIFY2(fast >= 300 && fast <= 300 + 2000 * 7, qPrintable(QString::number(fast)));
            QVERIFY2(all >= kept && all <= kept + doomed, qPrintable(QString::number(all)));
        }
    }

    void deepTree_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("sideEvery");
        QTest::newRow("chain of 10,000") << 10000 << 1000;
        // A side folder at every level: every level keeps a pending folder while the walk goes
        // down, so the walk reopens folders from anchors far above.
        QTest::newRow("comb of 2,000") << 2000 << 1;
    }
    void deepTree()
    {
        // In a child allowed no more descriptors than the walk's bound: the fast size, the
        // enumerated size of everything (the exclusion totals) and the walk's own counts.
        QFETCH(int, depth);
        QFETCH(int, sideEvery);
        const qint64 expected = makeDeepChain(root, depth, sideEvery, "a-rather-long-folder-name");
        QVERIFY(expected > 0);
        const QVariantMap settings{{"u", QVariantMap{{"User specified Exclusion", QVariantMap{{root, true}}}}}};
        const int bound = 1 + kFSWalkDescriptorsPerWorker * std::min(QThread::idealThreadCount(), kFSWalkMaxWorkers);
        const QByteArray sizes = TestSupport::inChild([&] {
            FSWalkTotals totals;
            const FSRef ref = makeRef(root);
            const OSStatus status = FSWalkTree(&ref, FSWalkOptions(), &totals);
            return QStringLiteral("%1 %2 %3 %4 %5 %6").arg(ZVUtility::getFolderSize(root).value_or(0))
                .arg(ZVUtility::totalSizeOfUserExclusionForUserWithExcludedDictionary("u", settings).value_or(0))
                .arg(status).arg(totals.bytes).arg(totals.skippedFolders).arg(totals.peakDescriptors <= bound).toUtf8();
        }, bound);
        QCOMPARE(sizes, QStringLiteral("%1 %2 0 %1 0 1").arg(expected).arg(findSum(root, true)).toUtf8());
    }

    void rootIsUsedSpace()
    {
        // df's "Used"; other programs write to this file system meanwhile: within 1%.
        const SizeNumber size = ZVUtility::getFolderSize(QStringLiteral("/"));
        const qint64 used = TestSupport::runProgram("df", {"-B1", "--output=used", "/"}).out.split('\n').value(1).trimmed().toLongLong();
        QVERIFY(size && used > 0);
        QVERIFY2(qAbs(qint64(*size) - used) <= used / 100, qPrintable(QStringLiteral("%1, df %2").arg(*size).arg(used)));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--overlay-child") == 0)
        return overlayChild();
    QCoreApplication app(argc, argv);
    programPath = QCoreApplication::applicationFilePath();
    Sizes test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Sizes.moc"
