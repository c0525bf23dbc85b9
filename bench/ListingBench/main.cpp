// The server listings over generated and mutated lines: search results in both bracketed
// layouts, bracketed folder listings and record listings against a model of their rules
// (entries and remote checklist), space-separated lines, then mutations of all of these,
// binary noise and lines beyond 100000 characters, through every parser and collect
// operation: nothing may crash, every value handed out is a piece of its line, the bracketed
// parsers write exactly when the line has their pieces. Fails at the first wrong answer; the
// cases it finds belong in Tests/Utility as rows.
//
//   build/bin/ListingBench [SEED [LINES_PER_LAYOUT [MUTATED]]]     (defaults: 424242, 4000, 40000)
#include "PropertyList_p.h"
#include "ZVUtility.h"

#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>

// Checks that end the run with a message.
#define QFAIL(message) do { std::fprintf(stderr, "FAIL: %s\n", message); return 1; } while (false)
#define QVERIFY(condition) do { if (!(condition)) QFAIL(#condition); } while (false)
#define QCOMPARE(actual, expected) QVERIFY((actual) == (expected))

namespace {

using Entries = QList<QVariantMap>;

Entries entriesOf(const QVariantList &list)
{
    Entries entries;
    for (const QVariant &v : list) {
        if (v.typeId() != QMetaType::QVariantMap)
            qFatal("a list element is not a file entry");
        entries.append(v.toMap());
    }
    return entries;
}

// Every value of a list of entries is a text, and the entries have a name.
bool wellFormed(const Entries &entries)
{
    for (const QVariantMap &e : entries) {
        if (!e.contains(QStringLiteral("filePath")))
            return false;
        for (const QVariant &v : e)
            if (v.typeId() != QMetaType::QString)
                return false;
    }
    return true;
}

QString remotePath(const QString &folder, const QString &name)
{
    return folder == QLatin1String("/") ? QStringLiteral("/") + name : folder + QStringLiteral("/") + name;
}


int kGeneratedPerLayout = 4000;
int kMutated = 40000;
constexpr int kLongLines = 12;

class LineMaker {
public:
    explicit LineMaker(quint32 seed) : m_random(seed) {}

    int below(int n) { return int(m_random.bounded(n)); }
    bool chance(int percent) { return below(100) < percent; }

    // A text of FROM..TO characters drawn from ALPHABET (units or surrogate pairs).
    QString text(const QStringList &alphabet, int from, int to)
    {
        const int n = from + below(to - from + 1);
        QString t;
        for (int i = 0; i < n; ++i)
            t += alphabet[below(int(alphabet.size()))];
        return t;
    }
    // A field value between brackets: anything but "]".
    QString field() { return text(kField, 0, 12); }
    // A name: anything, "]" and "[" and "/" included, but no line feed.
    QString name()
    {
        static const QStringList special{QStringLiteral(".hidden"), QStringLiteral("backup_restore_logs_do_not_delete"),
                                         QStringLiteral("x.idxlist"), QStringLiteral("filelist.ldb")};
        if (chance(5))
            return special[below(int(special.size()))];
        return text(kName, 1, 24);
    }
    // A name for the record listing: no "|", no "//", no slash at either end.
    QString recordName()
    {
        if (chance(5))
            return QStringLiteral(".profile");
        QString n = text(kRecordName, 1, 16);
        return n;
    }
    QString mutate(QString line)
    {
        const int steps = 1 + below(5);
        for (int s = 0; s < steps; ++s) {
            const int at = line.isEmpty() ? 0 : below(int(line.size()) + 1);
            switch (below(6)) {
            case 0: // delete a run
                line.remove(at, 1 + below(8));
                break;
            case 1: // insert a nasty character
                line.insert(at, kNasty[below(int(kNasty.size()))]);
                break;
            case 2: // repeat a run
                line.insert(at, line.mid(below(int(line.size()) + 1), below(16)));
                break;
            case 3: // cut short
                line.truncate(at);
                break;
            case 4: // a random 16-bit unit, lone surrogates included
                line.insert(at, QChar(char16_t(m_random.bounded(0x10000))));
                break;
            default: // a run of bytes read as UTF-8, as damaged output is
                QByteArray bytes;
                for (int i = below(12); i > 0; --i)
                    bytes.append(char(m_random.bounded(256)));
                line.insert(at, QString::fromUtf8(bytes));
                break;
            }
        }
        return line;
    }

private:
    QRandomGenerator m_random;
    const QStringList kField{"a", "Z", "0", "9", "-", " ", ":", "[", "/", ".", QString::fromUtf8("é"), QString::fromUtf8("日")};
    const QStringList kName{"a", "b", "Z", "0", " ", "  ", "]", "[", "/", ".", "-", "\"", "|", "\t",
                            QString::fromUtf8("é"), QString::fromUtf8("日"), QString::fromUtf8("\xF0\x9F\x98\x80")};
    const QStringList kRecordName{"a", "b", "Z", "0", " ", "]", "[", ".", "-", QString::fromUtf8("ü"),
                                  QString::fromUtf8("\xF0\x9F\x98\x80")};
    const QStringList kNasty{"[", "]", "]]", "|", "||", "/", "//", "\n", " ", "  ", QString(QChar(0)), "\"", ".",
                             QString(QChar(0xD800)), QString(QChar(0xFFFF)), "/BackUp_nightly.", "@"};
};

// The bracketed pieces' count, counted here without cutting.
int piecesOf(const QString &line) { return int(line.count(QLatin1Char(']'))) + 1; }

// NAME after the bracketed listing's rules: its second "/"-component when it holds a slash.
QString listedName(const QString &name)
{
    if (!name.contains(QLatin1Char('/')))
        return name;
    const qsizetype first = name.indexOf(QLatin1Char('/'));
    const qsizetype second = name.indexOf(QLatin1Char('/'), first + 1);
    return name.mid(first + 1, second < 0 ? -1 : second - first - 1);
}

} // namespace

