// Property-list files as the uninstaller reads its table and writes its marker (every form a Mac
// writes, writes that replace the path, hostile input refused before the parser sees it); lists shared
// many times archived once; paths as the uninstall forms them; the bundle's resource search.
#include "NSArray_Extensions.h"
#include "NSBundle_p.h"
#include "NSPathUtilities_p.h"
#include "NSStringFormat_p.h"
#include "PropertyList_p.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QLocale>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A binary property list of LEVELS nested arrays, each holding the next one REFS times (twice:
// copying every reference out doubles the tree at each level), or holding itself.
QByteArray nestedBinary(int levels, int refs, bool cycle = false)
{
    QByteArray out("bplist00"), table;
    auto be = [](QByteArray &to, quint64 v, int bytes) {
        for (int b = bytes - 1; b >= 0; --b)
            to.append(char(v >> (8 * b)));
    };
    for (int i = 0; i <= levels; ++i) {
        be(table, quint64(out.size()), 4);
        out.append(char(i == levels ? 0xA0 : 0xA0 | refs));
        for (int r = 0; i < levels && r < refs; ++r)
            be(out, quint64(cycle ? i : i + 1), 4);
    }
    const quint64 offset = quint64(out.size());
    out += table + QByteArray(6, '\0') + char(4) + char(4);
    be(out, quint64(levels + 1), 8);
    be(out, 0, 8);
    be(out, offset, 8);
    return out;
}

QByteArray utf16(const QString &text, QStringConverter::Encoding e)
{
    return QStringEncoder(e, QStringConverter::Flag::WriteBom).encode(text);
}

const QVariantMap kSample{{"text", "Grüße, 日本 and \"quotes\" <&>"}, {"empty", ""}, {"yes", true}, {"no", false},
                          {"big", qint64(1) << 40}, {"negative", qint64(-5)}, {"real", 2.5}, {"data", QByteArray("\x00\x01\xff", 3)},
                          {"date", QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)}, {"list", QVariantList{"a", qint64(1), QVariantMap{{"k", "v"}}}}};

} // namespace

class Foundation : public QObject {
    Q_OBJECT
    QScopedPointer<QTemporaryDir> dir;

private slots:
    void init() { dir.reset(new QTemporaryDir); }

