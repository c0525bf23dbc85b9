// Volumes, Time Machine folders, snapshot ordering and path type questions. The cases that
// need /Volumes run this program again inside a private overlay of the root file system
// (own mount namespace, chroot), where it may make /Volumes freely: the machine's own /
// is never changed.
#include "SizesTrees.h"
#include "ZVUtility.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace SizesTrees;

namespace {

QVariantList entries(const QStringList &paths)
{
    QVariantList list;
    for (const QString &p : paths)
        list.append(QVariantMap{{"filePath", p}, {"fileSize", "1"}});
    return list;
}

QStringList pathsOf(const QVariantList &list)
{
    QStringList paths;
    for (const QVariant &v : list)
        paths.append(v.toMap().value("filePath").toString());
    return paths;
}

// What the program reports when run inside the overlay: one JSON object.
int overlayChild()
{
    QJsonObject o;
    o["volumes"] = QJsonArray::fromStringList(ZVUtility::listMountedVolumesPaths());
    o["listing"] = QJsonArray::fromStringList(QDir("/Volumes").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Unsorted));
    o["startupName"] = ZVUtility::startupVolumeDisplayName().isNull() ? QJsonValue() : QJsonValue(ZVUtility::startupVolumeDisplayName());
    o["timeMachineFolders"] = QJsonArray::fromStringList(ZVUtility::timeMachineFolders());
    o["present"] = ZVUtility::isTimeMachineFolderPresent();
    o["inSetEmpty"] = ZVUtility::isTimeMachineFolderPresentLocallyAndInBackupSet({});
    o["inSetByName"] = ZVUtility::isTimeMachineFolderPresentLocallyAndInBackupSet({"/Users/a", "/Elsewhere/Backups.backupdb/x"});
    o["inSetExact"] = ZVUtility::isTimeMachineFolderPresentLocallyAndInBackupSet({"/Users/a", "/Volumes/Backup/Backups.backupdb"});
    o["inSetOther"] = ZVUtility::isTimeMachineFolderPresentLocallyAndInBackupSet({"/Users/a", "/Volumes/Backup"});
    const ZVUtility::SizeNumber backup = ZVUtility::getFolderSize("/Volumes/Backup");
    o["backupSize"] = backup ? QJsonValue(QString::number(*backup)) : QJsonValue();
    o["dataSize"] = QString::number(ZVUtility::getFolderSize("/Volumes/Data").value_or(0));
    QProcess zvtool;
    zvtool.start(QFileInfo(QString::fromLocal8Bit(qgetenv("ZV_PROGRAM"))).absolutePath() + "/zvtool", {"volumes"});
    zvtool.waitForFinished(30000);
    o["zvtoolVolumes"] = QString::fromUtf8(zvtool.readAllStandardOutput());
    std::fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    return 0;
}

QString programPath;

} // namespace

class SizesVolumes : public QObject {
    Q_OBJECT

    // Runs this program inside a private overlay of "/" after SETUP (shell commands run in
    // the overlay's top folder), and returns its report.
    QJsonObject inOverlay(const QString &setup)
    {
        QTemporaryDir dir;
        const QString upper = dir.filePath("upper"), work = dir.filePath("work"), top = dir.filePath("top");
        for (const QString &d : {upper, work, top})
            QDir().mkpath(d);
        const QString binDir = QFileInfo(programPath).absolutePath();
        const QString script = QStringLiteral(
            "set -e\n"
            "mount --make-rprivate /\n"
            "mount -t overlay overlay -o lowerdir=/,upperdir='%1',workdir='%2' '%3'\n"
            "mount -t proc proc '%3/proc'\n"
            // the build folder may live on another file system than /
            "mkdir -p '%3%4' && mount --bind '%4' '%3%4'\n"
            "cd '%3'\n"
            "rm -rf Volumes etc/startup-volume-name Backups.backupdb dev/disk\n"
            "%5\n"
            "ZV_PROGRAM='%6' exec chroot '%3' '%6' --overlay-child\n")
            .arg(upper, work, top, binDir, setup, programPath);
        QProcess p;
        p.start(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), script});
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
        }
        const QByteArray err = p.readAllStandardError();
        const QByteArray out = p.readAllStandardOutput();
        if (p.exitCode() != 0)
            qWarning("overlay run failed: %s", err.constData());
        return QJsonDocument::fromJson(out.trimmed().split('\n').last()).object();
    }

    static QStringList strings(const QJsonValue &v)
    {
        QStringList list;
        for (const QJsonValue &e : v.toArray())
            list.append(e.toString());
        return list;
    }

