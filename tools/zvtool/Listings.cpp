// zvtool listing: the backup server's listing output turned into the product's file entries,
// one JSON object per entry, in the listing's order.
#include "Commands.h"

#include "ZVUtility.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace {

// The listing text of FILE ("-" for standard input), read as UTF-8 (bytes that are not
// UTF-8 become U+FFFD). False, with a message on stderr, when it cannot be read.
bool readListing(const QString &file, QString *text)
{
    QFile f;
    bool opened = false;
    if (file == QLatin1String("-"))
        opened = f.open(stdin, QIODevice::ReadOnly);
    else {
        f.setFileName(file);
        opened = !QFileInfo(file).isDir() && f.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        std::fprintf(stderr, "zvtool: listing: cannot read %s\n", file.toUtf8().constData());
        return false;
    }
    *text = QString::fromUtf8(f.readAll());
    return true;
}

void printEntries(const QVariantList &entries)
{
    for (const QVariant &entry : entries)
        out() << QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(entry.toMap())).toJson(QJsonDocument::Compact))
              << '\n';
}

const char kListingUsage[] = "listing records FILE | listing bracketed FOLDER FILE | listing columns FOLDER PLIST";

} // namespace

int cmdListing(const QStringList &args)
{
    const QString kind = args.value(0);
    QString text;
    if (kind == QLatin1String("records")) {
        if (args.size() != 2)
            return usageError(QStringLiteral("usage: zvtool %1").arg(QLatin1String(kListingUsage)));
        if (!readListing(args[1], &text))
            return 1;
        printEntries(ZVUtility::collectServerFilesForUser(text, QString()));
        return 0;
    }
    if (kind == QLatin1String("bracketed")) {
        if (args.size() != 3)
            return usageError(QStringLiteral("usage: zvtool %1").arg(QLatin1String(kListingUsage)));
        if (!readListing(args[2], &text))
            return 1;
        printEntries(ZVUtility::collectORXServerFilesInFile(args[1], text));
        return 0;
    }
    if (kind == QLatin1String("columns")) {
        if (args.size() != 3)
            return usageError(QStringLiteral("usage: zvtool %1").arg(QLatin1String(kListingUsage)));
        // The operation itself reads a missing or damaged file as an empty listing; the tool
        // tells a missing one apart, as a mistyped path is the likelier cause.
        QFile f(args[2]);
        if (QFileInfo(args[2]).isDir() || !f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "zvtool: listing: cannot read %s\n", args[2].toUtf8().constData());
            return 1;
        }
        printEntries(ZVUtility::collectServerFilesInFileIsSnapshotEnabled(args[1], args[2], false));
        return 0;
    }
    return usageError(QStringLiteral("usage: zvtool %1").arg(QLatin1String(kListingUsage)));
}
