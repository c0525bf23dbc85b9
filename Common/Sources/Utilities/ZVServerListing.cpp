#include "ZVServerListing_p.h"

#include "ZVUtility.h"

namespace ZVServerListing {

const QString kDirectory = QStringLiteral("directory");
const QString kNotDirectory = QStringLiteral("not directory");

namespace {

const QString kFilePath = QStringLiteral("filePath");
const QString kFileSize = QStringLiteral("fileSize");
const QString kFileModificationDate = QStringLiteral("fileModificationDate");
const QString kVersion = QStringLiteral("Version");

// The last component as the platform's paths have it: trailing slashes do not count, and a
// path of slashes only is "/".
QString lastPathComponent(const QString &path)
{
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == QLatin1Char('/'))
        --end;
    if (end == 1 && path[0] == QLatin1Char('/'))
        return QStringLiteral("/");
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'), end - 1);
    return path.mid(slash + 1, end - slash - 1);
}

bool isHiddenName(const QString &name) { return name.startsWith(QLatin1Char('.')); }

} // namespace

QString remotePath(const QString &folder, const QString &name)
{
    return folder == QLatin1String("/") ? QLatin1Char('/') + name : folder + QLatin1Char('/') + name;
}

QString pieceValue(const QString &piece)
{
    return piece.mid(ZVUtility::LocateCharecterInChar(piece, QLatin1Char('[')) + 1);
}

QString rebuiltName(const QStringList &pieces, qsizetype first)
{
    Q_ASSERT(first < pieces.size());
    QString name = pieceValue(pieces[first]);
    for (qsizetype i = first + 1; i + 1 < pieces.size(); ++i)
        name += QLatin1Char(']') + pieces[i];
    return name;
}

QList<qsizetype> nonEmptyTokenIndexes(const QStringList &tokens)
{
    QList<qsizetype> indexes;
    for (qsizetype i = 0; i < tokens.size(); ++i)
        if (!tokens[i].isEmpty())
            indexes.append(i);
    return indexes;
}

Parsed parseUserListing(const QString &listing, bool showHidden)
{
    static const QStringList kAlwaysSkipped{QStringLiteral("filelist_final.ldb"), QStringLiteral("filelist.ldb"),
                                            QStringLiteral("Encrypted_Data"),
                                            QStringLiteral("backup_restore_logs_do_not_delete")};
    Parsed parsed;
    const QStringList records = listing.split(QStringLiteral("||"));
    for (const QString &record : records) {
        if (record.isEmpty())
            continue;
        const QStringList parts = record.split(QStringLiteral("//"));
        if (parts.size() < 2)
            continue;
        const QStringList fields = parts[1].split(QLatin1Char('|'));
        if (fields.size() != 4)
            continue;
        const QString path = QLatin1Char('/') + fields[0];
        const QString name = lastPathComponent(path);
        if (!showHidden && isHiddenName(name))
            continue;
        if (kAlwaysSkipped.contains(name) || name.endsWith(QLatin1String(".idxlist")))
            continue;

        QVariantMap entry;
        entry.insert(kFilePath, name);
        entry.insert(kFileSize, fields[1]);
        entry.insert(kFileModificationDate, fields[2]);
        parsed.sizes.append({path, fields[1]});
        parsed.directories.append({path, fields[3].startsWith(QLatin1Char('4')) ? kDirectory : kNotDirectory});
        parsed.files.append(entry);
    }
    return parsed;
}

Parsed parseORXListing(const QString &folder, const QString &listing)
{
    Parsed parsed;
    const QStringList lines = listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList pieces = line.split(QLatin1Char(']'));
        if (pieces.size() < 6)
            continue;
        const QString type = pieceValue(pieces[0]);
        const QString size = pieceValue(pieces[1]);
        const QString version = pieceValue(pieces[2]);
        const QString date = pieceValue(pieces[3]);
        QString name = rebuiltName(pieces, 4);

        QVariantMap entry;
        if (type.startsWith(QLatin1Char('d')) || type.startsWith(QLatin1Char('-'))) {
            entry.insert(kVersion, version);
            if (name.contains(QLatin1Char('/')))
                name = name.split(QLatin1Char('/'))[1];
            const QString last = lastPathComponent(name);
            const bool leftOut = isHiddenName(name) || last == QLatin1String("backup_restore_logs_do_not_delete")
                || last.endsWith(QLatin1String(".idxlist"));
            if (!leftOut) {
                entry.insert(kFilePath, name);
                const QString path = remotePath(folder, name);
                if (type.startsWith(QLatin1Char('d'))) {
                    parsed.directories.append({path, kDirectory});
                } else {
                    parsed.directories.append({path, kNotDirectory});
                    entry.insert(kFileSize, size);
                    parsed.sizes.append({path, size});
                }
            }
        }
        if (line.size() > 23)
            entry.insert(kFileModificationDate, date);
        if (entry.contains(kFilePath))
            parsed.files.append(entry);
    }
    return parsed;
}

Parsed parseSnapshotListing(const QString &folder, const QVariantList &lines)
{
    Parsed parsed;
    for (const QVariant &element : lines) {
        if (element.typeId() != QMetaType::QString)
            continue;
        const QString line = element.toString();
        if (line.contains(QStringLiteral("/BackUp_nightly."))) {
            const QStringList pieces = line.split(QLatin1Char('/'));
            if (pieces.size() < 2)
                continue;
            const QString name = pieces[1].section(QLatin1Char('"'), 0, 0);
            QVariantMap entry;
            entry.insert(kFilePath, name);
            entry.insert(kFileModificationDate, QStringLiteral(" "));
            entry.insert(kFileSize, QStringLiteral(" "));
            parsed.directories.append({remotePath(folder, name), kDirectory});
            parsed.files.append(entry);
            continue;
        }
        const bool isDirectory = line.startsWith(QLatin1Char('d'));
        if (!(isDirectory || line.startsWith(QLatin1Char('-'))) || line.size() <= 43)
            continue;
        const QString name = line.mid(43);
        if (isHiddenName(name))
            continue;
        QVariantMap entry;
        entry.insert(kFilePath, name);
        entry.insert(kFileModificationDate, line.mid(23, 19));
        entry.insert(kFileSize, line.mid(11, 12));
        const QString path = remotePath(folder, name);
        if (isDirectory) {
            parsed.directories.append({path, kDirectory});
        } else {
            parsed.directories.append({path, kNotDirectory});
            parsed.sizes.append({path, line.mid(10, 13)});
        }
        parsed.files.append(entry);
    }
    return parsed;
}

} // namespace ZVServerListing
