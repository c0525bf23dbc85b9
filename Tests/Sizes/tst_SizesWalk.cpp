// The File Manager layer (references, catalog iteration in batches, the parallel tree walk)
// and the fast folder size built on it, on real trees in a temp folder, measured with find.
#include "Files.h"
#include "SizesTrees.h"
#include "ZVUtility.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <thread>

using namespace SizesTrees;
using SizeNumber = ZVUtility::SizeNumber;

namespace {

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

class SizesWalk : public SizesTrees::TreeFixture {
    Q_OBJECT
    QTemporaryDir shared;

private slots:
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

    void fileSystemRepresentation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bufferSize");
        QTest::addColumn<QByteArray>("bytes"); // null: refused
        for (auto [tag, text, size, bytes] : {std::tuple{"plain", "/a/b", 16, "/a/b"}, {"exact fit", "/a/b", 5, "/a/b"}, {"one short", "/a/b", 4, nullptr},
                                              {"utf-8", "/Fotos/Mädchen", 32, "/Fotos/M\xc3\xa4""dchen"}, {"empty", "", 1, ""}})
            QTest::newRow(tag) << QString(text) << size << (bytes ? QByteArray(bytes) : QByteArray());
        QTest::newRow("null") << QString() << 16 << QByteArray();
        QTest::newRow("NUL inside") << QStringLiteral("/a") + QChar(0) + QStringLiteral("b") << 16 << QByteArray();
    }
    void fileSystemRepresentation()
    {
        QFETCH(QString, text);
        QFETCH(int, bufferSize);
        QFETCH(QByteArray, bytes);
        QVERIFY(CFStringGetMaximumSizeOfFileSystemRepresentation(text) > CFIndex(QFile::encodeName(text).size()));
        QByteArray buffer(bufferSize, '\x7f');
        QCOMPARE(CFStringGetFileSystemRepresentation(text, buffer.data(), bufferSize), !bytes.isNull());
        QCOMPARE(bytes.isNull() ? QByteArray() : QByteArray(buffer.constData()), bytes);
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
        QCOMPARE(findSum(root), expected); // paths far beyond PATH_MAX are in the tree
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

QTEST_GUILESS_MAIN(SizesWalk)
#include "tst_SizesWalk.moc"
