// The slow walks with and without exclusions, the exclusion tests, and the small questions
// about local paths (read permission along the path, writable, empty, removal, presence).
#include "SizesTrees.h"
#include "ZVUtility.h"

#include <QTemporaryDir>
#include <QtTest>
#include <sys/wait.h>

using namespace SizesTrees;

namespace {

const QString kUser = QStringLiteral("alice");

QVariantMap settingsFor(const QVariantMap &user, const QVariantMap &defaults, const QVariant &hiddenKey = {})
{
    QVariantMap userDictionary{{QStringLiteral("User specified Exclusion"), user},
                               {QStringLiteral("Default Exclusion"), defaults}};
    QVariantMap settings{{kUser, userDictionary}};
    if (hiddenKey.isValid())
        settings.insert(QStringLiteral("enableExcludeHiddenFilesKey"), hiddenKey);
    return settings;
}

// Runs CHECK in a child process as the user nobody; its answer, or -1 when that fails.
int asNobody(const std::function<bool()> &check)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        ::_exit(check() ? 1 : 0);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

class SizesExclusions : public QObject {
    Q_OBJECT

private slots:
    void slowWalkCountsEveryEntry()
    {
        // 1000-byte file + empty sub-folder: the folder entry's own size counts too.
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("t/file"), 1000));
        QVERIFY(QDir().mkpath(dir.filePath("t/sub")));
        QVERIFY(makeSymlink(QStringLiteral("file"), dir.filePath("t/link")));
        const quint64 expected = 1000 + lstatSize(dir.filePath("t/sub")) + lstatSize(dir.filePath("t/link"));
        QCOMPARE(ZVUtility::calculateSizeOfFile(dir.filePath("t")), ZVUtility::SizeNumber(expected));
        // The fast walk counts no folders.
        QCOMPARE(ZVUtility::getFolderSize(dir.filePath("t")), ZVUtility::SizeNumber(1000 + lstatSize(dir.filePath("t/link"))));
        // Not a folder: its own size, following a link; 0 when missing.
        QCOMPARE(ZVUtility::calculateSizeOfFile(dir.filePath("t/file")), ZVUtility::SizeNumber(1000));
        QCOMPARE(ZVUtility::calculateSizeOfFile(dir.filePath("t/link")), ZVUtility::SizeNumber(1000));
        QCOMPARE(ZVUtility::calculateSizeOfFile(dir.filePath("missing")), ZVUtility::SizeNumber(0));
    }

    void slowWalkPausesPerEntry()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 20; ++i)
            QVERIFY(makeFile(dir.filePath(QStringLiteral("t/f%1").arg(i)), 1));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(ZVUtility::calculateSizeOfFile(dir.filePath("t")), ZVUtility::SizeNumber(20));
        QVERIFY2(timer.elapsed() >= 200, "20 entries pause 10 ms each"); // a lower bound only
    }

    void exclusionWalk_data()
    {
        QTest::addColumn<bool>("musicExcluded");
        QTest::addColumn<QVariant>("hiddenKey");
        QTest::addColumn<QStringList>("counted");
        const QStringList all{"Docs", "Docs/a", "Music", "Music/m", "Music/deep", "Music/deep/x", "MusicOld",
                              "MusicOld/o", ".secret", ".secret/s", "Docs/.dot"};
        const QStringList noMusic{"Docs", "Docs/a", ".secret", ".secret/s", "Docs/.dot"};
        const QStringList noMusicNoHidden{"Docs", "Docs/a"};
        QTest::newRow("Music in force, hidden key missing") << true << QVariant() << noMusicNoHidden;
        QTest::newRow("Music in force, hidden key true") << true << QVariant(true) << noMusicNoHidden;
        QTest::newRow("Music in force, hidden key false") << true << QVariant(false) << noMusic;
        QTest::newRow("Music not in force, hidden key false") << false << QVariant(false) << all;
    }

    void exclusionWalk()
    {
        QFETCH(bool, musicExcluded);
        QFETCH(QVariant, hiddenKey);
        QFETCH(QStringList, counted);
        QTemporaryDir dir;
        const QString home = dir.filePath("alice");
        QVERIFY(makeFile(home + "/Docs/a", 11));
        QVERIFY(makeFile(home + "/Docs/.dot", 13));
        QVERIFY(makeFile(home + "/Music/m", 101));
        QVERIFY(makeFile(home + "/Music/deep/x", 103));
        QVERIFY(makeFile(home + "/MusicOld/o", 107)); // the key is a plain text prefix
        QVERIFY(makeFile(home + "/.secret/s", 109));
        quint64 expected = 0;
        for (const QString &entry : counted)
            expected += lstatSize(home + "/" + entry);
        const QVariantMap settings = settingsFor({{home + "/Music", musicExcluded}}, {{home + "/Docs", true}}, hiddenKey);
        QCOMPARE(ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary(home, kUser, settings),
                 ZVUtility::formatedFileSizeAsString(expected));
    }

    void exclusionWalkOtherUserAndFiles()
    {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("h/Music/m"), 50));
        QVERIFY(makeFile(dir.filePath("h/file"), 7));
        const QVariantMap settings = settingsFor({{dir.filePath("h/Music"), true}}, {});
        // Another user's settings exclude nothing here.
        const quint64 all = 57 + lstatSize(dir.filePath("h/Music"));
        QCOMPARE(ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary(dir.filePath("h"), "bob", settings),
                 ZVUtility::formatedFileSizeAsString(all));
        // A file is measured as it is, exclusions or not.
        QCOMPARE(ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary(dir.filePath("h/Music/m"), kUser, settings),
                 ZVUtility::formatedFileSizeAsString(50));
        QCOMPARE(ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary(dir.filePath("none"), kUser, settings),
                 ZVUtility::formatedFileSizeAsString(0));
    }

    void exclusionTotals()
    {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("u/a/x"), 10));
        QVERIFY(makeFile(dir.filePath("u/a/b/y"), 20));
        QVERIFY(makeFile(dir.filePath("u/file"), 300));
        QVERIFY(makeFile(dir.filePath("u/.hidden/z"), 4000)); // no exclusion test in the totals
        QVERIFY(makeSymlink(dir.filePath("u/file"), dir.filePath("u/fileLink")));
        const quint64 folderA = 30 + lstatSize(dir.filePath("u/a/b"));
        const quint64 hidden = 4000;
        const QVariantMap user{{dir.filePath("u/a"), true},
                               {dir.filePath("u/a/b"), true}, // overlaps: counted again
                               {dir.filePath("u/file"), false},
                               {dir.filePath("u/fileLink"), true}, // followed: 300
                               {dir.filePath("u/missing"), true}};
        const QVariantMap defaults{{dir.filePath("u/.hidden"), true}, {dir.filePath("u/file"), true}};
        const QVariantMap settings = settingsFor(user, defaults, true);
        QCOMPARE(ZVUtility::totalSizeOfUserExclusionForUserWithExcludedDictionary(kUser, settings),
                 ZVUtility::SizeNumber(folderA + 20 + 300));
        QCOMPARE(ZVUtility::totalSizeOfDefaultExclusionForUserWithExcludedDictionary(kUser, settings),
                 ZVUtility::SizeNumber(hidden + 300));
        QCOMPARE(ZVUtility::totalSizeOfUserExclusionForUserWithExcludedDictionary(QString(), settings),
                 ZVUtility::SizeNumber(0));
        QCOMPARE(ZVUtility::totalSizeOfDefaultExclusionForUserWithExcludedDictionary(kUser, {}),
                 ZVUtility::SizeNumber(0));
        QCOMPARE(ZVUtility::totalSizeOfDefaultExclusionForUserWithExcludedDictionary("bob", settings),
                 ZVUtility::SizeNumber(0));
    }

    void rootSubtractionNeverWraps()
    {
        // A sparse file far larger than what "/" uses, named as an exclusion.
        QTemporaryDir dir;
        QFile huge(dir.filePath("huge"));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        QVERIFY(huge.resize(qint64(8) << 40)); // 8 TiB, no blocks
        huge.close();
        const QVariantMap settings = settingsFor({}, {{dir.filePath("huge"), true}});
        QCOMPARE(ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary("/", kUser, settings),
                 ZVUtility::formatedFileSizeAsString(0));
        // Without exclusions "/" is its used space (within what others write meanwhile).
        const QString plain = ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary("/", kUser, {});
        QVERIFY(plain != ZVUtility::formatedFileSizeAsString(0));
    }

    void userExclusionTest_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QVariantMap>("exclusions");
        QTest::addColumn<bool>("excluded");
        const QVariantMap music{{"/Users/a/Music", true}, {"/Users/a/Doc", true}, {"/Users/a/Off", false}};
        QTest::newRow("the key itself") << "/Users/a/Music" << music << true;
        QTest::newRow("below the key") << "/Users/a/Music/x/y" << music << true;
        QTest::newRow("plain text prefix") << "/Users/a/Documents" << music << true;
        QTest::newRow("not in force") << "/Users/a/Office" << music << false;
        QTest::newRow("unrelated") << "/Users/a/Pictures" << music << false;
        QTest::newRow("shorter than the key") << "/Users/a/Mus" << music << false;
        QTest::newRow("empty key excludes nothing") << "/x" << QVariantMap{{"", true}} << false;
        QTest::newRow("no exclusions") << "/x" << QVariantMap() << false;
    }

    void userExclusionTest()
    {
        QFETCH(QString, path);
        QFETCH(QVariantMap, exclusions);
        QFETCH(bool, excluded);
        const QVariantMap dictionary{{"User specified Exclusion", exclusions}, {"Default Exclusion", exclusions}};
        QCOMPARE(ZVUtility::shouldExcludeUserFileUserDictionary(path, dictionary), excluded);
        // Only the user's own list counts.
        QVERIFY(!ZVUtility::shouldExcludeUserFileUserDictionary(path, {{"Default Exclusion", exclusions}}));
    }

    void hiddenTest_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("plain") << "/Users/a/Docs/file" << false;
        QTest::newRow("hidden file") << "/Users/a/.profile" << true;
        QTest::newRow("inside a hidden folder") << "/Users/a/.Trash/old/file" << true;
        QTest::newRow("dot and dot-dot are no hidden names") << "/Users/a/./b/../c" << false;
        QTest::newRow("dot inside a name") << "/Users/a/file.txt" << false;
        QTest::newRow("relative") << ".config/x" << true;
        QTest::newRow("empty") << "" << false;
    }

    void hiddenTest()
    {
        QFETCH(QString, path);
        QFETCH(bool, hidden);
        QCOMPARE(ZVUtility::isChildOfHiddenFolder(path), hidden);
        QCOMPARE(ZVUtility::shouldExcludeHiddenFileUserDictionary(path, {}), hidden);
        QCOMPARE(ZVUtility::shouldExcludeHiddenFileUserDictionary(path, {{"enableExcludeHiddenFilesKey", true}}), hidden);
        QCOMPARE(ZVUtility::shouldExcludeHiddenFileUserDictionary(path, {{"enableExcludeHiddenFilesKey", false}}), false);
    }

    void filterUndeletable()
    {
        QStringList paths{"/a/b.txt", "/a/x=y", "/a/../b", "/c;rm", "./here", "/d/e", "/f/..g", "/g/h."};
        ZVUtility::filterUndeletableFiles(paths);
        QCOMPARE(paths, (QStringList{"/a/b.txt", "/d/e", "/g/h."}));
        QStringList empty;
        ZVUtility::filterUndeletableFiles(empty);
        QVERIFY(empty.isEmpty());
    }

    void permissionsAlongThePath()
    {
        if (::geteuid() != 0)
            QSKIP("the checks run as the user nobody, which needs root to switch to");
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                      | QFileDevice::ReadOther | QFileDevice::ExeOther));
        QVERIFY(makeFile(dir.filePath("open/file"), 1));
        QVERIFY(makeFile(dir.filePath("closed/file"), 1));
        QVERIFY(QFile::setPermissions(dir.filePath("closed"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QVERIFY(makeFile(dir.filePath("writable"), 1));
        QVERIFY(QFile::setPermissions(dir.filePath("writable"), QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ReadOwner));
        QVERIFY(makeFile(dir.filePath("writeOnly"), 1));
        QVERIFY(QFile::setPermissions(dir.filePath("writeOnly"), QFileDevice::WriteOther | QFileDevice::ReadOwner));
        const QString open = dir.filePath("open/file"), closed = dir.filePath("closed/file");
        QCOMPARE(asNobody([&] { return ZVUtility::hasReadPermissionForFile(open); }), 1);
        QCOMPARE(asNobody([&] { return ZVUtility::hasReadPermissionForFile(closed); }), 0);
        // Prefixes that do not exist are passed over.
        QCOMPARE(asNobody([&] { return ZVUtility::hasReadPermissionForFile(open + "/not/there"); }), 1);
        const QString writable = dir.filePath("writable"), writeOnly = dir.filePath("writeOnly");
        // The file itself is judged: one that only its owner can read gives false.
        QCOMPARE(asNobody([&] { return ZVUtility::hasReadPermissionForFile(writeOnly); }), 0);
        QCOMPARE(asNobody([&] { return ZVUtility::hasReadPermissionForFile(writable); }), 1);
        QCOMPARE(asNobody([&] { return ZVUtility::isWritableFileAtPath(writable); }), 1);
        QCOMPARE(asNobody([&] { return ZVUtility::isWritableFileAtPath(writeOnly); }), 0);
        QCOMPARE(asNobody([&] { return ZVUtility::isWritableFileAtPath(open); }), 0);
        QVERIFY(!ZVUtility::isWritableFileAtPath(dir.filePath("missing")));
    }

    void emptyAndRemove()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("empty")));
        QVERIFY(makeFile(dir.filePath("full/.only-hidden"), 1));
        QVERIFY(makeFile(dir.filePath("file"), 1));
        QVERIFY(ZVUtility::isEmptyFolder(dir.filePath("empty")));
        QVERIFY(!ZVUtility::isEmptyFolder(dir.filePath("full")));
        QVERIFY(ZVUtility::isEmptyFolder(dir.filePath("missing")));
        QVERIFY(ZVUtility::isEmptyFolder(dir.filePath("file")));

        QVERIFY(makeFile(dir.filePath("keep/precious"), 5));
        QVERIFY(makeFile(dir.filePath("gone/sub/x"), 5));
        QVERIFY(makeSymlink(dir.filePath("keep"), dir.filePath("gone/linkToKeep")));
        QVERIFY(makeSymlink(dir.filePath("keep"), dir.filePath("alias")));
        ZVUtility::removeFolder(dir.filePath("gone"));
        QVERIFY(!QFileInfo::exists(dir.filePath("gone")));
        QVERIFY(QFileInfo::exists(dir.filePath("keep/precious"))); // links are removed, not followed
        ZVUtility::removeFolder(dir.filePath("alias"));
        QVERIFY(!QFileInfo(dir.filePath("alias")).isSymLink());
        QVERIFY(QFileInfo::exists(dir.filePath("keep/precious")));

        // "." and ".." are refused, relative to the current folder.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.filePath("keep")));
        ZVUtility::removeFolder(QStringLiteral("."));
        ZVUtility::removeFolder(QStringLiteral(".."));
        QDir::setCurrent(before);
        QVERIFY(QFileInfo::exists(dir.filePath("keep/precious")));
        QVERIFY(QFileInfo::exists(dir.filePath("file")));
    }

    void existsForAutoSync_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("exists");
        QTest::newRow("file") << "file" << true;
        QTest::newRow("folder") << "folder" << true;
        QTest::newRow("missing") << "missing" << false;
        QTest::newRow("below a file") << "file/x" << false;
        QTest::newRow("dangling link") << "dangling" << false;
        QTest::newRow("link loop: resolving fails otherwise") << "loop" << true;
    }

    void existsForAutoSync()
    {
        QFETCH(QString, name);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("file"), 1));
        QVERIFY(QDir().mkpath(dir.filePath("folder")));
        QVERIFY(makeSymlink(dir.filePath("nothing"), dir.filePath("dangling")));
        QVERIFY(makeSymlink(dir.filePath("loop"), dir.filePath("loop")));
        QCOMPARE(ZVUtility::isFileExistsForAutoSync(dir.filePath(name)), exists);
        QVERIFY(!ZVUtility::isFileExistsForAutoSync(QString()));
        QVERIFY(!ZVUtility::isFileExistsForAutoSync(QStringLiteral("")));
    }

    void preferencePath()
    {
        const QByteArray saved = qgetenv("HOME");
        qputenv("HOME", "/home/somebody");
        const QString path = ZVUtility::userPreferencePath();
        qputenv("HOME", saved);
        QCOMPARE(path, QStringLiteral("/home/somebody/Library/Preferences/"));
    }
};

QTEST_GUILESS_MAIN(SizesExclusions)
#include "tst_SizesExclusions.moc"
