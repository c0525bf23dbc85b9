// Property-list files as the uninstaller reads its table and writes its marker: every kind
// of value both ways in both formats, writes that replace the path (never through a link), and damaged input refused without a
// crash (a seeded run of mutated copies of a valid file).
#include "PropertyList_p.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// A binary property list of LEVELS nested arrays, each holding the next one once (or twice,
// so that copying every reference out doubles the tree at each level), or holding itself.
static QByteArray nestedBinary(int levels, int refsPerLevel, bool cycle = false)
{
    QByteArray out("bplist00");
    QList<quint32> offsets;
    auto be32 = [&](quint32 v) { out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v)); };
    for (int i = 0; i <= levels; ++i) {
        offsets << quint32(out.size());
        if (i == levels) {
            out.append(char(0xA0));
            continue;
        }
        out.append(char(0xA0 | refsPerLevel));
        for (int r = 0; r < refsPerLevel; ++r)
            be32(cycle ? quint32(i) : quint32(i + 1));
    }
    const quint32 table = quint32(out.size());
    for (quint32 o : offsets)
        be32(o);
    out.append(QByteArray(6, '\0')).append(char(4)).append(char(4));
    const quint64 count = quint64(offsets.size());
    for (quint64 v : {count, quint64(0), quint64(table)})
        for (int b = 7; b >= 0; --b)
            out.append(char(v >> (8 * b)));
    return out;
}

