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
QVariantList texts(const QStringList &l)
{
    QVariantList out;
    for (const QString &s : l)
        out.append(s);
    return out;
}
} // namespace

class SchedulesListTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { NSWorkspace::setRemovableMediaSources(QString(), QString()); }

    void filterEmptyEntries_data()
    {
        QTest::addColumn<QVariantList>("list");
        QTest::addColumn<QVariantList>("after");
        QTest::addColumn<int>("removed");
        QTest::newRow("two empty texts") << texts({"a", "", "b", ""}) << texts({"a", "b"}) << 2;
        QTest::newRow("empty list") << QVariantList() << QVariantList() << 0;
        QTest::newRow("absent text, and other kinds stay")
            << QVariantList{QString(), 0, QStringLiteral(" "), QVariantList{}, QStringLiteral("")}
            << QVariantList{0, QStringLiteral(" "), QVariantList{}} << 2;
    }
    void filterEmptyEntries()
    {
        QFETCH(QVariantList, list);
        QFETCH(QVariantList, after);
        QFETCH(int, removed);
        QCOMPARE(MyExtensions::filterEmptyEntries(list), removed);
        QCOMPARE(list, after);
    }

    void insertObjects_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("front") << 0 << QStringList{"x", "y", "a", "b"};
        QTest::newRow("middle") << 1 << QStringList{"a", "x", "y", "b"};
        QTest::newRow("end") << 2 << QStringList{"a", "b", "x", "y"};
    }
    void insertObjects()
    {
        QFETCH(int, index);
        QFETCH(QStringList, after);
        QVariantList list = texts({"a", "b"});
        insertObjectsFromArrayAtIndex(list, texts({"x", "y"}), index);
        QCOMPARE(list, texts(after));
    }
    void insertObjectsOfTheListItself()
    {
        QVariantList list = texts({"a", "b"});
        insertObjectsFromArrayAtIndex(list, list, 1);
        QCOMPARE(list, texts({"a", "a", "b", "b"}));
    }

    void prefixes()
    {
        QCOMPARE(objectsWithPrefix({}, QStringLiteral("/")), std::nullopt);
        const QVariantList list{QStringLiteral("/Users/ann/a"), 7, QStringLiteral("/users/ann/b"),
                                QStringLiteral("/Users/anna/c")};
        QCOMPARE(objectsWithPrefix(list, QString()), std::optional<QVariantList>(QVariantList()));
        QCOMPARE(objectsWithPrefix(list, QStringLiteral("/Users/ann")),
                 std::optional<QVariantList>(texts({"/Users/ann/a", "/Users/anna/c"})));
        QCOMPARE(objectsWithPrefix(list, QStringLiteral("/Volumes")), std::optional<QVariantList>(QVariantList()));
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
        QCOMPARE(result.isValid(), !found.isNull());
        if (!found.isNull())
            QCOMPARE(result.toString(), found);
    }

    void parentPaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("parent");
        QTest::newRow("file") << "/a/b/c" << "/a/b";
        QTest::newRow("trailing slash") << "/a/b/" << "/a";
        QTest::newRow("under root") << "/x" << "/";
        QTest::newRow("root") << "/" << "/";
        QTest::newRow("one component") << "a" << "";
        QTest::newRow("relative") << "a/b" << "a";
    }
    void parentPaths()
    {
        QFETCH(QString, path);
        QFETCH(QString, parent);
        QCOMPARE(stringByDeletingLastPathComponent(path), parent);
    }

    void identity()
    {
        const NSObjectPtr item = std::make_shared<ZVScheduleItem>();
        const QString text = QStringLiteral("/Users/ann/file").mid(0); // a text with storage of its own
        const QVariantList list{QVariant::fromValue(item), text, 3, QStringLiteral("")};
        QVERIFY(containsObjectIdenticalTo(list, QVariant::fromValue(item)));
        QVERIFY(!containsObjectIdenticalTo(list, QVariant::fromValue(NSObjectPtr(std::make_shared<ZVScheduleItem>()))));
        QVERIFY(containsObjectIdenticalTo(list, list.at(1)));        // the element itself
        const QString copy = text;
        QVERIFY(containsObjectIdenticalTo(list, QVariant(copy)));    // a copy shares its storage
        QString equal = QStringLiteral("/Users/ann/");
        equal += QStringLiteral("file");
        QCOMPARE(equal, text);
        QVERIFY(!containsObjectIdenticalTo(list, QVariant(equal)));  // equal, but another text
        QVERIFY(containsObjectIdenticalTo(list, QVariant(3)));       // numbers have no identity of their own
        QVERIFY(!containsObjectIdenticalTo(list, QVariant(qint64(3))));
        QVERIFY(!containsObjectIdenticalTo(list, QVariant(QStringLiteral(""))));
        QVERIFY(!containsObjectIdenticalTo(list, QVariant()));
        QVERIFY(!containsObjectIdenticalTo({}, QVariant::fromValue(item)));
    }

    void removableMediaFromTheKernelsView()
    {
        QTemporaryDir dir;
        const QString sys = dir.filePath(QStringLiteral("block"));
        auto put = [&](const QString &rel, const QByteArray &content) {
            QVERIFY(TestSupport::writeFile(sys + QLatin1Char('/') + rel, content));
        };
        put(QStringLiteral("sda/removable"), "0\n");
        put(QStringLiteral("sda/dev"), "8:0\n");
        put(QStringLiteral("sda/sda1/dev"), "8:1\n");
        put(QStringLiteral("sda/sda1/partition"), "1\n");
        put(QStringLiteral("sdb/removable"), "1\n");
        put(QStringLiteral("sdb/dev"), "8:16\n");
        put(QStringLiteral("sdb/sdb1/dev"), "8:17\n");
        put(QStringLiteral("sdb/sdb1/partition"), "1\n");
        put(QStringLiteral("sdb/holders/.keep"), "");
        put(QStringLiteral("mmcblk0/removable"), "1\n");
        put(QStringLiteral("mmcblk0/dev"), "179:0\n");
        const QString mountinfo = dir.filePath(QStringLiteral("mountinfo"));
        QVERIFY(TestSupport::writeFile(mountinfo,
            "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
            "30 21 8:17 / /media/usb\\040stick rw,nosuid - vfat /dev/sdb1 rw\n"
            "31 21 0:45 / /tmp rw - tmpfs tmpfs rw\n"
            "32 21 8:16 / /mnt/whole rw - iso9660 /dev/sdb ro\n"
            "33 21 8:17 /sub /mnt/again rw - vfat /dev/sdb1 rw\n"
            "34 21 8:1 /home /home rw - ext4 /dev/sda1 rw\n"));
        NSWorkspace::setRemovableMediaSources(sys, mountinfo);
        QCOMPARE(NSWorkspace::sharedWorkspace().mountedRemovableMedia(),
                 (QStringList{"/media/usb stick", "/mnt/whole", "/mnt/again"}));
        NSWorkspace::setRemovableMediaSources(sys, dir.filePath(QStringLiteral("missing")));
        QCOMPARE(NSWorkspace::sharedWorkspace().mountedRemovableMedia(), QStringList());
    }

    void realKernelViewHasNoSurprises()
    {
        // Whatever this machine has: every reported mount point exists.
        for (const QString &point : NSWorkspace::sharedWorkspace().mountedRemovableMedia())
            QVERIFY2(QFileInfo(point).isDir(), qPrintable(point));
    }

    void fileSystemKinds_data()
    {
        QTest::addColumn<quint64>("magic");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("local");
        QTest::newRow("ext4") << quint64(0xEF53) << "ext4" << true;
        QTest::newRow("tmpfs") << quint64(0x01021994) << "tmpfs" << true;
        QTest::newRow("overlay") << quint64(0x794C7630) << "overlay" << true;
        QTest::newRow("NFS") << quint64(0x6969) << "nfs4" << false;
        QTest::newRow("CIFS") << quint64(0xFF534D42) << "cifs" << false;
        QTest::newRow("SMB2") << quint64(0xFE534D42) << "smb3" << false;
        QTest::newRow("9p") << quint64(0x01021997) << "9p" << false;
        QTest::newRow("Ceph") << quint64(0x00C36400) << "ceph" << false;
        QTest::newRow("sshfs") << quint64(0x65735546) << "fuse.sshfs" << false;
        QTest::newRow("rclone") << quint64(0x65735546) << "fuse.rclone" << false;
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

    void statfsOfRealPaths()
    {
        QTemporaryDir dir;
        MacStatfs info;
        QCOMPARE(macStatfs(QFile::encodeName(dir.path()).constData(), &info), 0);
        QVERIFY(info.f_flags & MNT_LOCAL);
        QVERIFY(!info.f_fstypename.isEmpty());
        MacStatfs untouched;
        untouched.f_fstypename = QStringLiteral("marker");
        QCOMPARE(macStatfs(QFile::encodeName(dir.filePath(QStringLiteral("gone/x"))).constData(), &untouched), -1);
        QCOMPARE(untouched.f_fstypename, QStringLiteral("marker"));
    }

    void filterRemovableMedia()
    {
        QTemporaryDir dir;
        const QString medium = dir.filePath(QStringLiteral("Card"));
        const QString local = dir.filePath(QStringLiteral("disk/file"));
        QVERIFY(TestSupport::writeFile(local, "x"));
        QVERIFY(QDir().mkpath(medium));
        // The kernel's view: one removable disk mounted at MEDIUM, and the start-up disk, also
        // marked removable (a system started from a USB stick): its first partition holds "/"
        // and is mounted once more at Bind, its second at Boot.
        const QString sys = dir.filePath(QStringLiteral("block"));
        for (const auto &[file, content] : {std::pair{"sdc/removable", "1"}, {"sdc/dev", "8:32"},
                                             {"sdd/removable", "1"}, {"sdd/dev", "8:48"},
                                             {"sdd/sdd1/partition", "1"}, {"sdd/sdd1/dev", "8:49"},
                                             {"sdd/sdd2/partition", "2"}, {"sdd/sdd2/dev", "8:50"}})
            QVERIFY(TestSupport::writeFile(sys + QLatin1Char('/') + QLatin1String(file), QByteArray(content) + '\n'));
        const QString bind = dir.filePath(QStringLiteral("Bind")), boot = dir.filePath(QStringLiteral("Boot"));
        const QString mountinfo = dir.filePath(QStringLiteral("mountinfo"));
        QVERIFY(TestSupport::writeFile(mountinfo, "21 1 8:49 / / rw - ext4 /dev/sdd1 rw\n"
                                                  "40 21 8:32 / " + QFile::encodeName(medium) + " rw - vfat /dev/sdc rw\n"
                                                  "41 21 8:49 /srv " + QFile::encodeName(bind) + " rw - ext4 /dev/sdd1 rw\n"
                                                  "42 21 8:50 / " + QFile::encodeName(boot) + " rw - vfat /dev/sdd2 rw\n"));
        NSWorkspace::setRemovableMediaSources(sys, mountinfo);
        QCOMPARE(NSWorkspace::sharedWorkspace().mountedRemovableMedia(), QStringList{medium});

        QVariantList list{medium + QStringLiteral("/photo.jpg"), local, medium + QStringLiteral("2/x"),
                          dir.filePath(QStringLiteral("gone/y")), QStringLiteral("/proc/self"), 5, medium,
                          bind + QStringLiteral("/a"), boot + QStringLiteral("/b")};
        MyExtensions::filterRemovableMediaFilePaths(list);
        // Kept: the local file, the path that cannot be queried, proc (local), the number, the
        // paths on the start-up disk.
        QCOMPARE(list, (QVariantList{local, dir.filePath(QStringLiteral("gone/y")), QStringLiteral("/proc/self"), 5,
                                     bind + QStringLiteral("/a"), boot + QStringLiteral("/b")}));
    }
};

QTEST_GUILESS_MAIN(SchedulesListTest)
#include "SchedulesListTest.moc"