private slots:
    void snapshotOrdering()
    {
        QVariantList list = entries({"Docs", "Photos_MAC", "BackUp_nightly.2011-05-02", "Music", "BackUp_nightly.2011-05-01"});
        ZVUtility::moveSnapshotFoldersToTop(list);
        QCOMPARE(pathsOf(list), (QStringList{"BackUp_nightly.2011-05-02", "BackUp_nightly.2011-05-01", "Photos_MAC", "Docs", "Music"}));
        QCOMPARE(list.first().toMap().value("fileSize").toString(), QStringLiteral("1")); // whole entries move

        // A snapshot folder that also ends with _MAC belongs to the snapshots.
        list = entries({"A_MAC", "b", "BackUp_nightly.1_MAC", "c_MAC", "BackUp_nightly.2"});
        ZVUtility::moveSnapshotFoldersToTop(list);
        QCOMPARE(pathsOf(list), (QStringList{"BackUp_nightly.1_MAC", "BackUp_nightly.2", "A_MAC", "c_MAC", "b"}));

        list = entries({"x", "Y_MAC", "z", "BackUp_nightly.1", "w_MAC"});
        QVariantList &same = ZVUtility::sortMacFoldersInSnapshots(list);
        QCOMPARE(&same, &list);
        QCOMPARE(pathsOf(list), (QStringList{"Y_MAC", "w_MAC", "x", "z", "BackUp_nightly.1"}));

        QVariantList empty;
        QVERIFY(ZVUtility::sortMacFoldersInSnapshots(empty).isEmpty());
        ZVUtility::moveSnapshotFoldersToTop(empty);
        QVERIFY(empty.isEmpty());
        // Entries without "filePath" (or not dictionaries) are "all others".
        QVariantList odd{QVariant(42), QVariantMap{{"filePath", "k_MAC"}}, QVariantMap()};
        ZVUtility::moveSnapshotFoldersToTop(odd);
        QCOMPARE(odd.size(), 3);
        QCOMPARE(odd[0].toMap().value("filePath").toString(), QStringLiteral("k_MAC"));
        QCOMPARE(odd[1], QVariant(42));
    }

    void snapshotVersion_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("version");
        QTest::newRow("no snapshot") << "Documents" << "";
        QTest::newRow("no _ after the version") << "BackUp_nightly.2011-05-02" << "2011-05-02";
        QTest::newRow("time after _") << "BackUp_nightly.2011-05-02_10-00" << "2011-05-02";
        QTest::newRow("a . in the version ends it") << "BackUp_nightly.3.1_x" << "3";
        QTest::newRow("nothing after the point") << "BackUp_nightly." << "";
        QTest::newRow("without the point") << "BackUp_nightly" << "";
        QTest::newRow("another _ before: no . in the piece") << "my_BackUp_nightly.5" << "";
        QTest::newRow("another _ before: the piece has a .") << "a.b_c.d_BackUp_nightly.5" << "d";
        QTest::newRow("empty") << "" << "";
    }

    void snapshotVersion()
    {
        QFETCH(QString, name);
        QFETCH(QString, version);
        const QString got = ZVUtility::snapshotVersion(name);
        QCOMPARE(got, version);
        QVERIFY(!got.isNull());
    }

    void imageExtensions_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("extensions");
        QTest::addColumn<bool>("supported");
        QTest::newRow("upper-case file") << "/x/Photo.JPG" << QStringList{"jpg", "png"} << true;
        QTest::newRow("upper-case list never matches") << "/x/Photo.JPG" << QStringList{"JPG"} << false;
        QTest::newRow("last point counts") << "/x/a.tar.png" << QStringList{"png"} << true;
        QTest::newRow("point in a folder name") << "/x.png/file" << QStringList{"png"} << false;
        QTest::newRow("no extension") << "/x/README" << QStringList{"png"} << false;
        QTest::newRow("no extension, empty element") << "/x/README" << QStringList{""} << true;
        QTest::newRow("trailing slash") << "/x/pic.png/" << QStringList{"png"} << true;
        QTest::newRow("empty list") << "/x/a.png" << QStringList{} << false;
    }

    void imageExtensions()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, extensions);
        QFETCH(bool, supported);
        QCOMPARE(ZVUtility::isSupportedImageFileWithExtensions(path, extensions), supported);
    }

    void pathTypes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("directory");
        QTest::addColumn<bool>("mac");
        QTest::newRow("plain text file") << "notes.txt" << true << false << true;
        QTest::newRow("application bundle") << "Tool.app" << true << true << true;
        QTest::newRow("framework, any case") << "Kit.FRAMEWORK" << true << true << true;
        QTest::newRow("plain folder") << "Users" << true << true << false;
        QTest::newRow("folder with another extension") << "photos.2011" << true << true << false;
        QTest::newRow("file named like a bundle") << "fake.app" << true << false << true;
        QTest::newRow("hidden name only") << ".app" << true << true << false;
        QTest::newRow("link to a bundle") << "linkToApp" << true << true << false; // the link's name decides
        QTest::newRow("link to a bundle, bundle name") << "Alias.app" << true << true << true;
        QTest::newRow("dangling link") << "dangling" << false << false << false;
        QTest::newRow("missing") << "missing.app" << false << false << false;
    }

    void pathTypes()
    {
        QFETCH(QString, name);
        QFETCH(bool, exists);
        QFETCH(bool, directory);
        QFETCH(bool, mac);
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("notes.txt"), 3));
        QVERIFY(makeFile(dir.filePath("Tool.app/Contents/Info.plist"), 3));
        QVERIFY(QDir().mkpath(dir.filePath("Kit.FRAMEWORK")));
        QVERIFY(QDir().mkpath(dir.filePath("Users")));
        QVERIFY(QDir().mkpath(dir.filePath("photos.2011")));
        QVERIFY(QDir().mkpath(dir.filePath(".app")));
        QVERIFY(makeFile(dir.filePath("fake.app"), 1));
        QVERIFY(makeSymlink(dir.filePath("Tool.app"), dir.filePath("linkToApp")));
        QVERIFY(makeSymlink(dir.filePath("Users"), dir.filePath("Alias.app")));
        QVERIFY(makeSymlink(dir.filePath("nothing"), dir.filePath("dangling")));
        const QString path = dir.filePath(name);
        QCOMPARE(ZVUtility::isFileExists(path), exists);
        QCOMPARE(ZVUtility::isDirectory(path), directory);
        QCOMPARE(ZVUtility::isMacDirectory(path), mac);
        QCOMPARE(ZVUtility::isDirectory(path + "/"), directory);
    }

    void noVolumesFolder()
    {
        // Read-only: whatever this machine has, the list holds only folders of /Volumes or "/".
        for (const QString &v : ZVUtility::listMountedVolumesPaths())
            QVERIFY2(v == QLatin1String("/") || (v.startsWith("/Volumes/") && ZVUtility::isDirectory(v)), qPrintable(v));
    }

    void volumesInOverlay_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("startupName");
        QTest::addColumn<QStringList>("expectedSet"); // the list, in any order
        QTest::addColumn<QStringList>("timeMachine");
        const QString volumes = "mkdir -p Volumes/Backup/Backups.backupdb Volumes/Data/sub Volumes/Empty\n"
                                "ln -s / Volumes/Main\n"
                                "echo note > Volumes/notes.txt\n"
                                "ln -s /nowhere Volumes/Gone\n"
                                "printf 12345 > Volumes/Data/sub/f\n"
                                "mkdir -p Backups.backupdb\n";
        QTest::newRow("named by file")
            << volumes + "mkdir -p etc && printf '  Main  \\nsecond line\\n' > etc/startup-volume-name"
            << "Main" << QStringList{"/", "/Volumes/Backup", "/Volumes/Data", "/Volumes/Empty"}
            << QStringList{"//Backups.backupdb", "/Volumes/Backup/Backups.backupdb"};
        QTest::newRow("named by the root file system's label")
            << volumes + "mkdir -p dev/disk/by-label && d=$(stat -c '%Hd %Ld' .) && "
                         "mknod dev/zv-root b $d && ln -s ../../zv-root 'dev/disk/by-label/Main'"
            << "Main" << QStringList{"/", "/Volumes/Backup", "/Volumes/Data", "/Volumes/Empty"}
            << QStringList{"//Backups.backupdb", "/Volumes/Backup/Backups.backupdb"};
        QTest::newRow("label with an escaped blank")
            << volumes + "mv Volumes/Main 'Volumes/Main Disk' && mkdir -p dev/disk/by-label && d=$(stat -c '%Hd %Ld' .) && "
                         "mknod dev/zv-root b $d && ln -s ../../zv-root 'dev/disk/by-label/Main\\x20Disk'"
            << "Main Disk" << QStringList{"/", "/Volumes/Backup", "/Volumes/Data", "/Volumes/Empty"}
            << QStringList{"//Backups.backupdb", "/Volumes/Backup/Backups.backupdb"};
        QTest::newRow("no name for the start-up volume")
            << volumes << QString() << QStringList{"/Volumes/Main", "/Volumes/Backup", "/Volumes/Data", "/Volumes/Empty"}
            << QStringList{"/Volumes/Backup/Backups.backupdb", "/Volumes/Main/Backups.backupdb"};
        QTest::newRow("a Time Machine name that is a file")
            << "mkdir -p Volumes/Backup etc && echo x > Volumes/Backup/Backups.backupdb && echo Main > etc/startup-volume-name"
            << "Main" << QStringList{"/Volumes/Backup"} << QStringList{};
        QTest::newRow("no /Volumes") << "echo Main > etc/startup-volume-name" << "Main" << QStringList{} << QStringList{};
    }

    void volumesInOverlay()
    {
        QFETCH(QString, setup);
        QFETCH(QString, startupName);
        QFETCH(QStringList, expectedSet);
        QFETCH(QStringList, timeMachine);
        if (::geteuid() != 0)
            QSKIP("needs root: /Volumes is made inside a private overlay of / (unshare -m, mount, chroot)");
        const QJsonObject r = inOverlay(setup);
        QVERIFY2(!r.isEmpty(), "the program did not report from inside the overlay");
        QCOMPARE(r["startupName"].toString(), startupName);
        QCOMPARE(r["startupName"].isNull(), startupName.isNull());

        // The listing's order, folders only, the start-up volume as "/".
        QStringList expected;
        for (const QString &name : strings(r["listing"])) {
            const QString path = "/Volumes/" + name;
            if (!startupName.isNull() && name == startupName)
                expected.append("/");
            else if (expectedSet.contains(path))
                expected.append(path);
        }
        QCOMPARE(expected.size(), expectedSet.size());
        const QStringList volumes = strings(r["volumes"]);
        QCOMPARE(volumes, expected);
        QCOMPARE(r["zvtoolVolumes"].toString(), volumes.isEmpty() ? QString("") : volumes.join('\n') + '\n');

        // Time Machine folders in volume order.
        QStringList tm;
        for (const QString &v : volumes) {
            for (const QString &f : timeMachine) {
                if (f == QStringLiteral("%1/Backups.backupdb").arg(v))
                    tm.append(f);
            }
        }
        QCOMPARE(tm.size(), timeMachine.size());
        QCOMPARE(strings(r["timeMachineFolders"]), tm);
        const bool any = !timeMachine.isEmpty();
        QCOMPARE(r["present"].toBool(), any);
        QCOMPARE(r["inSetEmpty"].toBool(), false);
        QCOMPARE(r["inSetByName"].toBool(), any);
        QCOMPARE(r["inSetExact"].toBool(), timeMachine.contains("/Volumes/Backup/Backups.backupdb"));
        QCOMPARE(r["inSetOther"].toBool(), false);

        // A volume path is measured by its used space, another folder by a walk.
        if (volumes.contains("/Volumes/Backup"))
            QVERIFY(r["backupSize"].toString().toULongLong() > 1000000);
        if (volumes.contains("/Volumes/Data"))
            QVERIFY(r["dataSize"].toString().toULongLong() > 1000000);
        else
            QCOMPARE(r["dataSize"].toString(), QStringLiteral("0"));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--overlay-child") == 0)
        return overlayChild();
    QCoreApplication app(argc, argv);
    programPath = QCoreApplication::applicationFilePath();
    SizesVolumes test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_SizesVolumes.moc"
