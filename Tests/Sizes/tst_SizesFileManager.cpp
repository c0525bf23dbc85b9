// The File Manager layer: references, flat catalog iteration in batches, and the file-system
// representation of paths.
#include "Files.h"
#include "SizesTrees.h"

#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace SizesTrees;

namespace {

QString refPath(const FSRef &ref)
{
    QByteArray buffer(1 << 16, 0);
    if (FSRefMakePath(&ref, reinterpret_cast<UInt8 *>(buffer.data()), UInt32(buffer.size())) != noErr)
        return QString();
    return QFile::decodeName(buffer.constData());
}

FSRef makeRef(const QString &path, OSStatus *status = nullptr)
{
    FSRef ref;
    const OSStatus s = FSPathMakeRef(reinterpret_cast<const UInt8 *>(fs(path).constData()), &ref, nullptr);
    if (status)
        *status = s;
    return ref;
}

struct Item {
    QString path;
    bool isFolder;
    quint64 size;
    quint64 rsrc;
    QString name;
};

// Reads the whole folder through the iterator in batches of BATCH, recording the batch
// counts and statuses.
QList<Item> readAll(const FSRef &folder, ItemCount batch, QList<QPair<ItemCount, OSStatus>> *batches)
{
    QList<Item> items;
    FSIterator it = nullptr;
    if (FSOpenIterator(&folder, kFSIterateFlat, &it) != noErr)
        return items;
    std::vector<FSCatalogInfo> infos(batch);
    std::vector<FSRef> refs(batch);
    std::vector<HFSUniStr255> names(batch);
    for (int guard = 0; guard < 100000; ++guard) {
        ItemCount n = 999;
        const OSStatus s = FSGetCatalogInfoBulk(it, batch, &n, nullptr,
                                                kFSCatInfoNodeFlags | kFSCatInfoDataSizes | kFSCatInfoRsrcSizes,
                                                infos.data(), refs.data(), nullptr, names.data());
        batches->append({n, s});
        for (ItemCount i = 0; i < n; ++i)
            items.append({refPath(refs[i]), (infos[i].nodeFlags & kFSNodeIsDirectoryMask) != 0,
                          infos[i].dataLogicalSize, infos[i].rsrcLogicalSize,
                          QString::fromUtf16(reinterpret_cast<const char16_t *>(names[i].unicode), names[i].length)});
        if (s != noErr)
            break;
    }
    FSCloseIterator(it);
    return items;
}

} // namespace