class PropertyListTest : public QObject {
    Q_OBJECT
    static QVariantMap sample()
    {
        return {{QStringLiteral("text"), QStringLiteral("Grüße, 日本 and \"quotes\" <&>")},
                {QStringLiteral("empty"), QStringLiteral("")},
                {QStringLiteral("yes"), true},
                {QStringLiteral("no"), false},
                {QStringLiteral("big"), qint64(1) << 40},
                {QStringLiteral("negative"), qint64(-5)},
                {QStringLiteral("real"), 2.5},
                {QStringLiteral("data"), QByteArray("\x00\x01\xff", 3)},
                {QStringLiteral("date"), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)},
                {QStringLiteral("list"), QVariantList{QStringLiteral("a"), qint64(1), QVariantMap{{QStringLiteral("k"), QStringLiteral("v")}}}}};
    }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("xml") << int(PropertyList::Format::XML);
        QTest::newRow("binary") << int(PropertyList::Format::Binary);
    }
    void roundTrip()
    {
        QFETCH(int, format);
        const QByteArray bytes = PropertyList::toData(sample(), PropertyList::Format(format));
        QVERIFY(!bytes.isEmpty());
        const auto back = PropertyList::fromData(bytes);
        QVERIFY(back);
        QCOMPARE(back->toMap(), sample());
    }

    // What stands at the marker's path before the write. The write replaces the path itself:
    // a link planted there (the folder may be writable by others) is replaced, its target
    // (a victim file) left as it was; an older marker the writer may not write is replaced
    // as long as the folder is writable; the temporary file a killed writer left is removed.
    void writeReplacesThePathItself_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("asUser");
        QTest::newRow("older file") << "file" << false;
        QTest::newRow("link to a victim file") << "link" << false;
        QTest::newRow("link to a missing file") << "dangling" << false;
        QTest::newRow("older read-only marker of root, written by a user") << "readonly" << true;
        QTest::newRow("temporary file of a killed writer") << "leftover" << false;
    }
    void writeReplacesThePathItself()
    {
        QFETCH(QString, before);
        QFETCH(bool, asUser);
        if (::geteuid() != 0)
            QSKIP("needs root: writes as another user, reads a victim file");
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkpath(folder));
        const uid_t user = 61000 + uid_t(::getpid() % 3000);
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), user, user), 0);
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther));
        const QString path = folder + QStringLiteral("/marker.plist");
        const QString victim = dir.filePath(QStringLiteral("victim"));
        QVERIFY(TestSupport::writeFile(victim, "victim"));
        const QString leftover = folder + QStringLiteral("/.marker.plist.zvtmp-Ab3dE9");
        if (before == QLatin1String("file") || before == QLatin1String("readonly")) {
            QVERIFY(TestSupport::writeFile(path, QByteArray(5000, 'x')));
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadOther));
        } else if (before == QLatin1String("link")) {
            QVERIFY(QFile::link(victim, path));
        } else if (before == QLatin1String("dangling")) {
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("missing")), path));
        } else {
            QVERIFY(TestSupport::writeFile(leftover, "half a marker"));
        }
        const QVariantMap marker{{QStringLiteral("KILLDAEMON"), true}};
        const mode_t old = ::umask(022);
        bool written = false;
        if (asUser) {
            const pid_t child = ::fork();
            if (child == 0) {
                if (::setgid(user) != 0 || ::setuid(user) != 0)
                    ::_exit(3);
                ::_exit(PropertyList::writeFile(marker, path, PropertyList::Format::XML, true) ? 0 : 1);
            }
            int status = -1;
            QCOMPARE(::waitpid(child, &status, 0), child);
            written = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        } else {
            written = PropertyList::writeFile(marker, path, PropertyList::Format::XML, true);
        }
        ::umask(old);
        QVERIFY(written);
        QCOMPARE(PropertyList::readFile(path)->toMap(), marker);
        QVERIFY(!QFileInfo(path).isSymLink());
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0644));
        QCOMPARE(TestSupport::readFile(victim), QByteArray("victim"));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{QStringLiteral("marker.plist")});
    }

    void writeIntoMissingFolderFails()
    {
        QTemporaryDir dir;
        QVERIFY(!PropertyList::writeFile(QVariantMap{{QStringLiteral("a"), 1}}, dir.filePath(QStringLiteral("no/such/x.plist")),
                                         PropertyList::Format::XML, true));
        QVERIFY(!PropertyList::writeFile(QVariant(), dir.filePath(QStringLiteral("x.plist")), PropertyList::Format::XML, true));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("x.plist"))));
    }

    // Every text form a Mac writes for a dictionary reads as the same dictionary; broken
    // old-style text is refused (expected: no value).
    void textForms_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QVariant>("expected");
        const QVariantMap table{{"ApplicationName", "Tavrin for Mac"}, {"Path", "/Users/%@/Préférences"}};
        const QByteArray xml = PropertyList::toData(table, PropertyList::Format::XML);
        const QString xml16 = QString::fromUtf8(xml).replace("UTF-8", "UTF-16");
        auto utf16 = [](const QString &text, QStringConverter::Encoding e) {
            return QByteArray(QStringEncoder(e, QStringConverter::Flag::WriteBom).encode(text));
        };
        QTest::newRow("xml, utf-8 with bom") << "\xEF\xBB\xBF" + xml << QVariant(table);
        QTest::newRow("xml, utf-16le with bom") << utf16(xml16, QStringConverter::Utf16LE) << QVariant(table);
        QTest::newRow("xml, utf-16be with bom") << utf16(xml16, QStringConverter::Utf16BE) << QVariant(table);
        const QString oldStyle = "// written by hand\n{\n  ApplicationName = \"Tavrin for Mac\"; /* brand */\n"
                                 "  Path = '/Users/%@/Pr\\U00e9f\\U00e9rences';\n}\n";
        QTest::newRow("old-style, utf-8") << oldStyle.toUtf8() << QVariant(table);
        QTest::newRow("old-style, utf-16le with bom") << utf16(oldStyle, QStringConverter::Utf16LE) << QVariant(table);
        QTest::newRow("old-style, utf-8 with bom") << "\xEF\xBB\xBF" + oldStyle.toUtf8() << QVariant(table);
        QTest::newRow("strings file") << QByteArray("\"ApplicationName\" = \"Tavrin for Mac\";\nPath = \"/Users/%@/Pr\\U00e9f\\U00e9rences\";")
                                      << QVariant(table);
        const QVariantMap nested{{"a", QVariantList{"b", "c d", QVariantMap{{"e", "f"}}, QByteArray("\x0f\xbd\x77\x28")}},
                                 {"q", "say \"hi\"\n\\ A\t'"}, {"u", "x.y/z-1_$+:"}, {"empty", QVariantList{}}};
        QTest::newRow("old-style, nested and escapes")
            << QByteArray("{a = (b, \"c d\", {e = f;}, <0fbd 7728>,); q = \"say \\\"hi\\\"\\n\\\\ \\101\\t\\'\";"
                          " u = x.y/z-1_$+:; empty = (); }")
            << QVariant(nested);
        QTest::newRow("old-style, last ; left out") << QByteArray("{a = b}") << QVariant(QVariantMap{{"a", "b"}});
        QTest::newRow("old-style, ; missing") << QByteArray("{a = b c = d;}") << QVariant();
        QTest::newRow("old-style, not closed") << QByteArray("{a = (b, c;}") << QVariant();
        QTest::newRow("old-style, comment not closed") << QByteArray("{a = b; /* }") << QVariant();
        QTest::newRow("old-style, text after the root") << QByteArray("{a = b;} c") << QVariant();
        QTest::newRow("old-style, odd hex digits") << QByteArray("{a = <0fb>;}") << QVariant();
        QTest::newRow("utf-16 of odd length") << utf16(oldStyle, QStringConverter::Utf16LE).chopped(1) << QVariant();
        QTest::newRow("invalid utf-8") << QByteArray("{a = \"\xC3\x28\";}") << QVariant();
    }
    void textForms()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QVariant, expected);
        const auto value = PropertyList::fromData(bytes);
        QCOMPARE(value.has_value(), expected.isValid());
        if (value)
            QCOMPARE(*value, expected);
    }

    void refusedInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("not a property list");
        QTest::newRow("truncated xml") << QByteArray("<?xml version=\"1.0\"?><plist><dict><key>a</key><string>b");
        QTest::newRow("bare header") << QByteArray("bplist00");
        // Texts holding a NUL: an ASCII value, a UTF-16 key (as Foundation writes them).
        QTest::newRow("nul in ascii text") << QByteArray::fromHex("62706c6973743030d10102516153610062080b0d0000000000000101000000000000000300000000000000000000000000000011");
        QTest::newRow("nul in utf-16 key") << QByteArray::fromHex("62706c6973743030d101026300e9000000785176080b120000000000000101000000000000000300000000000000000000000000000014");
    }
    void refusedInput()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!PropertyList::fromData(bytes));
    }

    // libplist recurses per level and copies shared objects: such files are refused before
    // it sees them, instead of exhausting the stack or the memory.
    void hostileStructuresRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("nested 100 deep") << nestedBinary(100, 1) << true;
        QTest::newRow("nested 100,000 deep") << nestedBinary(100000, 1) << false;
        QTest::newRow("shared 16 levels") << nestedBinary(16, 2) << true;
        QTest::newRow("shared 40 levels (2^40 copies)") << nestedBinary(40, 2) << false;
        QTest::newRow("array holding itself") << nestedBinary(3, 1, true) << false;
        QByteArray xml("<?xml version=\"1.0\"?><plist version=\"1.0\">");
        QByteArray deep = xml;
        for (int i = 0; i < 200000; ++i)
            deep.append("<array>");
        for (int i = 0; i < 200000; ++i)
            deep.append("</array>");
        QTest::newRow("xml nested 200,000 deep") << deep + "</plist>" << false;
        QByteArray shallow = xml;
        for (int i = 0; i < 50; ++i)
            shallow.append("<array><array/>");
        for (int i = 0; i < 50; ++i)
            shallow.append("</array>");
        QTest::newRow("xml nested 50 deep") << shallow + "</plist>" << true;
    }
    void hostileStructuresRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, accepted);
        QCOMPARE(PropertyList::isSafeToParse(bytes), accepted);
        QCOMPARE(PropertyList::fromData(bytes).has_value(), accepted);
    }

    void mutatedCopiesNeverCrash()
    {
        const QByteArray xml = PropertyList::toData(sample(), PropertyList::Format::XML);
        const QByteArray bin = PropertyList::toData(sample(), PropertyList::Format::Binary);
        QRandomGenerator random(20261205);
        int parsed = 0;
        for (int i = 0; i < 3000; ++i) {
            QByteArray bytes = (i % 2) ? bin : xml;
            const int edits = 1 + int(random.bounded(6));
            for (int e = 0; e < edits; ++e) {
                const int at = int(random.bounded(bytes.size()));
                switch (random.bounded(3)) {
                case 0: bytes[at] = char(random.bounded(256)); break;
                case 1: bytes.truncate(at + 1); break;
                default: bytes.insert(at, char(random.bounded(256))); break;
                }
            }
            if (PropertyList::fromData(bytes))
                ++parsed;
        }
        qInfo("3000 mutated files (seed 20261205): %d still parsed, none crashed", parsed);
    }
};

QTEST_GUILESS_MAIN(PropertyListTest)
#include "tst_PropertyList.moc"
