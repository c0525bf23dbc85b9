// A list that stands in many places is archived once and read back once: a chain of 40
// levels, each holding the level below twice, stays a small file and a quick round trip
// (copied out, it would be 2^40 lists). A text holding a NUL is not written at all, rather
// than written cut short.
#include "NSArray_Extensions.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class SharedListsTest : public QObject {
    Q_OBJECT
private slots:
    void sharedChainStaysSmall()
    {
        QVariantList level{QStringLiteral("leaf")};
        for (int i = 0; i < 40; ++i)
            level = QVariantList{QVariant(level), QVariant(level)};
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("chain.plist"));
        QVERIFY(MyExtensions::writeToArchivedFileWithKey(QVariantList{QVariant(level)}, path, QStringLiteral("Schedules")));
        QVERIFY(QFileInfo(path).size() < 20000);
        const auto back = MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules"));
        QVERIFY(back);
        QCOMPARE(back->size(), 1);
        QVariantList walk = back->at(0).toList();
        int depth = 0;
        while (walk.size() == 2) {
            walk = walk.at(0).toList();
            ++depth;
        }
        QCOMPARE(depth, 40);
        QCOMPARE(walk, QVariantList{QStringLiteral("leaf")});
    }

    void textWithNulIsNotWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("nul.plist"));
        QVERIFY(!MyExtensions::writeToArchivedFileWithKey(QVariantList{QString::fromUtf8("a\0b", 3)}, path, QStringLiteral("Schedules")));
        QVERIFY(!QFileInfo::exists(path));
    }
};

QTEST_GUILESS_MAIN(SharedListsTest)
#include "tst_SharedLists.moc"