class SizesFileManager : public QObject {
    Q_OBJECT

private slots:
    void pathRefs()
    {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("real/file"), 3));
        QVERIFY(makeSymlink(dir.filePath("real"), dir.filePath("alias")));
        OSStatus status = 0;
        const FSRef ref = makeRef(dir.filePath("alias/file"), &status);
        QCOMPARE(status, OSStatus(noErr));
        QCOMPARE(refPath(ref), QFileInfo(dir.filePath("real/file")).canonicalFilePath());
        makeRef(dir.filePath("missing"), &status);
        QCOMPARE(status, OSStatus(fnfErr));
        makeRef(dir.filePath("real/file/below"), &status);
        QCOMPARE(status, OSStatus(fnfErr));
        QByteArray tiny(4, 0);
        QCOMPARE(FSRefMakePath(&ref, reinterpret_cast<UInt8 *>(tiny.data()), UInt32(tiny.size())),
                 OSStatus(pathTooLongErr));
    }

    void batches_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("batch");
        QTest::addColumn<QList<int>>("counts");
        QTest::addColumn<QList<int>>("statuses");
        QTest::newRow("empty folder") << 0 << 256 << QList<int>{0} << QList<int>{errFSNoMoreItems};
        QTest::newRow("600 in 256s") << 600 << 256 << QList<int>{256, 256, 88}
                                     << QList<int>{noErr, noErr, errFSNoMoreItems};
        QTest::newRow("exactly 256") << 256 << 256 << QList<int>{256, 0} << QList<int>{noErr, errFSNoMoreItems};
        QTest::newRow("batches of 1") << 3 << 1 << QList<int>{1, 1, 1, 0}
                                      << QList<int>{noErr, noErr, noErr, errFSNoMoreItems};
    }

    void batches()
    {
        QFETCH(int, files);
        QFETCH(int, batch);
        QFETCH(QList<int>, counts);
        QFETCH(QList<int>, statuses);
        QTemporaryDir dir;
        QDir().mkpath(dir.path());
        QSet<QString> expected;
        for (int i = 0; i < files; ++i) {
            const QString name = QStringLiteral("file-%1").arg(i);
            QVERIFY(makeFile(dir.filePath(name), i % 300));
            expected.insert(name);
        }
        QList<QPair<ItemCount, OSStatus>> seen;
        const QList<Item> items = readAll(makeRef(dir.path()), ItemCount(batch), &seen);
        QCOMPARE(seen.size(), counts.size());
        for (int i = 0; i < seen.size(); ++i) {
            QCOMPARE(int(seen[i].first), counts[i]);
            QCOMPARE(int(seen[i].second), statuses[i]);
        }
        QSet<QString> names;
        for (const Item &item : items) {
            names.insert(item.name);
            QCOMPARE(item.path, QFileInfo(dir.filePath(item.name)).absoluteFilePath());
            QCOMPARE(item.size, quint64(item.name.mid(5).toInt() % 300));
            QVERIFY(!item.isFolder);
        }
        QCOMPARE(names, expected);
    }

    void itemKinds()
    {
        // Folders carry the folder flag and no sizes; links are items of their own, not followed.
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("file"), 1234));
        QVERIFY(QDir().mkpath(dir.filePath("folder/inner")));
        QVERIFY(makeSymlink(QStringLiteral("folder"), dir.filePath("folderLink")));
        QVERIFY(makeSymlink(QStringLiteral("nowhere/at/all"), dir.filePath("dangling")));
        QList<QPair<ItemCount, OSStatus>> seen;
        const QList<Item> items = readAll(makeRef(dir.path()), 256, &seen);
        QCOMPARE(items.size(), 4);
        for (const Item &item : items) {
            QCOMPARE(item.rsrc, quint64(0));
            if (item.name == QLatin1String("file")) {
                QVERIFY(!item.isFolder);
                QCOMPARE(item.size, quint64(1234));
            } else if (item.name == QLatin1String("folder")) {
                QVERIFY(item.isFolder);
                QCOMPARE(item.size, quint64(0));
            } else {
                QVERIFY2(!item.isFolder, qPrintable(item.name));
                QCOMPARE(qint64(item.size), lstatSize(dir.filePath(item.name)));
            }
        }
    }

    void iteratorErrors()
    {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("file"), 1));
        QVERIFY(QDir().mkpath(dir.filePath("folder")));
        QVERIFY(makeSymlink(QStringLiteral("folder"), dir.filePath("link")));
        FSIterator it = nullptr;
        FSRef folder = makeRef(dir.path());
        QCOMPARE(FSOpenIterator(&folder, kFSIterateSubtree, &it), OSStatus(errFSBadIteratorFlags));
        FSRef file = makeRef(dir.filePath("file"));
        QCOMPARE(FSOpenIterator(&file, kFSIterateFlat, &it), OSStatus(errFSNotAFolder));
        QCOMPARE(FSCloseIterator(nullptr), OSStatus(errFSIteratorNotFound));

        // A catalog reference to a link is the link: it is not opened as the folder it names.
        QCOMPARE(FSOpenIterator(&folder, kFSIterateFlat, &it), OSStatus(noErr));
        FSCatalogInfo infos[8];
        FSRef refs[8];
        ItemCount n = 0;
        QCOMPARE(FSGetCatalogInfoBulk(it, 8, &n, nullptr, kFSCatInfoNodeFlags, infos, refs, nullptr, nullptr),
                 OSStatus(errFSNoMoreItems));
        QCOMPARE(int(n), 3);
        QCOMPARE(FSGetCatalogInfoBulk(it, 8, &n, nullptr, kFSCatInfoNodeFlags, infos, refs, nullptr, nullptr),
                 OSStatus(errFSNoMoreItems));
        QCOMPARE(int(n), 0);
        QCOMPARE(FSGetCatalogInfoBulk(it, 0, &n, nullptr, kFSCatInfoNodeFlags, infos, refs, nullptr, nullptr),
                 OSStatus(errFSBadItemCount));
        FSCloseIterator(it);
        for (int i = 0; i < 3; ++i) {
            FSIterator child = nullptr;
            const OSStatus s = FSOpenIterator(&refs[i], kFSIterateFlat, &child);
            const QString name = QString::fromStdString(refs[i].name);
            if (name == QLatin1String("folder")) {
                QCOMPARE(s, OSStatus(noErr));
                FSCloseIterator(child);
            } else {
                QCOMPARE(s, OSStatus(errFSNotAFolder));
            }
        }

        // A folder removed after it was listed.
        QVERIFY(QDir(dir.filePath("folder")).removeRecursively());
        for (int i = 0; i < 3; ++i) {
            if (refs[i].name == "folder") {
                FSIterator child = nullptr;
                QCOMPARE(FSOpenIterator(&refs[i], kFSIterateFlat, &child), OSStatus(fnfErr));
            }
        }
    }

    void manyOpenFolders()
    {
        // More folders than the layer keeps open: references to early ones still open later,
        // by name from their parents.
        QTemporaryDir dir;
        const int count = kFSMaxOpenFolders * 3;
        for (int i = 0; i < count; ++i)
            QVERIFY(makeFile(dir.filePath(QStringLiteral("f%1/g/file").arg(i)), i + 1));
        QList<QPair<ItemCount, OSStatus>> seen;
        FSIterator it = nullptr;
        const FSRef root = makeRef(dir.path());
        QCOMPARE(FSOpenIterator(&root, kFSIterateFlat, &it), OSStatus(noErr));
        std::vector<FSRef> tops(size_t(count) + 1);
        ItemCount n = 0;
        FSGetCatalogInfoBulk(it, ItemCount(count) + 1, &n, nullptr, kFSCatInfoNone, nullptr, tops.data(), nullptr,
                             nullptr);
        FSCloseIterator(it);
        QCOMPARE(int(n), count);
        // Open every top folder's "g" reference first (forcing closes), then use them all.
        std::vector<FSRef> inner(n);
        for (ItemCount i = 0; i < n; ++i) {
            FSIterator top = nullptr;
            QCOMPARE(FSOpenIterator(&tops[i], kFSIterateFlat, &top), OSStatus(noErr));
            ItemCount one = 0;
            FSGetCatalogInfoBulk(top, 1, &one, nullptr, kFSCatInfoNone, nullptr, &inner[i], nullptr, nullptr);
            QCOMPARE(int(one), 1);
            FSCloseIterator(top);
        }
        for (ItemCount i = 0; i < n; ++i) {
            const QList<Item> files = readAll(inner[i], 4, &seen);
            QCOMPARE(files.size(), 1);
            const int number = QString::fromStdString(tops[i].name).mid(1).toInt();
            QCOMPARE(files[0].size, quint64(number + 1));
            QCOMPARE(files[0].path, dir.filePath(QStringLiteral("f%1/g/file").arg(number)));
        }
    }

    void treeWalk_data()
    {
        QTest::addColumn<int>("workers");
        QTest::addColumn<bool>("countFolders");
        QTest::addColumn<QString>("filter"); // "": none; "skip": leave out what is named skip; "paths": keep what is there
        QTest::newRow("one worker") << 1 << false << "";
        QTest::newRow("a worker per CPU") << 0 << false << "";
        QTest::newRow("folders counted") << 0 << true << "";
        QTest::newRow("a folder left out") << 0 << true << "skip";
        QTest::newRow("paths of the entries") << 0 << true << "paths";
    }

    void treeWalk()
    {
        QFETCH(int, workers);
        QFETCH(bool, countFolders);
        QFETCH(QString, filter);
        QTemporaryDir dir;
        for (int i = 0; i < 600; ++i)
            QVERIFY(makeFile(dir.filePath(QStringLiteral("d%1/e%2/f%3").arg(i % 40).arg(i % 7).arg(i)), i));
        QVERIFY(makeFile(dir.filePath("d1/skip/inner/f"), 5000));
        QVERIFY(QDir().mkpath(dir.filePath("d2/empty")));
        QVERIFY(makeSymlink(QStringLiteral(".."), dir.filePath("d3/up")));
        QVERIFY(makeHardLink(dir.filePath("d1/e1/f1"), dir.filePath("d4/hard")));
        const QByteArray root = fs(dir.path()) + '/';
        FSWalkOptions options;
        options.maxWorkers = workers;
        options.countFolders = countFolders;
        options.paths = filter == QLatin1String("paths");
        if (filter == QLatin1String("skip"))
            options.filter = [](const FSWalkEntry &e) { return std::strcmp(e.name, "skip") != 0; };
        else if (options.paths)
            options.filter = [root](const FSWalkEntry &e) {
                return lstatSize(QFile::decodeName(root + QByteArray(e.folder, qsizetype(e.folderLength)) + e.name)) >= 0;
            };
        FSWalkTotals totals;
        const FSRef ref = makeRef(dir.path());
        QCOMPARE(FSWalkTree(&ref, options, &totals), OSStatus(noErr));
        QCOMPARE(qint64(totals.bytes), findSum(dir.path(), countFolders, filter == QLatin1String("skip") ? "skip" : ""));
        QCOMPARE(totals.workers, workers ? workers : std::min(QThread::idealThreadCount(), kFSWalkMaxWorkers));
        QCOMPARE(totals.skippedFolders, UInt64(0));
        QVERIFY(totals.peakDescriptors <= 1 + kFSWalkDescriptorsPerWorker * totals.workers);
        FSRef file = makeRef(dir.filePath("d1/e1/f1"));
        QCOMPARE(FSWalkTree(&file, options, &totals), OSStatus(errFSNotAFolder));
        QCOMPARE(totals.bytes, UInt64(0));
    }

    void fileSystemRepresentation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bufferSize");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("plain") << QStringLiteral("/a/b") << 16 << true << QByteArray("/a/b");
        QTest::newRow("exact fit") << QStringLiteral("/a/b") << 5 << true << QByteArray("/a/b");
        QTest::newRow("one short") << QStringLiteral("/a/b") << 4 << false << QByteArray();
        QTest::newRow("utf-8") << QStringLiteral("/Fotos/Mädchen") << 32 << true
                               << QByteArray("/Fotos/M\xc3\xa4""dchen");
        QTest::newRow("empty") << QStringLiteral("") << 1 << true << QByteArray("");
        QTest::newRow("null") << QString() << 16 << false << QByteArray();
        QTest::newRow("NUL inside") << QStringLiteral("/a") + QChar(0) + QStringLiteral("b") << 16 << false
                                    << QByteArray();
    }

    void fileSystemRepresentation()
    {
        QFETCH(QString, text);
        QFETCH(int, bufferSize);
        QFETCH(bool, ok);
        QFETCH(QByteArray, bytes);
        QVERIFY(CFStringGetMaximumSizeOfFileSystemRepresentation(text) >= CFIndex(QFile::encodeName(text).size() + 1));
        QByteArray buffer(bufferSize, '\x7f');
        QCOMPARE(CFStringGetFileSystemRepresentation(text, buffer.data(), bufferSize), ok);
        if (ok)
            QCOMPARE(QByteArray(buffer.constData()), bytes);
    }
};

QTEST_GUILESS_MAIN(SizesFileManager)
#include "tst_SizesFileManager.moc"
