// ZVUtility: server listings and the remote checklist. The listings are parsed by
// ZVServerListing's pure functions; this file keeps the process-wide checklist they update.
#include "ZVUtility.h"

#include "NSUserDefaults_p.h"
#include "PropertyList_p.h"
#include "ZVServerListing_p.h"

#include <QHash>
#include <limits>

namespace {

// The remote checklist: created on first use by the collect operations (and
// setDirNodeSizeForFileWithParentFile) and deliberately never freed, so that it outlives
// every caller, static destructors included.
QHash<QString, QString> *uDirectoryChecklist = nullptr;
QHash<QString, QString> *uSizeChecklist = nullptr;
QVariantList *uServerFiles = nullptr;

const QString kShowHiddenFilesKey = QStringLiteral("ShowHiddenFilesKey "); // the blank belongs to the key

void createChecklistIfAbsent()
{
    if (!uDirectoryChecklist)
        uDirectoryChecklist = new QHash<QString, QString>;
    if (!uSizeChecklist)
        uSizeChecklist = new QHash<QString, QString>;
}

// Records PARSED's updates in the checklist, which exists.
void record(const ZVServerListing::Parsed &parsed)
{
    for (const auto &[path, size] : parsed.sizes)
        uSizeChecklist->insert(path, size);
    for (const auto &[path, state] : parsed.directories)
        uDirectoryChecklist->insert(path, state);
}

// The process-wide list of the last listing, replaced by FILES.
QVariantList &storedServerFiles(const QVariantList &files)
{
    if (!uServerFiles)
        uServerFiles = new QVariantList;
    *uServerFiles = files;
    return *uServerFiles;
}

QString joinedFrom(const QStringList &tokens, qsizetype first)
{
    return tokens.mid(first).join(QLatin1Char(' '));
}

} // namespace

QVariantList ZVUtility::collectServerFilesForUser(const QString &listing, const QString &user)
{
    Q_UNUSED(user);
    createChecklistIfAbsent();
    // Read once per listing: it cannot change the answer halfway through.
    const bool showHidden = NSUserDefaults::standardUserDefaults().boolForKey(kShowHiddenFilesKey);
    const ZVServerListing::Parsed parsed = ZVServerListing::parseUserListing(listing, showHidden);
    record(parsed);
    return storedServerFiles(parsed.files);
}

QVariantList ZVUtility::collectORXServerFilesInFile(const QString &folder, const QString &listing)
{
    createChecklistIfAbsent();
    const ZVServerListing::Parsed parsed = ZVServerListing::parseORXListing(folder, listing);
    record(parsed);
    return parsed.files;
}

QVariantList ZVUtility::collectServerFilesInFileIsSnapshotEnabled(const QString &folder, const QString &plistPath,
                                                                  bool isSnapshotEnabled)
{
    Q_UNUSED(isSnapshotEnabled);
    createChecklistIfAbsent();
    const auto content = PropertyList::readFile(plistPath);
    if (!content || content->typeId() != QMetaType::QVariantList)
        return storedServerFiles({});
    const ZVServerListing::Parsed parsed = ZVServerListing::parseSnapshotListing(folder, content->toList());
    record(parsed);
    return storedServerFiles(parsed.files);
}

void ZVUtility::setDirNodeSizeForFileWithParentFile(const QString &nodeType, const QString &size, const QString &name,
                                                    const QString &parent)
{
    using namespace ZVServerListing;
    const QString path = remotePath(parent, name);
    createChecklistIfAbsent();
    uSizeChecklist->insert(path, size);
    const bool directory = nodeType.startsWith(QLatin1Char('d')) || nodeType.startsWith(QLatin1Char('0'))
        || nodeType.startsWith(QLatin1Char('D'));
    uDirectoryChecklist->insert(path, directory ? kDirectory : kNotDirectory);
}

void ZVUtility::parsedEntriesForOutputInfoSearch1FileSizeFilePathFileModifiedDateVersion1(
    const QString &line, QString *fileSize, QString *filePath, QString *fileModifiedDate, QString *version1)
{
    using namespace ZVServerListing;
    const QStringList pieces = line.split(QLatin1Char(']'));
    if (pieces.size() < 5)
        return;
    if (fileModifiedDate)
        *fileModifiedDate = pieceValue(pieces[0]);
    if (fileSize)
        *fileSize = pieceValue(pieces[1]);
    if (version1)
        *version1 = pieceValue(pieces[2]);
    if (filePath)
        *filePath = rebuiltName(pieces, 4);
}

void ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
    const QString &line, QString *fileSize, QString *filePath, QString *fileModifiedDate, QString *version1,
    QString *filePermission, QString *version2, const QVariant &forORXUser)
{
    using namespace ZVServerListing;
    Q_UNUSED(version2);
    const QStringList pieces = line.split(QLatin1Char(']'));
    if (pieces.size() < 5)
        return;
    const QString size = pieceValue(pieces[1]);
    std::optional<QString> path; // none when the line has no name piece
    if (filePermission)
        *filePermission = pieceValue(pieces[0]);
    if (fileSize)
        *fileSize = size;
    if (forORXUser.isValid()) {
        if (version1)
            *version1 = pieceValue(pieces[2]);
        if (fileModifiedDate)
            *fileModifiedDate = pieceValue(pieces[3]);
        if (pieces.size() > 5)
            path = rebuiltName(pieces, 5);
    } else {
        if (fileModifiedDate)
            *fileModifiedDate = pieceValue(pieces[2]);
        path = rebuiltName(pieces, 3);
    }
    if (!path)
        return;
    if (filePath)
        *filePath = *path;
    if (uSizeChecklist)
        uSizeChecklist->insert(*path, size);
}

void ZVUtility::parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDate(
    const QString &line, QString &fileSize, QString &filePath, QString &fileModifiedDate)
{
    using namespace ZVServerListing;
    const QStringList tokens = line.split(QLatin1Char(' '));
    const QList<qsizetype> counted = nonEmptyTokenIndexes(tokens);
    if (counted.size() >= 2)
        fileSize = tokens[counted[1]];
    if (counted.size() >= 3)
        fileModifiedDate = tokens[counted[2]];
    if (counted.size() >= 5)
        filePath = joinedFrom(tokens, counted[4]);
}

void ZVUtility::parsedEntriesForInfoFileSizeFilePath(const QString &line, QString &fileSize, QString &filePath)
{
    using namespace ZVServerListing;
    const QStringList tokens = line.split(QLatin1Char(' '));
    const QList<qsizetype> counted = nonEmptyTokenIndexes(tokens);
    if (counted.size() >= 2)
        fileSize = tokens[counted[1]];
    // Never null: an empty text at worst.
    filePath = counted.size() >= 4 ? joinedFrom(tokens, counted[3] + 1) : line;
    if (filePath.isNull())
        filePath = QStringLiteral("");
}

void ZVUtility::parseErrorForVerificationFailedFile(const QString &error, QString *filePath)
{
    using namespace ZVServerListing;
    if (!isStringContainsKeyString(error, QStringLiteral("]")))
        return;
    const QStringList pieces = error.split(QLatin1Char(']'), Qt::SkipEmptyParts);
    if (pieces.size() < 5)
        return;
    if (filePath)
        *filePath = pieceValue(pieces[2]);
}

qint32 ZVUtility::LocateCharecterInChar(const QString &text, QChar character)
{
    const qsizetype index = text.indexOf(character);
    // Texts beyond 2^31 units are not listing lines; their far characters count as absent.
    return index < 0 || index > std::numeric_limits<qint32>::max() ? -1 : qint32(index);
}

void ZVUtility::setRemoteDirectoryStateForFile(const QString &state, const QString &remotePath)
{
    if (uDirectoryChecklist)
        uDirectoryChecklist->insert(remotePath, state);
}

void ZVUtility::setRemoteSizeForFile(const QString &size, const QString &remotePath)
{
    if (uSizeChecklist)
        uSizeChecklist->insert(remotePath, size);
}

QString ZVUtility::remoteFileSize(const QString &remotePath)
{
    if (!uSizeChecklist)
        return QString();
    const auto it = uSizeChecklist->constFind(remotePath);
    if (it == uSizeChecklist->constEnd())
        return QString();
    // A stored empty size is a size, never "none".
    return it->isNull() ? QStringLiteral("") : *it;
}

bool ZVUtility::isRemoteDirectory(const QString &remotePath)
{
    return uDirectoryChecklist
        && uDirectoryChecklist->value(remotePath) == ZVServerListing::kDirectory;
}

void ZVUtility::resetRemoteFileSize() {}

void ZVUtility::printRemoteDirectoryCheckList() {}

std::optional<QVariantList> ZVUtility::serverFiles() { return std::nullopt; }
