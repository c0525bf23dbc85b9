// The fast folder size: getFolderSize / fastFolderSizeAtFSRef against find on real trees,
// deep trees, volume paths, calculateTotalSizeInArray and zvtool folder-size.
#include "Files.h"
#include "SizesTrees.h"
#include "ZVUtility.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <sys/statvfs.h>
#include <thread>

using namespace SizesTrees;

namespace {

// df's "Used" of the file system holding PATH, from the df program itself.
qint64 dfUsed(const QString &path)
{
    QProcess df;
    df.start(QStringLiteral("df"), {QStringLiteral("-B1"), QStringLiteral("--output=used"), path});
    if (!df.waitForFinished(30000) || df.exitCode() != 0)
        return -1;
    const QList<QByteArray> lines = df.readAllStandardOutput().trimmed().split('\n');
    return lines.size() == 2 ? lines[1].trimmed().toLongLong() : -1;
}

} // namespace

class SizesFolderSize : public QObject {
    Q_OBJECT

private slots:
    void equalsFindSum_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("files and folders") << "plain";
        QTest::newRow("empty folders only") << "empty";
        QTest::newRow("symbolic links") << "links";
        QTest::newRow("hard links") << "hard";
        QTest::newRow("wide folder of 1000 files") << "wide";
        QTest::newRow("everything") << "mixed";
    }

    void equalsFindSum()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString root = dir.filePath("tree");
        QVERIFY(QDir().mkpath(root));
        const bool all = kind == QLatin1String("mixed");
        if (kind == QLatin1String("plain") || all) {
            for (int i = 0; i < 30; ++i)
                QVERIFY(makeFile(root + QStringLiteral("/a%1/b%2/file%3.txt").arg(i % 3).arg(i % 5).arg(i), i * 37));
            QVERIFY(makeFile(root + "/zero", 0));
            QVERIFY(makeFile(root + "/.hidden/inside", 99));
        }
        if (kind == QLatin1String("empty") || all) {
            QVERIFY(QDir().mkpath(root + "/e1/e2/e3"));
            QVERIFY(QDir().mkpath(root + "/e4"));
        }
        if (kind == QLatin1String("links") || all) {
            QVERIFY(makeFile(root + "/target/big", 5000));
            QVERIFY(makeSymlink(root + "/target", root + "/toFolder"));      // not followed
            QVERIFY(makeSymlink(QStringLiteral("target/big"), root + "/toFile"));
            QVERIFY(makeSymlink(QStringLiteral("/no/such/thing"), root + "/dangling"));
            QVERIFY(makeSymlink(QStringLiteral(".."), root + "/target/loop"));
        }
        if (kind == QLatin1String("hard") || all) {
            QVERIFY(makeFile(root + "/h/original", 777));
            QVERIFY(makeHardLink(root + "/h/original", root + "/h/second"));
            QVERIFY(QDir().mkpath(root + "/other"));
            QVERIFY(makeHardLink(root + "/h/original", root + "/other/third"));
        }
        if (kind == QLatin1String("wide")) {
            for (int i = 0; i < 1000; ++i)
                QVERIFY(makeFile(root + QStringLiteral("/w/f%1").arg(i), i % 511));
        }
        const qint64 expected = findSum(root);
        QVERIFY(expected >= 0);
        QCOMPARE(ZVUtility::getFolderSize(root), ZVUtility::SizeNumber(quint64(expected)));
        // Through a link to the folder and with a trailing "/", the same tree.
        QVERIFY(makeSymlink(root, dir.filePath("alias")));
        QCOMPARE(ZVUtility::getFolderSize(dir.filePath("alias")), ZVUtility::SizeNumber(quint64(expected)));
        QCOMPARE(ZVUtility::getFolderSize(root + "/"), ZVUtility::SizeNumber(quint64(expected)));
    }

    void specialPaths()
    {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("file"), 4321));
        QCOMPARE(ZVUtility::getFolderSize(dir.filePath("missing")), ZVUtility::SizeNumber());
        QCOMPARE(ZVUtility::getFolderSize(QString()), ZVUtility::SizeNumber());
        QCOMPARE(ZVUtility::getFolderSize(dir.filePath("file/below")), ZVUtility::SizeNumber());
        // A file resolves but is no folder to iterate.
        QCOMPARE(ZVUtility::getFolderSize(dir.filePath("file")), ZVUtility::SizeNumber(0));
        QVERIFY(QDir().mkpath(dir.filePath("empty")));
        QCOMPARE(ZVUtility::getFolderSize(dir.filePath("empty")), ZVUtility::SizeNumber(0));
    }

    void unreadableFolderAddsNothing()
    {
        // As nobody, so that root's right to read every folder does not hide the case.
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("open/a"), 10));
        QVERIFY(makeFile(dir.filePath("closed/b"), 20));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFileDevice::ReadOther | QFileDevice::ExeOther));
        QVERIFY(QFile::setPermissions(dir.filePath("closed"), QFileDevice::WriteOwner));
        const qint64 closedFolder = lstatSize(dir.filePath("closed"));
        const QVariantMap settings{{"u", QVariantMap{{"Default Exclusion", QVariantMap{{dir.path(), true}}}}}};
        const QList<quint64> sizes = inChild(
            [&] {
                return QList<quint64>{ZVUtility::getFolderSize(dir.path()).value_or(0),
                                      ZVUtility::totalSizeOfDefaultExclusionForUserWithExcludedDictionary("u", settings).value_or(0)};
            },
            -1, ::geteuid() == 0);
        QCOMPARE(sizes, (QList<quint64>{10, quint64(10 + lstatSize(dir.filePath("open")) + closedFolder)}));
        QFile::setPermissions(dir.filePath("closed"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void entriesRemovedDuringTheWalk()
    {
        // What is removed meanwhile may or may not count; what stays counts once.
        QTemporaryDir dir;
        for (int i = 0; i < 100; ++i)
            QVERIFY(makeFile(dir.filePath(QStringLiteral("keep/k%1/f").arg(i)), 3));
        const QVariantMap settings{{"u", QVariantMap{{"User specified Exclusion", QVariantMap{{dir.path(), true}}}}}};
        const quint64 kept = quint64(findSum(dir.path(), true));
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 400; ++i) {
                for (int j = 0; j < 5; ++j)
                    QVERIFY(makeFile(dir.filePath(QStringLiteral("gone/g%1/f%2").arg(i).arg(j)), 7));
            }
            const quint64 doomed = quint64(findSum(dir.path(), true)) - kept;
            std::thread remover([&] { removeTree(dir.filePath("gone")); });
            const quint64 fast = ZVUtility::getFolderSize(dir.path()).value_or(0);
            const quint64 all = ZVUtility::totalSizeOfUserExclusionForUserWithExcludedDictionary("u", settings).value_or(0);
            remover.join();
            QVERIFY2(fast >= 300 && fast <= 300 + 400 * 5 * 7, qPrintable(QString::number(fast)));
            QVERIFY2(all >= kept && all <= kept + doomed, qPrintable(QString::number(all)));
        }
    }

    void deepTree_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("sideEvery");
        QTest::newRow("chain of 10,000") << 10000 << 1000;
        // A side folder at every level: every level keeps a pending folder while the walk
        // goes down, so the walk reopens folders from anchors far above.
        QTest::newRow("comb of 2,000") << 2000 << 1;
    }

    void deepTree()
    {
        // In a child allowed no more descriptors than the walk's bound: the fast size, the
        // enumerated size of everything (the exclusion totals) and the walk's own counts.
        QFETCH(int, depth);
        QFETCH(int, sideEvery);
        QTemporaryDir dir;
        const QString root = dir.filePath("deep");
        QVERIFY(QDir().mkpath(root));
        TreeGuard guard{root};
        const qint64 expected = makeDeepChain(root, depth, sideEvery, "a-rather-long-folder-name");
        QVERIFY(expected > 0);
        QCOMPARE(findSum(root), expected); // paths far beyond PATH_MAX are in the tree
        const QVariantMap settings{{"u", QVariantMap{{"User specified Exclusion", QVariantMap{{root, true}}}}}};
        const int bound = 1 + kFSWalkDescriptorsPerWorker * std::min(QThread::idealThreadCount(), kFSWalkMaxWorkers);
        const QList<quint64> sizes = inChild(
            [&] {
                FSRef ref;
                FSWalkTotals totals;
                if (FSPathMakeRef(reinterpret_cast<const UInt8 *>(fs(root).constData()), &ref, nullptr) != noErr
                    || FSWalkTree(&ref, FSWalkOptions(), &totals) != noErr)
                    return QList<quint64>();
                return QList<quint64>{ZVUtility::getFolderSize(root).value_or(0),
                                      ZVUtility::totalSizeOfUserExclusionForUserWithExcludedDictionary("u", settings).value_or(0),
                                      totals.bytes, totals.skippedFolders, quint64(totals.peakDescriptors <= bound)};
            },
            bound);
        const quint64 e = quint64(expected);
        QCOMPARE(sizes, (QList<quint64>{e, quint64(findSum(root, true)), e, 0, 1}));
    }

    void noFolderLeftOpen()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 300; ++i)
            QVERIFY(makeFile(dir.filePath(QStringLiteral("a%1/b/c").arg(i)), 1));
        const int before = QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size();
        QCOMPARE(ZVUtility::getFolderSize(dir.path()), ZVUtility::SizeNumber(300));
        QCOMPARE(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size(), before);
    }

    void rootIsUsedSpace()
    {
        // Other programs write to this file system meanwhile: compare within 1%.
        const ZVUtility::SizeNumber size = ZVUtility::getFolderSize(QStringLiteral("/"));
        const qint64 used = dfUsed(QStringLiteral("/"));
        QVERIFY(size.has_value());
        QVERIFY(used > 0);
        QVERIFY2(qAbs(qint64(*size) - used) <= used / 100,
                 qPrintable(QStringLiteral("getFolderSize(/) %1, df %2").arg(*size).arg(used)));
    }

    void totalSizeInArray()
    {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("folder/a"), 100));
        QVERIFY(makeFile(dir.filePath("folder/sub/b"), 23));
        QVERIFY(makeFile(dir.filePath("file"), 1000));
        QVERIFY(makeSymlink(dir.filePath("file"), dir.filePath("fileLink")));     // followed: 1000
        QVERIFY(makeSymlink(dir.filePath("folder"), dir.filePath("folderLink"))); // followed: 123
        QVERIFY(makeSymlink(dir.filePath("gone"), dir.filePath("dangling")));     // missing: 0
        const QStringList paths{dir.filePath("folder"), dir.filePath("file"), dir.filePath("fileLink"),
                                dir.filePath("folderLink"), dir.filePath("dangling"), dir.filePath("missing")};
        QCOMPARE(ZVUtility::calculateTotalSizeInArray(paths), ZVUtility::SizeNumber(123 + 1000 + 1000 + 123));
        QCOMPARE(ZVUtility::calculateTotalSizeInArray({}), ZVUtility::SizeNumber(0));
    }

    void zvtoolFolderSize()
    {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("t/a"), 10));
        QVERIFY(makeFile(dir.filePath("t/b/c"), 5));
        const QString zvtool = TestSupport::binaryDir() + "/bin/zvtool";
        QProcess p;
        p.start(zvtool, {QStringLiteral("folder-size"), dir.filePath("t"), dir.filePath("missing"), dir.filePath("t/b")});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.readAllStandardOutput(), QByteArray("15\nnone\n5\n"));
        p.start(zvtool, {QStringLiteral("folder-size")});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(SizesFolderSize)
#include "tst_SizesFolderSize.moc"