    // Every form a Mac writes reads as the same value; anything else is refused (expected: no value),
    // the rows named "unsafe" before libplist sees them (it would recurse, copy or abort without bound).
    void reading_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("xml written here") << PropertyList::toData(kSample, PropertyList::Format::XML) << QVariant(kSample);
        QTest::newRow("binary written here") << PropertyList::toData(kSample, PropertyList::Format::Binary) << QVariant(kSample);
        const QVariantMap table{{"ApplicationName", "Tavrin for Mac"}, {"Path", "/Users/%@/Préférences"}};
        const QByteArray xml = PropertyList::toData(table, PropertyList::Format::XML);
        const QString xml16 = QString::fromUtf8(xml).replace("UTF-8", "UTF-16");
        QTest::newRow("xml, utf-8 with bom") << "\xEF\xBB\xBF" + xml << QVariant(table);
        QTest::newRow("xml, utf-16le with bom") << utf16(xml16, QStringConverter::Utf16LE) << QVariant(table);
        QTest::newRow("xml, utf-16be with bom") << utf16(xml16, QStringConverter::Utf16BE) << QVariant(table);
        const QString oldStyle = "// written by hand\n{\n  ApplicationName = \"Tavrin for Mac\"; /* brand */\n"
                                 "  Path = '/Users/%@/Pr\\U00e9f\\U00e9rences';\n}\n";
        QTest::newRow("old-style, utf-8") << oldStyle.toUtf8() << QVariant(table);
        QTest::newRow("old-style, utf-16le with bom") << utf16(oldStyle, QStringConverter::Utf16LE) << QVariant(table);
        QTest::newRow("old-style, utf-8 with bom") << "\xEF\xBB\xBF" + oldStyle.toUtf8() << QVariant(table);
        QTest::newRow("xml, utf-16le without bom") << QByteArray(QStringEncoder(QStringConverter::Utf16LE).encode(xml16)) << QVariant(table);
        QTest::newRow("old-style, utf-16be without bom") << QByteArray(QStringEncoder(QStringConverter::Utf16BE).encode(oldStyle)) << QVariant(table);
        QTest::newRow("strings file") << QByteArray("\"ApplicationName\" = \"Tavrin for Mac\";\nPath = \"/Users/%@/Pr\\U00e9f\\U00e9rences\";")
                                      << QVariant(table);
        const QVariantMap nested{{"a", QVariantList{"b", "c d", QVariantMap{{"e", "f"}}, QByteArray("\x0f\xbd\x77\x28")}},
                                 {"q", "say \"hi\"\n\\ A\t'"}, {"u", "x.y/z-1_$+:"}, {"empty", QVariantList{}}};
        QTest::newRow("old-style, nested and escapes")
            << QByteArray("{a = (b, \"c d\", {e = f;}, <0fbd 7728>,); q = \"say \\\"hi\\\"\\n\\\\ \\101\\t\\'\"; u = x.y/z-1_$+:; empty = (); }")
            << QVariant(nested);
        QTest::newRow("old-style, last ; left out") << QByteArray("{a = b}") << QVariant(QVariantMap{{"a", "b"}});
        for (auto [tag, bytes] : {std::pair{"old-style, ; missing", "{a = b c = d;}"}, {"old-style, not closed", "{a = (b, c;}"},
                                  {"old-style, comment not closed", "{a = b; /* }"}, {"old-style, text after the root", "{a = b;} c"},
                                  {"old-style, odd hex digits", "{a = <0fb>;}"}, {"invalid utf-8", "{a = \"\xC3\x28\";}"}, {"empty", ""},
                                  {"text", "not a property list"}, {"truncated xml", "<?xml version=\"1.0\"?><plist><dict><key>a</key><string>b"}, {"bare header", "bplist00"}})
            QTest::newRow(tag) << QByteArray(bytes) << QVariant();
        QTest::newRow("utf-16 of odd length") << utf16(oldStyle, QStringConverter::Utf16LE).chopped(1) << QVariant();
        // Texts holding a NUL: an ASCII value, a UTF-16 key (as Foundation writes them).
        QTest::newRow("unsafe: nul in ascii text") << QByteArray::fromHex("62706c6973743030d10102516153610062080b0d0000000000000101000000000000000300000000000000000000000000000011") << QVariant();
        QTest::newRow("unsafe: nul in utf-16 key") << QByteArray::fromHex("62706c6973743030d101026300e9000000785176080b120000000000000101000000000000000300000000000000000000000000000014") << QVariant();
        QVariant deep = QVariantList(), shared = QVariantList(), xmlDeep = QVariantList{QVariantList()};
        for (int i = 0; i < 100; ++i)
            deep = QVariantList{deep};
        for (int i = 0; i < 16; ++i)
            shared = QVariantList{shared, shared};
        for (int i = 1; i < 50; ++i)
            xmlDeep = QVariantList{QVariantList(), xmlDeep};
        QTest::newRow("nested 100 deep") << nestedBinary(100, 1) << deep;
        QTest::newRow("unsafe: nested 100,000 deep") << nestedBinary(100000, 1) << QVariant();
        QTest::newRow("shared 16 levels") << nestedBinary(16, 2) << shared;
        QTest::newRow("unsafe: shared 40 levels (2^40 copies)") << nestedBinary(40, 2) << QVariant();
        QTest::newRow("unsafe: array holding itself") << nestedBinary(3, 1, true) << QVariant();
        const QByteArray head("<?xml version=\"1.0\"?><plist version=\"1.0\">");
        QTest::newRow("unsafe: xml nested 200,000 deep") << head + QByteArray("<array>").repeated(200000) + QByteArray("</array>").repeated(200000) + "</plist>" << QVariant();
        QTest::newRow("xml nested 50 deep") << head + QByteArray("<array><array/>").repeated(50) + QByteArray("</array>").repeated(50) + "</plist>" << xmlDeep;
    }
    void reading()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QVariant, expected);
        QCOMPARE(PropertyList::isSafeToParse(bytes), !QByteArray(QTest::currentDataTag()).startsWith("unsafe"));
        const auto value = PropertyList::fromData(bytes);
        QCOMPARE(value.value_or(QVariant()), expected);
        QCOMPARE(value.has_value(), expected.isValid());
    }

    // What stands at the marker's path before the write. The write replaces the path itself: a link
    // planted there (the folder may be writable by others) is replaced, its target left as it was; an
    // older marker the writer may not write is replaced; a killed writer's temporary file is removed.
    void writeReplacesThePathItself_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("asUser");
        for (auto [tag, before, asUser] : {std::tuple{"older file", "file", false}, {"link to a victim file", "link", false}, {"link to a missing file", "dangling", false},
                                           {"older read-only marker of root, written by a user", "file", true}, {"temporary file of a killed writer", "leftover", false}})
            QTest::newRow(tag) << QString(before) << asUser;
    }
    void writeReplacesThePathItself()
    {
        QFETCH(QString, before);
        QFETCH(bool, asUser);
        if (::geteuid() != 0)
            QSKIP("needs root: writes as another user, reads a victim file");
        const QString folder = dir->filePath("shared"), path = folder + "/marker.plist", victim = dir->filePath("victim");
        const uid_t user = 61000 + uid_t(::getpid() % 3000);
        QVERIFY(QDir().mkpath(folder) && ::chown(QFile::encodeName(folder).constData(), user, user) == 0);
        QVERIFY(QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther));
        QVERIFY(TestSupport::writeFile(victim, "victim"));
        if (before == "file")
            QVERIFY(TestSupport::writeFile(path, QByteArray(5000, 'x')) && QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadOther));
        else if (before != "leftover")
            QVERIFY(QFile::link(before == "link" ? victim : dir->filePath("missing"), path));
        else
            QVERIFY(TestSupport::writeFile(folder + "/.marker.plist.zvtmp-Ab3dE9", "half a marker"));
        const QVariantMap marker{{"KILLDAEMON", true}};
        const auto write = [&] { return QByteArray(PropertyList::writeFile(marker, path, PropertyList::Format::XML, true) ? "written" : "refused"); };
        const mode_t old = ::umask(022);
        const QByteArray written = asUser ? TestSupport::inChild(write, -1, user) : write();
        ::umask(old);
        QCOMPARE(written, QByteArray("written"));
        QCOMPARE(PropertyList::readFile(path).value_or(QVariant()), QVariant(marker));
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & (S_IFMT | 07777), mode_t(S_IFREG | 0644));
        QCOMPARE(TestSupport::readFile(victim), QByteArray("victim"));
        QVERIFY(!QFileInfo::exists(dir->filePath("missing")));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"marker.plist"});
    }

    void writeFailures()
    {
        QVERIFY(!PropertyList::writeFile(QVariantMap{{"a", 1}}, dir->filePath("no/such/x.plist"), PropertyList::Format::XML, true));
        QVERIFY(!PropertyList::writeFile(QVariant(), dir->filePath("x.plist"), PropertyList::Format::XML, true));
        QVERIFY(!QFileInfo::exists(dir->filePath("x.plist")));
        // A text holding a NUL is not archived at all, rather than written cut short.
        QVERIFY(!MyExtensions::writeToArchivedFileWithKey(QVariantList{QString::fromUtf8("a\0b", 3)}, dir->filePath("nul.plist"), "Schedules"));
        QVERIFY(!QFileInfo::exists(dir->filePath("nul.plist")));
    }

    void sharedListArchivedOnce()
    {
        // A chain of 40 levels, each holding the level below twice: a small file and a quick
        // round trip (copied out, it would be 2^40 lists).
        QVariantList level{QStringLiteral("leaf")};
        for (int i = 0; i < 40; ++i)
            level = QVariantList{QVariant(level), QVariant(level)};
        const QString path = dir->filePath("chain.plist");
        QVERIFY(MyExtensions::writeToArchivedFileWithKey(QVariantList{QVariant(level)}, path, "Schedules"));
        QVERIFY(QFileInfo(path).size() < 20000);
        const auto back = MyExtensions::initWithContentsOfArchivedFileWithKey(path, "Schedules");
        QVERIFY(back && back->size() == 1);
        QVariant walk = back->at(0);
        for (int i = 0; i < 40; ++i) {
            QCOMPARE(walk.toList().size(), 2);
            walk = walk.toList().at(i % 2);
        }
        QCOMPARE(walk, QVariant(QVariantList{QStringLiteral("leaf")}));
    }

    // Paths as the uninstall forms them: standardized (HOME is /home/ann) or from a format used with
    // objects ("%@" taken in turn, "%%" a percent sign); the bundle's resource for the user's language
    // (among FILES, "X" standing for ".lproj/Localizable.plist").
    void paths_data()
    {
        QTest::addColumn<QString>("format"); // none: the path is standardized; "@LOCALE": the resource search
        QTest::addColumn<QString>("path"); // or the objects, or the files
        QTest::addColumn<QString>("expected");
        for (auto [tag, path, expected] : {std::tuple{"tilde", "~/Library/x.plist", "/home/ann/Library/x.plist"}, {"tilde alone", "~", "/home/ann"},
                                           {"dots and doubled slashes", "/a//b/./c/../d/", "/a/b/d"}, {"above the root", "/../../x", "/x"}, {"root", "/", "/"},
                                           {"relative keeps dot-dot", "a/../b/./c", "a/../b/c"}, {"tilde then dot-dot", "~/../bob/x", "/home/bob/x"},
                                           {"tilde of root user", "~root/x", "/root/x"}, {"tilde of unknown user", "~no-such-user-zv/x", "~no-such-user-zv/x"},
                                           {"tilde not leading", "/a/~/b", "/a/~/b"}, {"empty", "", ""}})
            QTest::newRow(tag) << QString() << path << expected;
        for (auto [tag, format, objects, expected] : {std::tuple{"user path", "/home/%@/x", "ann", "/home/ann/x"}, {"doubled percent", "/tmp/100%%/x", "", "/tmp/100%/x"},
                                                      {"object not re-read", "/home/%@/x", "%@%%", "/home/%@%%/x"}, {"missing object stays", "/home/%@/x", "", "/home/%@/x"},
                                                      {"other conversions stay", "%d %s %", "", "%d %s %"},
                                                      {"resource: English only", "@de_DE", "enX", "enX"}, {"resource: user's language over English", "@de_DE", "enX deX", "deX"},
                                                      {"resource: English user keeps English", "@en_US", "enX deX", "enX"},
                                                      {"resource: region before language", "@de_AT", "deX de_ATX", "de_ATX"},
                                                      {"resource: old language names", "@de_DE", "EnglishX GermanX", "GermanX"},
                                                      {"resource: under Resources", "@de_DE", "enX Resources/deX", "Resources/deX"},
                                                      {"resource: no language owns it: first", "@de_DE", "Localizable.plist deX", "Localizable.plist"},
                                                      {"resource: Base after English", "@de_DE", "BaseX frX", "BaseX"}, {"resource: none", "@de_DE", "frX", ""}})
            QTest::newRow(tag) << format << QString(objects).replace("X", ".lproj/Localizable.plist") << QString(expected).replace("X", ".lproj/Localizable.plist");
    }
    void paths()
    {
        QFETCH(QString, format);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        if (format.startsWith('@')) {
            for (const QString &file : path.split(' '))
                QVERIFY(TestSupport::writeFile(dir->filePath(file), "x"));
            NSBundle::mainBundle().setResourcePath(dir->path());
            QLocale::setDefault(QLocale(format.mid(1)));
            const QString found = NSBundle::mainBundle().pathForResourceOfType("Localizable", "plist");
            QLocale::setDefault(QLocale::system());
            QCOMPARE(found, expected.isEmpty() ? QString() : QFileInfo(dir->filePath(expected)).absoluteFilePath());
            return;
        }
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", "/home/ann");
        const QString got = format.isNull() ? stringByStandardizingPath(path) : NSStringFormat::stringWithFormat(format, path.split(' ', Qt::SkipEmptyParts));
        qputenv("HOME", home);
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(Foundation)
#include "tst_Foundation.moc"