int run(quint32 seed, const QString &folder)
{
    LineMaker maker(seed);
    QStringList corpus; // every generated line, for the mutations
    int checkedLines = 0;
    const QString mark = QStringLiteral("\x01untouched");

    // Search results in both bracketed layouts: every value comes back, the name rebuilt.
    for (int i = 0; i < kGeneratedPerLayout; ++i) {
        const QString a = maker.field(), b = maker.field(), c = maker.field(), d = maker.field(), e = maker.field();
        const QString name = maker.name();
        const QString search1 = QStringLiteral("[%1][%2][%3][%4][%5]").arg(a, b, c, d, name);
        QString size = mark, path = mark, date = mark, version = mark, permission = mark, version2 = mark;
        ZVUtility::parsedEntriesForOutputInfoSearch1FileSizeFilePathFileModifiedDateVersion1(search1, &size, &path, &date,
                                                                                               &version);
        if (date != a || size != b || version != c || path != name)
            QFAIL(qPrintable(QStringLiteral("search1 line %1 read as %2|%3|%4|%5").arg(search1, date, size, version, path)));

        const QString marker = QStringLiteral("[%1][%2][%3][%4][%5][%6]").arg(a, b, c, d, e, name);
        size = path = date = version = mark;
        ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
            marker, &size, &path, &date, &version, &permission, &version2, QVariant(1));
        if (permission != a || size != b || version != c || date != d || path != name || version2 != mark)
            QFAIL(qPrintable(QStringLiteral("ORX line %1 misread").arg(marker)));

        const QString plain = QStringLiteral("[%1][%2][%3][%4]").arg(a, b, c, name);
        size = path = date = version = permission = mark;
        ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
            plain, &size, &path, &date, &version, &permission, &version2, QVariant());
        if (permission != a || size != b || date != c || path != name || version != mark)
            QFAIL(qPrintable(QStringLiteral("ORX line without marker %1 misread").arg(plain)));

        const QString error = QStringLiteral("%1[E] [%2] [%3] [%4] [%5]").arg(d, a, name.contains(QLatin1Char(']')) ? b : name, c, e);
        path = mark;
        ZVUtility::parseErrorForVerificationFailedFile(error, &path);
        const QString wantedError = name.contains(QLatin1Char(']')) ? b : name;
        if (path != wantedError)
            QFAIL(qPrintable(QStringLiteral("error %1 read as %2").arg(error, path)));
        corpus << search1 << marker << plain << error;
        checkedLines += 4;
    }

    // Bracketed folder listings: entries and checklist follow a model of the rules.
    {
        QStringList lines;
        Entries expected;
        QHash<QString, QPair<bool, QString>> states; // remote path -> directory, size
        const QString folder = QStringLiteral("/gen");
        for (int i = 0; i < kGeneratedPerLayout; ++i) {
            const QString type = QStringList{"drwx", "-rw", "lrw", "", "d", "-"}[maker.below(6)];
            const QString size = maker.field(), version = maker.field(), date = maker.field();
            const QString name = maker.name();
            const QString line = QStringLiteral("[%1][%2][%3][%4][%5]").arg(type, size, version, date, name);
            lines << line;
            const bool dir = type.startsWith(QLatin1Char('d'));
            if (!dir && !type.startsWith(QLatin1Char('-')))
                continue;
            const QString shown = listedName(name);
            if (shown.startsWith(QLatin1Char('.')) || shown == QLatin1String("backup_restore_logs_do_not_delete")
                || shown.endsWith(QLatin1String(".idxlist")))
                continue;
            QVariantMap e{{QStringLiteral("filePath"), shown}, {QStringLiteral("Version"), version}};
            if (!dir)
                e.insert(QStringLiteral("fileSize"), size);
            if (line.size() > 23)
                e.insert(QStringLiteral("fileModificationDate"), date);
            expected << e;
            states.insert(remotePath(folder, shown), {dir, dir ? QString() : size});
        }
        const Entries actual = entriesOf(ZVUtility::collectORXServerFilesInFile(folder, lines.join(QLatin1Char('\n'))));
        QCOMPARE(actual.size(), expected.size());
        for (qsizetype i = 0; i < actual.size(); ++i)
            if (actual[i] != expected[i])
                QFAIL(qPrintable(QStringLiteral("listed entry %1 is %2").arg(i).arg(
                    actual[i].value(QStringLiteral("filePath")).toString())));
        for (auto it = states.cbegin(); it != states.cend(); ++it) {
            QCOMPARE(ZVUtility::isRemoteDirectory(it.key()), it->first);
            if (!it->first)
                QCOMPARE(ZVUtility::remoteFileSize(it.key()), it->second);
        }
        corpus << lines;
        checkedLines += int(lines.size());
    }

    // Record listings.
    {
        QStringList records;
        Entries expected;
        for (int i = 0; i < kGeneratedPerLayout; ++i) {
            QStringList components;
            for (int c = maker.below(3); c >= 0; --c)
                components << maker.recordName();
            const QString relative = QStringLiteral("rec/") + components.join(QLatin1Char('/'));
            const QString size = QString::number(maker.below(100000));
            const QString type = QStringList{"40755", "100644", "4", "0"}[maker.below(4)];
            records << QStringLiteral("junk%1//%2|%3|2011-05-%4|%5").arg(i).arg(relative, size).arg(maker.below(30)).arg(type);
            const QString name = components.last();
            if (name.startsWith(QLatin1Char('.')))
                continue;
            expected << QVariantMap{{QStringLiteral("filePath"), name},
                                    {QStringLiteral("fileSize"), size},
                                    {QStringLiteral("fileModificationDate"), records.last().section(QLatin1Char('|'), 2, 2)}};
        }
        const Entries actual = entriesOf(ZVUtility::collectServerFilesForUser(records.join(QStringLiteral("||")), QString()));
        QCOMPARE(actual, expected);
        corpus << records;
        checkedLines += int(records.size());
    }

    // Space-separated lines: values are found at their places in the line.
    for (int i = 0; i < kGeneratedPerLayout; ++i) {
        QStringList tokens;
        for (int t = 1 + maker.below(8); t > 0; --t)
            tokens << maker.text({"a", "1", "é", "[", "]", "/", "-"}, 1, 6);
        QString line = QString(maker.below(3), QLatin1Char(' '));
        QList<qsizetype> starts;
        for (const QString &t : tokens) {
            starts << line.size();
            line += t + QString(1 + maker.below(3), QLatin1Char(' '));
        }
        if (maker.chance(50))
            line.chop(1);
        QString size = mark, path = mark, date = mark;
        ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDate(line, size, path, date);
        if (size != (tokens.size() >= 2 ? tokens[1] : mark) || date != (tokens.size() >= 3 ? tokens[2] : mark)
            || path != (tokens.size() >= 5 ? line.mid(starts[4]) : mark))
            QFAIL(qPrintable(QStringLiteral("search line '%1' read as %2|%3|%4").arg(line, size, date, path)));
        size = mark;
        ZVUtility::parsedEntriesForInfoFileSizeFilePath(line, size, path);
        const QString wantedPath = tokens.size() >= 4 ? line.mid(starts[3] + tokens[3].size() + 1) : line;
        if (size != (tokens.size() >= 2 ? tokens[1] : mark) || path != wantedPath)
            QFAIL(qPrintable(QStringLiteral("info line '%1' read as %2|%3").arg(line, size, path)));
        corpus << line;
        ++checkedLines;
    }

    // Mutations of all of the above, plain binary noise, and very long lines: nothing may
    // crash, every value handed out is a piece of its line, and the bracketed parsers write
    // exactly when the line has their pieces.
    int mutated = 0;
    for (int i = 0; i < kMutated + kLongLines; ++i) {
        QString line;
        if (i >= kMutated) {
            // Mutated pieces strung together beyond 100000 characters.
            while (line.size() <= 100000)
                line += maker.mutate(corpus[maker.below(int(corpus.size()))]);
        } else if (maker.chance(5)) {
            line = maker.mutate(QString());
        } else {
            line = maker.mutate(corpus[maker.below(int(corpus.size()))]);
        }
        const int pieces = piecesOf(line);
        const auto partOfLine = [&line, &mark](const QString &value) { return value == mark || line.contains(value); };

        QString size = mark, path = mark, date = mark, version = mark, permission = mark, version2 = mark;
        ZVUtility::parsedEntriesForOutputInfoSearch1FileSizeFilePathFileModifiedDateVersion1(line, &size, &path, &date,
                                                                                               &version);
        if ((pieces >= 5) != (size != mark) || (pieces >= 5) != (path != mark) || !partOfLine(size)
            || !partOfLine(path) || !partOfLine(date) || !partOfLine(version))
            QFAIL(qPrintable(QStringLiteral("search1 parser on mutated line %1").arg(i)));

        for (const QVariant &marker : {QVariant(), QVariant(QStringLiteral("ORX"))}) {
            size = path = date = version = permission = mark;
            ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
                line, &size, &path, &date, &version, &permission, &version2, marker);
            const int namePiece = marker.isValid() ? 6 : 5;
            if ((pieces >= 5) != (permission != mark) || (pieces >= namePiece) != (path != mark) || version2 != mark
                || !partOfLine(size) || !partOfLine(path) || !partOfLine(date) || !partOfLine(version)
                || !partOfLine(permission))
                QFAIL(qPrintable(QStringLiteral("ORX parser on mutated line %1").arg(i)));
        }

        path = mark;
        ZVUtility::parseErrorForVerificationFailedFile(line, &path);
        if (!partOfLine(path))
            QFAIL(qPrintable(QStringLiteral("verification error parser on mutated line %1").arg(i)));

        size = path = date = mark;
        ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDate(line, size, path, date);
        if (!partOfLine(size) || !partOfLine(path) || !partOfLine(date))
            QFAIL(qPrintable(QStringLiteral("search line parser on mutated line %1").arg(i)));
        size = mark;
        ZVUtility::parsedEntriesForInfoFileSizeFilePath(line, size, path);
        if (!partOfLine(size) || path.isNull() || !line.contains(path))
            QFAIL(qPrintable(QStringLiteral("info parser on mutated line %1").arg(i)));

        if (ZVUtility::LocateCharecterInChar(line, QLatin1Char('[')) != line.indexOf(QLatin1Char('[')))
            QFAIL("LocateCharecterInChar");

        // The listings, fed one mutated line (and every hundredth time a block of them).
        const QString listing = i % 100 == 0 ? corpus.mid(maker.below(int(corpus.size()) - 60), 50).join(QLatin1Char('\n')) + line
                                             : line;
        const Entries bracketed = entriesOf(ZVUtility::collectORXServerFilesInFile(QStringLiteral("/m"), listing));
        const Entries records = entriesOf(ZVUtility::collectServerFilesForUser(listing, QString()));
        if (!wellFormed(bracketed) || !wellFormed(records))
            QFAIL(qPrintable(QStringLiteral("collect on mutated line %1 gave a malformed entry").arg(i)));
        for (const Entries &list : {bracketed, records})
            for (const QVariantMap &e : list)
                for (const QVariant &v : e)
                    if (!listing.contains(v.toString()))
                        QFAIL(qPrintable(QStringLiteral("collect on mutated line %1 invented a value").arg(i)));
        ++mutated;
    }

    // The column listing reads its lines from a file: the mutated corpus goes through it too.
    {
        QVariantList lines;
        LineMaker columns(seed + 1);
        for (int i = 0; i < 2000; ++i)
            lines << columns.mutate(QStringLiteral("-rwxr-xr-x@        1024 2011-05-02 10:11:12 ") + columns.name());
        for (int i = 0; i < 2000; ++i)
            lines << columns.mutate(QStringLiteral("drwxr-xr-x  /Volumes/B/BackUp_nightly.2011-05-0%1\" x").arg(i % 10));
        const QString plist = folder + QStringLiteral("/mutated-columns.plist");
        QVERIFY(PropertyList::writeFile(lines, plist, PropertyList::Format::Binary, false));
        const Entries entries = entriesOf(ZVUtility::collectServerFilesInFileIsSnapshotEnabled(QStringLiteral("/c"), plist, false));
        QVERIFY(wellFormed(entries));
        QVERIFY(entries.size() > 1000);
        checkedLines += int(lines.size());
    }

    std::printf("seed %u: %d generated lines checked, %d mutated lines (%d of them over 100000 characters)\n",
          seed, checkedLines, mutated, kLongLines);
    QCOMPARE(mutated, kMutated + kLongLines);
    return 0;
}


int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const quint32 seed = argc > 1 ? QByteArray(argv[1]).toUInt() : 424242;
    if (argc > 2)
        kGeneratedPerLayout = QByteArray(argv[2]).toInt();
    if (argc > 3)
        kMutated = QByteArray(argv[3]).toInt();
    // The user's defaults (hidden names) live in HOME: a private one, without settings.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QDir().mkpath(ZVUtility::userPreferencePath());
    return run(seed, home.path());
}
