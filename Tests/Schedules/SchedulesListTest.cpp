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

    // Lays out the kernel's view: FILES under a block folder ("sdb/removable=1", ...) and MOUNTINFO.
    void useKernelView(const QStringList &files, const QByteArray &mountinfo)
    {
        for (const QString &f : files)
            QVERIFY(TestSupport::writeFile(m_dir.filePath("block/" + f.section('=', 0, 0)), f.section('=', 1).toUtf8() + '\n'));
        QVERIFY(TestSupport::writeFile(m_dir.filePath(QStringLiteral("mountinfo")), mountinfo));
        NSWorkspace::setRemovableMediaSources(m_dir.filePath(QStringLiteral("block")), m_dir.filePath(QStringLiteral("mountinfo")));
    }

private slots:
    void cleanup()
    {
        NSWorkspace::setRemovableMediaSources(QString(), QString());
        QDir(m_dir.filePath(QStringLiteral("block"))).removeRecursively();
    }

    void filterEmptyEntries_data()
    {
        QTest::addColumn<QVariantList>("list");
        QTest::addColumn<QVariantList>("after");
        QTest::newRow("two empty texts") << texts({"a", "", "b", ""}) << texts({"a", "b"});
        QTest::newRow("empty list") << QVariantList() << QVariantList();
        QTest::newRow("absent text, and other kinds stay")
            << QVariantList{QString(), 0, QStringLiteral(" "), QVariantList{}, QStringLiteral("")}
            << QVariantList{0, QStringLiteral(" "), QVariantList{}};
    }
    void filterEmptyEntries()
    {
        QFETCH(QVariantList, list);
        QFETCH(QVariantList, after);
        const qint32 removed = qint32(list.size() - after.size());
        QCOMPARE(MyExtensions::filterEmptyEntries(list), removed);
        QCOMPARE(list, after);
    }

    void insertObjects()
    {
        for (int index : {0, 1, 2}) {
            QVariantList list = texts({"a", "b"});
            insertObjectsFromArrayAtIndex(list, texts({"x", "y"}), index);
            QCOMPARE(list, texts(QStringList{"a", "b"}.mid(0, index) + QStringList{"x", "y"} + QStringList{"a", "b"}.mid(index)));
        }
        QVariantList list = texts({"a", "b"});
        insertObjectsFromArrayAtIndex(list, list, 1);
        QCOMPARE(list, texts({"a", "a", "b", "b"}));
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
        QTest::newRow("through an ancestor") << paths << "/Users/ann/Music/c" << "/Users/ann/Documents/a.txt";
        QTest::newRow("through the root") << paths << "/Library/x" << "/Users/ann/Documents/a.txt";
        QTest::newRow("the path itself") << paths << "/Volumes/X" << "/Volumes/X/b";
        QTest::newRow("textual") << QStringList{"/Users/anna/x"} << "/Users/ann" << "/Users/anna/x";
        QTest::newRow("relative list, absolute path") << QStringList{"a/b", "c"} << "/a/b" << QString();
        QTest::newRow("relative path") << QStringList{"q", "a/bx"} << "a/b/c" << "a/bx";
        QTest::newRow("first component never tried") << QStringList{"a/zzz"} << "a/b/c" << QString();
        QTest::newRow("trailing slash") << QStringList{"/a/b"} << "/a/c/" << "/a/b";
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

    // The disks the kernel marks removable and their partitions, as mounted; the start-up disk
    // (holding "/") is never one.
    void removableMediaFromTheKernelsView()
    {
        useKernelView({"sda/removable=0", "sda/dev=8:0", "sda/sda1/dev=8:1", "sda/sda1/partition=1", "sdb/removable=1",
                       "sdb/dev=8:16", "sdb/sdb1/dev=8:17", "sdb/sdb1/partition=1", "sdb/holders/x=", "mmcblk0/removable=1",
                       "mmcblk0/dev=179:0"},
                      "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                      "30 21 8:17 / /media/usb\\040stick rw,nosuid - vfat /dev/sdb1 rw\n"
                      "31 21 0:45 / /tmp rw - tmpfs tmpfs rw\n"
                      "32 21 8:16 / /mnt/whole rw - iso9660 /dev/sdb ro\n"
                      "33 21 8:17 /sub /mnt/again rw - vfat /dev/sdb1 rw\n"
                      "34 21 8:1 /home /home rw - ext4 /dev/sda1 rw\n");
        QCOMPARE(NSWorkspace::sharedWorkspace().mountedRemovableMedia(), (QStringList{"/media/usb stick", "/mnt/whole", "/mnt/again"}));
        NSWorkspace::setRemovableMediaSources(m_dir.filePath(QStringLiteral("block")), m_dir.filePath(QStringLiteral("none")));
        QCOMPARE(NSWorkspace::sharedWorkspace().mountedRemovableMedia(), QStringList());
        NSWorkspace::setRemovableMediaSources(QString(), QString());
        for (const QString &point : NSWorkspace::sharedWorkspace().mountedRemovableMedia()) // this machine's
            QVERIFY2(QFileInfo(point).isDir(), qPrintable(point));
    }

    void fileSystemKinds_data()
    {
        QTest::addColumn<quint64>("magic");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("local");
        QTest::newRow("ext4") << quint64(0xEF53) << "ext4" << true;
        QTest::newRow("NFS") << quint64(0x6969) << "nfs4" << false;
        QTest::newRow("CIFS") << quint64(0xFF534D42) << "cifs" << false;
        QTest::newRow("SMB2") << quint64(0xFE534D42) << "smb3" << false;
        QTest::newRow("9p") << quint64(0x01021997) << "9p" << false;
        QTest::newRow("Ceph") << quint64(0x00C36400) << "ceph" << false;
        QTest::newRow("rclone") << quint64(0x65735546) << "fuse.rclone" << false;
        QTest::newRow("sshfs") << quint64(0x65735546) << "fuse.sshfs" << false;
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

    // One removable disk mounted at Card, and the start-up disk, also marked removable (a
    // system started from a USB stick): its first partition holds "/" and is mounted once more
    // at Bind, its second at Boot. Kept: the local file, the path that cannot be queried, proc
    // (local), the number, the paths on the start-up disk.
    void filterRemovableMedia()
    {
        const QString medium = m_dir.filePath(QStringLiteral("Card")), local = m_dir.filePath(QStringLiteral("disk/file"));
        const QString bind = m_dir.filePath(QStringLiteral("Bind")), boot = m_dir.filePath(QStringLiteral("Boot"));
        QVERIFY(TestSupport::writeFile(local, "x") && QDir().mkpath(medium));
        useKernelView({"sdc/removable=1", "sdc/dev=8:32", "sdd/removable=1", "sdd/dev=8:48", "sdd/sdd1/partition=1",
                       "sdd/sdd1/dev=8:49", "sdd/sdd2/partition=2", "sdd/sdd2/dev=8:50"},
                      "21 1 8:49 / / rw - ext4 /dev/sdd1 rw\n40 21 8:32 / " + QFile::encodeName(medium)
                          + " rw - vfat /dev/sdc rw\n41 21 8:49 /srv " + QFile::encodeName(bind)
                          + " rw - ext4 /dev/sdd1 rw\n42 21 8:50 / " + QFile::encodeName(boot) + " rw - vfat /dev/sdd2 rw\n");
        QCOMPARE(NSWorkspace::sharedWorkspace().mountedRemovableMedia(), QStringList{medium});
        const QString gone = m_dir.filePath(QStringLiteral("gone/y"));
        QVariantList list{medium + "/photo.jpg", local, medium + "2/x", gone, "/proc/self", 5, medium, bind + "/a", boot + "/b"};
        MyExtensions::filterRemovableMediaFilePaths(list);
        QCOMPARE(list, (QVariantList{local, gone, "/proc/self", 5, bind + "/a", boot + "/b"}));
    }
};

QTEST_GUILESS_MAIN(SchedulesListTest)
#include "SchedulesListTest.moc"
