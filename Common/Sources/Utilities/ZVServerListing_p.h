// The server listings' parsers, pure functions of their input: each turns a listing into the
// file entries ZVUtility's collect operations return and the remote checklist's updates,
// which ZVUtility applies to its process-wide checklist. The rules of each listing are those
// stated at the collect operations in ZVUtility.h.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <utility>

namespace ZVServerListing {

extern const QString kDirectory;    // "directory"
extern const QString kNotDirectory; // "not directory"

// What one listing yields: the file entries in listing order and the checklist's updates
// (remote path, value), to be applied in order so that a later line wins.
struct Parsed {
    QVariantList files;
    QList<std::pair<QString, QString>> sizes;
    QList<std::pair<QString, QString>> directories;
};

// "||"-separated records of "...//path|size|date|mode" (collectServerFilesForUser); hidden
// names are kept only with SHOWHIDDEN.
Parsed parseUserListing(const QString &listing, bool showHidden);

// Lines of "]"-separated pieces under FOLDER (collectORXServerFilesInFile).
Parsed parseORXListing(const QString &folder, const QString &listing);

// The text elements of a snapshot listing's property list under FOLDER
// (collectServerFilesInFileIsSnapshotEnabled); elements that are no texts are skipped.
Parsed parseSnapshotListing(const QString &folder, const QVariantList &lines);

// FOLDER/NAME as the server names it ("/NAME" under the root).
QString remotePath(const QString &folder, const QString &name);

// A piece's value: its text behind its first "[", or the whole piece without one.
QString pieceValue(const QString &piece);

// The name that starts at piece FIRST and runs to the second-to-last piece; holds at least
// piece FIRST, which the caller guarantees exists.
QString rebuiltName(const QStringList &pieces, qsizetype first);

// The indexes of the non-empty tokens of a line cut at every single space.
QList<qsizetype> nonEmptyTokenIndexes(const QStringList &tokens);

} // namespace ZVServerListing
