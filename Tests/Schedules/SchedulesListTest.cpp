// The list operations of MyExtensions, the removable media of the workspace and the
// local/network classification of file systems.
#include "MacStatfs_p.h"
#include "NSArray_Extensions.h"
#include "NSWorkspace.h"
#include "TestSupport.h"
#include "ZVScheduleItem.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace MyExtensions;

namespace {
QVariantList texts(const QStringList &l) { return QVariantList(l.cbegin(), l.cend()); }
} // namespace

class SchedulesListTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void cleanup() { NSWorkspace::setRemovableMediaSources(QString(), QString()); }

    void filterEmptyEntries()
    {
        QVariantList list{QString(), 0, QStringLiteral(" "), QVariantList{}, QStringLiteral("a"), QStringLiteral("")};
        QCOMPARE(MyExtensions::filterEmptyEntries(list), 2); // absent and empty texts; other kinds stay
        QCOMPARE(list, (QVariantList{0, QStringLiteral(" "), QVariantList{}, QStringLiteral("a")}));
    }

    // At the start, the middle and the end; the source may be the list itself.
    void insertObjects()
    {
        QVariantList list = texts({"a", "b"});
        insertObjectsFromArrayAtIndex(list, list, 1);
        insertObjectsFromArrayAtIndex(list, texts({"x"}), 0);
        insertObjectsFromArrayAtIndex(list, texts({"y"}), 5);
        QCOMPARE(list, texts({"x", "a", "a", "b", "b", "y"}));
    }

    void objectsWithPrefix()
    {
        QCOMPARE(MyExtensions::objectsWithPrefix({}, QStringLiteral("/")), std::nullopt);
        const QVariantList list{"/Users/ann/a", 7, "/users/ann/b", "/Users/anna/c"};
        QCOMPARE(MyExtensions::objectsWithPrefix(list, QString()), std::optional<QVariantList>(QVariantList()));
        QCOMPARE(MyExtensions::objectsWithPrefix(list, QStringLiteral("/Users/ann")),
                 std::optional<QVariantList>(texts({"/Users/ann/a", "/Users/anna/c"})));
        QCOMPARE(MyExtensions::objectsWithPrefix(list, QStringLiteral("/Volumes")), std::optional<QVariantList>(QVariantList()));
    }

    void objectWithPrefix_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("found"); // null: none
        const QStringList paths{"/Users/ann/Documents/a.txt", "/Volumes/X/b"};
        QTest::newRow("through the root") << paths << "/Library/x" << "/Users/ann/Documents/a.txt";
        QTest::newRow("the path itself") << paths << "/Volumes/X" << "/Volumes/X/b";
        QTest::newRow("textual") << QStringList{"/Users/anna/x"} << "/Users/ann" << "/Users/anna/x";
        QTest::newRow("relative list, absolute path") << QStringList{"a/b", "c"} << "/a/b" << QString();
        QTest::newRow("relative path") << QStringList{"q", "a/bx"} << "a/b/c" << "a/bx";
        QTest::newRow("first component never tried") << QStringList{"a/zzz"} << "a/b/c" << QString();
        QTest::newRow("empty list") << QStringList{} << "/a" << QString();
    }
    void objectWithPrefix()
    {
        QFETCH(QStringList, list);
        QFETCH(QString, path);
        QFETCH(QString, found);
        const QVariant result = MyExtensions::objectWithPrefix(texts(list), path);
        QCOMPARE(result.isValid() ? result.toString() : QString(), found);
    }

    void parentPaths()
    {
        const QStringList pairs{"/a/b/c=/a/b", "/a/b/=/a", "/x=/", "/=/", "a=", "a/b=a", "/a//b=/a", "//x=/"};
        for (const QString &p : pairs)
            QCOMPARE(stringByDeletingLastPathComponent(p.section('=', 0, 0)) + '=', p.section('=', 1) + '=');
    }

    void identity()
    {
        const NSObjectPtr item = std::make_shared<ZVScheduleItem>();
        const QString text = QStringLiteral("/Users/ann/file").mid(0); // storage of its own
        const QByteArray bytes = QByteArray("b").repeated(3);
        const QVariantList list{QVariant::fromValue(item), text, 3, QStringLiteral(""), bytes, QVariantList{text}};
        QString equal = QStringLiteral("/Users/ann/");
        equal += QStringLiteral("file");
        const QList<std::pair<QVariant, bool>> cases{
            {QVariant::fromValue(item), true}, {QVariant::fromValue(NSObjectPtr(std::make_shared<ZVScheduleItem>())), false},
            {list.at(1), true}, {QVariant(QString(text)), true}, {QVariant(equal), false}, {QVariant(3), true},
            {QVariant(qint64(3)), false}, {QVariant(QStringLiteral("")), false}, {QVariant(), false},
            {list.at(4), true}, {QVariant(QByteArray("bbb")), false}, {list.at(5), true}, {QVariant(QVariantList{text}), false}};
        for (const auto &[object, identical] : cases)
            QVERIFY2(containsObjectIdenticalTo(list, object) == identical, qPrintable(object.toString()));
        QVERIFY(!containsObjectIdenticalTo({}, QVariant::fromValue(item)));
    }

    void fileSystemKinds_data()
    {
        QTest::addColumn<quint64>("magic");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("local");
        QTest::newRow("ext4") << quint64(0xEF53) << "ext4" << true;
        QTest::newRow("NFS by its magic alone") << quint64(0x6969) << "" << false;
        QTest::newRow("network FUSE") << quint64(0x65735546) << "fuse.rclone" << false;
        QTest::newRow("fuseblk (ntfs-3g)") << quint64(0x65735546) << "fuseblk" << true;
        QTest::newRow("local FUSE") << quint64(0x65735546) << "fuse.encfs" << true;
        QTest::newRow("type only") << quint64(0) << "nfs" << false;
    }
    void fileSystemKinds()
    {
        QFETCH(quint64, magic);
        QFETCH(QString, type);
        QFETCH(bool, local);
        QCOMPARE(isLocalFileSystemType(magic, type), local);
    }

    // A removable disk mounted whole at Whole and by its partition at "Card 1", a fixed disk at disk,
    // and the start-up disk, also marked removable (started from a USB stick), holding "/", Bind and
    // Boot. Kept: the local file, the path that cannot be queried, proc (local), the number, the
    // paths on the fixed and the start-up disks. Without a mount table there are no media.
    void filterRemovableMedia()
    {
        const auto at = [&](const QString &name) { return m_dir.filePath(name); };
        const QString medium = at("Card 1"), whole = at("Whole"), local = at("disk/file");
        const QString bind = at("Bind"), boot = at("Boot"), gone = at("gone/y");
        QByteArray mountinfo = "21 1 8:49 / / rw - ext4 /dev/sdd1 rw\n";
        for (const auto &[dev, point] : {std::pair{"8:17", medium}, {"8:49", bind}, {"8:50", boot}, {"8:16", whole},
                                         {"8:0", at("disk")}})
            mountinfo += QByteArray("40 21 ") + dev + " / " + QFile::encodeName(point).replace(" ", "\\040") + " rw - vfat x rw\n";
        QVERIFY(TestSupport::writeFile(local, "x") && TestSupport::writeFile(at("mountinfo"), mountinfo));
        for (const QString f : {"sda/removable=0", "sda/dev=8:0", "sdb/removable=1", "sdb/dev=8:16", "sdb/sdb1/partition=1",
                                "sdb/sdb1/dev=8:17", "sdd/removable=1", "sdd/dev=8:48", "sdd/sdd1/partition=1", "sdd/sdd1/dev=8:49",
                                "sdd/sdd2/partition=2", "sdd/sdd2/dev=8:50"})
            QVERIFY(TestSupport::writeFile(at("block/" + f.section('=', 0, 0)), f.section('=', 1).toUtf8() + '\n'));
        NSWorkspace::setRemovableMediaSources(at("block"), at("mountinfo"));
        QCOMPARE(NSWorkspace::sharedWorkspace().mountedRemovableMedia(), (QStringList{medium, whole}));
        QVariantList list{medium + "/photo.jpg", local, medium + "2/x", gone, "/proc/self", 5, medium, whole + "/w", bind + "/a",
                          boot + "/b"};
        MyExtensions::filterRemovableMediaFilePaths(list);
        QCOMPARE(list, (QVariantList{local, gone, "/proc/self", 5, bind + "/a", boot + "/b"}));
        NSWorkspace::setRemovableMediaSources(at("block"), at("none"));
        QCOMPARE(NSWorkspace::sharedWorkspace().mountedRemovableMedia(), QStringList());
    }
};

QTEST_GUILESS_MAIN(SchedulesListTest)
#include "SchedulesListTest.moc"
