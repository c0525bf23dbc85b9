#include "ZVUtility.h"

#include <QFileInfo>
#include <cstdlib>

// ======================================================================================
// Console, version and file operations
// ======================================================================================

#include "Gestalt_p.h"
#include "NSStringFormat_p.h"
#include "SystemConfiguration_p.h"
#include "ZVLocalizedString.h"

#include <QFile>
#include <QStringDecoder>
#include <csignal>

namespace consoleAndFiles {

// The whole file as UTF-8 text; null when it cannot be read or is not valid UTF-8.
QString readUTF8File(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(file.readAll());
    if (decoder.hasError())
        return QString();
    return text.isNull() ? QStringLiteral("") : text;
}

int runShell(const QString &command)
{
    return std::system(command.toUtf8().constData());
}

QString configuredPath(const char *key)
{
    return NSStringFormat::stringWithFormat(ZVLocalizedString(QString::fromLatin1(key), QString()));
}

} // namespace consoleAndFiles

void ZVUtility::removeFile(const QString &path)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    consoleAndFiles::runShell(NSStringFormat::stringWithFormat(QStringLiteral("rm -rf \"%@\""), {path}));
}

QString ZVUtility::lastConsoleUserName()
{
    const QString outputPath = consoleAndFiles::configuredPath("LastConsoleUserNameFilePath");
    const QString command = NSStringFormat::stringWithFormat(
        QStringLiteral("last | grep console | awk '{print $1}' > \"%@\""), {outputPath});
    if (consoleAndFiles::runShell(command) == -1)
        return QStringLiteral("");
    const QString text = consoleAndFiles::readUTF8File(outputPath);
    if (text.isNull())
        return QStringLiteral("");
    const QStringList parts = text.split(QLatin1Char('\n'));
    removeFile(outputPath);
    return parts.first();
}

QString ZVUtility::MacOSVersionWithBugfix()
{
    SInt32 major = 0, minor = 0, bugFix = 0;
    if (Gestalt(gestaltSystemVersionMajor, &major) != noErr)
        major = 0;
    if (Gestalt(gestaltSystemVersionMinor, &minor) != noErr)
        minor = 0;
    if (Gestalt(gestaltSystemVersionBugFix, &bugFix) != noErr)
        bugFix = 0;
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(bugFix);
}

bool ZVUtility::isApplicationRunningForUserUser(const QString &application, const QString &user)
{
    const QString outputPath = consoleAndFiles::configuredPath("LogoutCommandOutputFilePath");
    SInt32 version = 0;
    if (Gestalt(gestaltSystemVersion, &version) != noErr)
        version = 0;
    QString format;
    if (version >= 0x1040 && version <= 0x104F)
        format = QStringLiteral("sudo ps -xwwwU \"%@\" | awk '{print $5}' | grep %@ > \"%@\"");
    else if (version >= 0x1050)
        format = QStringLiteral("sudo ps -xwwwu \"%@\" | awk '{print $5}' | grep %@ > \"%@\"");
    else
        return true;
    if (application.isNull() || user.isNull())
        return true;
    const QString command = NSStringFormat::stringWithFormat(format, {user, application, outputPath});
    if (consoleAndFiles::runShell(command) == -1)
        return true;
    const QString text = consoleAndFiles::readUTF8File(outputPath);
    if (text.isNull())
        return false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (isStringContainsKeyString(line, application)) {
            removeFile(outputPath);
            return true;
        }
    }
    return false;
}

QString ZVUtility::currentConsoleUserName()
{
    uid_t uid = 0;
    gid_t gid = 0;
    return SCDynamicStoreCopyConsoleUser(nullptr, &uid, &gid);
}

int ZVUtility::killProcess(qint32 id)
{
    if (id < 1)
        return 0;
    return ::kill(pid_t(id), SIGKILL);
}

bool ZVUtility::isStringContainsKeyString(const QString &string, const QString &key)
{
    if (string.isNull() || key.isNull() || key.isEmpty())
        return false;
    return string.contains(key, Qt::CaseSensitive);
}



// ======================================================================================
// Size texts
// ======================================================================================

// Kept inside this section so that the sections can change independently.
#include "NSDecimalNumber_p.h"
#include <charconv>
#include <cmath>

namespace {

constexpr quint64 kKibi = 1024;
constexpr quint64 kMebi = 1048576;
constexpr quint64 kGibi = 1073741824;

// VALUE ÷ DIVISOR as a decimal quotient text, through the platform's decimal numbers.
QString decimalQuotient(unsigned __int128 value, quint64 divisor, qint16 scale, NSRoundingMode mode)
{
    QString digits;
    do {
        digits.prepend(QLatin1Char(char('0' + int(value % 10))));
        value /= 10;
    } while (value != 0);
    const NSDecimalNumberHandler behavior = NSDecimalNumberHandler::
        decimalNumberHandlerWithRoundingModeScaleRaiseOnExactnessRaiseOnOverflowRaiseOnUnderflowRaiseOnDivideByZero(
            mode, scale, false, false, false, false);
    const NSDecimalNumber dividend = NSDecimalNumber::decimalNumberWithString(digits);
    const NSDecimalNumber quotient = dividend.decimalNumberByDividingByWithBehavior(
        NSDecimalNumber::decimalNumberWithString(QString::number(divisor)), behavior);
    return quotient.stringValue();
}

// "%.<precision>lf" of a double as the C library writes it in the "C" locale, whatever the
// process's locale.
QString fixedDecimals(double value, int precision)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    if (result.ec != std::errc())
        return QString();
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

QString ZVUtility::formatedFileSizeAsString(SizeNumber size)
{
    if (!size)
        return QStringLiteral("0 bytes");
    const quint64 v = *size;
    if (v < kKibi)
        return QStringLiteral("%1 bytes").arg(v);
    if (v < kMebi)
        return QStringLiteral("%1 KB").arg(decimalQuotient(v, kKibi, 1, NSRoundUp));
    if (v < kGibi)
        return QStringLiteral("%1 MB").arg(decimalQuotient(v, kMebi, 1, NSRoundUp));
    return QStringLiteral("%1 GB").arg(decimalQuotient(v, kGibi, 1, NSRoundUp));
}

QString ZVUtility::formatedFileSizeAsStringWithDecimalTruncated(SizeNumber size)
{
    if (!size)
        return QStringLiteral("0 bytes");
    const quint64 v = *size;
    if (v < kKibi)
        return QStringLiteral("%1 bytes").arg(v);
    if (v < kMebi)
        return QStringLiteral("%1 KB").arg(decimalQuotient(v, kKibi, 1, NSRoundPlain));

    // At most 2^64 / 2^20 = 2^44 after the double's rounding, so the conversion is defined.
    const quint64 wholeMebibytes = quint64(double(v) * std::ldexp(1.0, -20));
    const bool thousandBased = wholeMebibytes % 1000 == 0;
    constexpr quint64 kTeraThreshold = 1073741824000ULL;
    if (v < kGibi)
        return QStringLiteral("%1 MB").arg(decimalQuotient(v, thousandBased ? 1024000 : kMebi, 1, NSRoundPlain));
    if (v < kTeraThreshold)
        return QStringLiteral("%1 GB").arg(
            decimalQuotient(v, thousandBased ? 1048576000ULL : kGibi, 1, NSRoundPlain));
    return QStringLiteral("%1 TB").arg(
        decimalQuotient(v, thousandBased ? 1048576000000ULL : kTeraThreshold, 1, NSRoundPlain));
}

QString ZVUtility::formatedFileSizeInBits(SizeNumber size)
{
    if (!size)
        return QStringLiteral("1 bytes");
    unsigned __int128 bits = static_cast<unsigned __int128>(*size) * 8;
    if (bits == 0)
        bits = 51200;
    if (bits < kKibi)
        return QStringLiteral("%1 bytes").arg(quint64(bits));
    if (bits < kMebi)
        return QStringLiteral("%1 Kb").arg(decimalQuotient(bits, kKibi, 2, NSRoundPlain));
    if (bits < kGibi)
        return QStringLiteral("%1 Mb").arg(decimalQuotient(bits, kMebi, 2, NSRoundPlain));
    return QStringLiteral("%1 Gb").arg(decimalQuotient(bits, kGibi, 2, NSRoundPlain));
}

QString ZVUtility::formatedFileSizeForOutlineView(SizeNumber size)
{
    const double d = double(size.value_or(0));
    if (d < 1024)
        return fixedDecimals(d, 0) + QStringLiteral(" bytes");
    if (d >= 1024 && d < 1048576)
        return fixedDecimals(d * 0.0009765625, 2) + QStringLiteral(" KB");
    if (d >= 1048576 && d < 1073741824)
        return fixedDecimals(d / 1048576, 2) + QStringLiteral(" MB");
    if (d >= 1073741824)
        return fixedDecimals(d / 1073741824, 2) + QStringLiteral(" GB");
    return QStringLiteral(""); // not a number
}

ZVUtility::SizeNumber ZVUtility::formatedFileSize(SizeNumber size) { return SizeNumber(size.value_or(0)); }

QString ZVUtility::timeDisplayFormatHourMinuteSeconds(qint32 hour, qint32 minute, qint32 seconds)
{
    const auto part = [](qint32 value) {
        // Tested as unsigned, so negative values fall to the plain form.
        return quint32(value) <= 9 ? QStringLiteral("0%1").arg(value) : QString::number(value);
    };
    return QStringLiteral("%1:%2:%3").arg(part(hour), part(minute), part(seconds));
}



// ======================================================================================
// Server listings and the remote checklist
// ======================================================================================

// Kept inside this section so that the sections can change independently.
#include "NSUserDefaults_p.h"
#include "PropertyList_p.h"
#include <QHash>
#include <limits>

namespace {
namespace ServerListing {

// The remote checklist: created on first use by the collect operations (and
// setDirNodeSizeForFileWithParentFile) and deliberately never freed, so that it outlives
// every caller, static destructors included.
QHash<QString, QString> *uDirectoryChecklist = nullptr;
QHash<QString, QString> *uSizeChecklist = nullptr;
QVariantList *uServerFiles = nullptr;

const QString kDirectory = QStringLiteral("directory");
const QString kNotDirectory = QStringLiteral("not directory");
const QString kFilePath = QStringLiteral("filePath");
const QString kFileSize = QStringLiteral("fileSize");
const QString kFileModificationDate = QStringLiteral("fileModificationDate");
const QString kVersion = QStringLiteral("Version");
const QString kShowHiddenFilesKey = QStringLiteral("ShowHiddenFilesKey "); // the blank belongs to the key

void createChecklistIfAbsent()
{
    if (!uDirectoryChecklist)
        uDirectoryChecklist = new QHash<QString, QString>;
    if (!uSizeChecklist)
        uSizeChecklist = new QHash<QString, QString>;
}

QVariantList &freshServerFiles()
{
    if (!uServerFiles)
        uServerFiles = new QVariantList;
    *uServerFiles = QVariantList();
    return *uServerFiles;
}

QString remotePath(const QString &folder, const QString &name)
{
    return folder == QLatin1String("/") ? QLatin1Char('/') + name : folder + QLatin1Char('/') + name;
}

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

// A piece's value: its text behind its first "[", or the whole piece without one.
QString pieceValue(const QString &piece)
{
    return piece.mid(ZVUtility::LocateCharecterInChar(piece, QLatin1Char('[')) + 1);
}

// The name that starts at piece FIRST and runs to the second-to-last piece; always holds at
// least its first piece, which must exist.
QString rebuiltName(const QStringList &pieces, qsizetype first)
{
    Q_ASSERT(first < pieces.size());
    QString name = pieceValue(pieces[first]);
    for (qsizetype i = first + 1; i + 1 < pieces.size(); ++i)
        name += QLatin1Char(']') + pieces[i];
    return name;
}

// The indexes of the non-empty tokens of a line cut at every single space.
QList<qsizetype> nonEmptyTokenIndexes(const QStringList &tokens)
{
    QList<qsizetype> indexes;
    for (qsizetype i = 0; i < tokens.size(); ++i)
        if (!tokens[i].isEmpty())
            indexes.append(i);
    return indexes;
}

QString joinedFrom(const QStringList &tokens, qsizetype first)
{
    return tokens.mid(first).join(QLatin1Char(' '));
}

} // namespace ServerListing
} // namespace

QVariantList ZVUtility::collectServerFilesForUser(const QString &listing, const QString &user)
{
    using namespace ServerListing;
    Q_UNUSED(user);
    createChecklistIfAbsent();
    QVariantList &files = freshServerFiles();
    // Read once per listing: it cannot change the answer halfway through.
    const bool showHidden = NSUserDefaults::standardUserDefaults().boolForKey(kShowHiddenFilesKey);
    static const QStringList kAlwaysSkipped{QStringLiteral("filelist_final.ldb"), QStringLiteral("filelist.ldb"),
                                            QStringLiteral("Encrypted_Data"),
                                            QStringLiteral("backup_restore_logs_do_not_delete")};

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
        uSizeChecklist->insert(path, fields[1]);
        uDirectoryChecklist->insert(path, fields[3].startsWith(QLatin1Char('4')) ? kDirectory : kNotDirectory);
        files.append(entry);
    }
    return files;
}

QVariantList ZVUtility::collectORXServerFilesInFile(const QString &folder, const QString &listing)
{
    using namespace ServerListing;
    createChecklistIfAbsent();
    QVariantList files;
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
                    uDirectoryChecklist->insert(path, kDirectory);
                } else {
                    uDirectoryChecklist->insert(path, kNotDirectory);
                    entry.insert(kFileSize, size);
                    uSizeChecklist->insert(path, size);
                }
            }
        }
        if (line.size() > 23)
            entry.insert(kFileModificationDate, date);
        if (entry.contains(kFilePath))
            files.append(entry);
    }
    return files;
}

QVariantList ZVUtility::collectServerFilesInFileIsSnapshotEnabled(const QString &folder, const QString &plistPath,
                                                                  bool isSnapshotEnabled)
{
    using namespace ServerListing;
    Q_UNUSED(isSnapshotEnabled);
    createChecklistIfAbsent();
    const auto content = PropertyList::readFile(plistPath);
    QVariantList &files = freshServerFiles();
    if (!content || content->typeId() != QMetaType::QVariantList)
        return files;

    const QVariantList lines = content->toList();
    for (const QVariant &element : lines) {
        if (element.typeId() != QMetaType::QString)
            continue;
        const QString line = element.toString();
        if (isStringContainsKeyString(line, QStringLiteral("/BackUp_nightly."))) {
            const QStringList pieces = line.split(QLatin1Char('/'));
            if (pieces.size() < 2)
                continue;
            const QString name = pieces[1].section(QLatin1Char('"'), 0, 0);
            QVariantMap entry;
            entry.insert(kFilePath, name);
            entry.insert(kFileModificationDate, QStringLiteral(" "));
            entry.insert(kFileSize, QStringLiteral(" "));
            uDirectoryChecklist->insert(remotePath(folder, name), kDirectory);
            files.append(entry);
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
            uDirectoryChecklist->insert(path, kDirectory);
        } else {
            uDirectoryChecklist->insert(path, kNotDirectory);
            uSizeChecklist->insert(path, line.mid(10, 13));
        }
        files.append(entry);
    }
    return files;
}

void ZVUtility::setDirNodeSizeForFileWithParentFile(const QString &nodeType, const QString &size, const QString &name,
                                                    const QString &parent)
{
    using namespace ServerListing;
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
    using namespace ServerListing;
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
    using namespace ServerListing;
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
    using namespace ServerListing;
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
    using namespace ServerListing;
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
    using namespace ServerListing;
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
    if (ServerListing::uDirectoryChecklist)
        ServerListing::uDirectoryChecklist->insert(remotePath, state);
}

void ZVUtility::setRemoteSizeForFile(const QString &size, const QString &remotePath)
{
    if (ServerListing::uSizeChecklist)
        ServerListing::uSizeChecklist->insert(remotePath, size);
}

QString ZVUtility::remoteFileSize(const QString &remotePath)
{
    if (!ServerListing::uSizeChecklist)
        return QString();
    const auto it = ServerListing::uSizeChecklist->constFind(remotePath);
    if (it == ServerListing::uSizeChecklist->constEnd())
        return QString();
    // A stored empty size is a size, never "none".
    return it->isNull() ? QStringLiteral("") : *it;
}

bool ZVUtility::isRemoteDirectory(const QString &remotePath)
{
    return ServerListing::uDirectoryChecklist
        && ServerListing::uDirectoryChecklist->value(remotePath) == ServerListing::kDirectory;
}

void ZVUtility::resetRemoteFileSize() {}

void ZVUtility::printRemoteDirectoryCheckList() {}

std::optional<QVariantList> ZVUtility::serverFiles() { return std::nullopt; }



// ======================================================================================
// Local sizes and exclusions
// ======================================================================================

#include "Files.h"
#include "NSWorkspace.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {

const QString kUserSpecifiedExclusion = QStringLiteral("User specified Exclusion");
const QString kDefaultExclusion = QStringLiteral("Default Exclusion");
const QString kEnableExcludeHiddenFilesKey = QStringLiteral("enableExcludeHiddenFilesKey");

bool isVolumePath(const QString &path)
{
    return path == QLatin1String("/") || ZVUtility::listMountedVolumesPaths().contains(path);
}

// Capacity minus free space of the file system holding PATH; none when it cannot be asked.
ZVUtility::SizeNumber volumeUsedSpace(const QString &path)
{
    struct statvfs fs;
    if (path.isEmpty() || ::statvfs(QFile::encodeName(path).constData(), &fs) != 0)
        return std::nullopt;
    const quint64 blocks = quint64(fs.f_blocks);
    const quint64 freeBlocks = quint64(fs.f_bfree);
    return blocks > freeBlocks ? (blocks - freeBlocks) * quint64(fs.f_frsize) : 0;
}

// st_size of PATH following links, 0 when it has no attributes.
quint64 followedFileSize(const QString &path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return quint64(st.st_size);
}

// Resolves PATH (following links) into REF; false when it cannot.
bool pathRef(const QString &path, FSRef *ref)
{
    const CFIndex size = CFStringGetMaximumSizeOfFileSystemRepresentation(path);
    std::vector<char> bytes(size_t(size), 0);
    return CFStringGetFileSystemRepresentation(path, bytes.data(), size)
        && FSPathMakeRef(reinterpret_cast<const UInt8 *>(bytes.data()), ref, nullptr) == noErr;
}

// The directory enumerator's total: the size of every entry below FOLDER, folders and links
// as themselves (links not followed), walked by the File Manager's tree walk with at most
// WORKERS workers (0: one per CPU). KEEP, when given, is called for every entry from the
// workers, concurrently, with the entry's path below FOLDER: false leaves the entry out,
// neither counted nor entered. 0 when FOLDER cannot be walked.
quint64 enumeratedSize(const QString &folder, int workers,
                       const std::function<bool(const QString &relative)> &keep = {})
{
    FSRef ref;
    if (!pathRef(folder, &ref))
        return 0;
    FSWalkOptions options;
    options.maxWorkers = workers;
    options.countFolders = true;
    if (keep) {
        options.paths = true;
        options.filter = [&keep](const FSWalkEntry &entry) {
            QByteArray relative(entry.folder, qsizetype(entry.folderLength));
            relative += entry.name;
            return keep(QFile::decodeName(relative));
        };
    }
    FSWalkTotals totals;
    FSWalkTree(&ref, options, &totals);
    return totals.bytes;
}

ZVUtility::SizeNumber exclusionTotal(const QString &user, const QVariantMap &settings, const QString &key)
{
    quint64 total = 0;
    if (user.isEmpty() || settings.isEmpty())
        return total;
    const QVariantMap exclusions = settings.value(user).toMap().value(key).toMap();
    for (auto it = exclusions.cbegin(); it != exclusions.cend(); ++it) {
        if (!it.value().toBool())
            continue;
        const QString &path = it.key();
        if (ZVUtility::isDirectory(path))
            total += enumeratedSize(path, 0);
        else
            total += followedFileSize(path);
    }
    return total;
}

} // namespace

ZVUtility::SizeNumber ZVUtility::getFolderSize(const QString &path)
{
    if (isVolumePath(path))
        return volumeUsedSpace(path);
    FSRef ref;
    if (!pathRef(path, &ref))
        return std::nullopt;
    return fastFolderSizeAtFSRef(ref);
}

// The walk lists folders in parallel (Files.h: FSWalkTree); its total is that of the catalog
// iteration in batches of 256: every item that is no folder adds its data and resource fork
// sizes, a folder adds what is below it, and a folder whose listing fails part way loses
// the items of its unfinished batch.
quint64 ZVUtility::fastFolderSizeAtFSRef(const FSRef &folder)
{
    FSWalkOptions options;
    options.batch = 256;
    FSWalkTotals totals;
    FSWalkTree(&folder, options, &totals);
    return totals.bytes;
}

ZVUtility::SizeNumber ZVUtility::calculateSizeOfFile(const QString &path)
{
    SizeNumber total = 0;
    if (isDirectory(path)) {
        if (isVolumePath(path)) {
            total = volumeUsedSpace(path);
        } else {
            // One worker: the pause after each entry paces the walk as a whole.
            total = enumeratedSize(path, 1, [](const QString &) {
                ::usleep(10000);
                return true;
            });
        }
    } else {
        total = followedFileSize(path);
    }
    return formatedFileSize(total);
}

QString ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary(const QString &path, const QString &user,
                                                                    const QVariantMap &excludedDictionary)
{
    SizeNumber total = 0;
    if (isVolumePath(path)) {
        total = volumeUsedSpace(path);
        if (total && path == QLatin1String("/")) {
            const quint64 excluded =
                totalSizeOfDefaultExclusionForUserWithExcludedDictionary(user, excludedDictionary).value_or(0)
                + totalSizeOfUserExclusionForUserWithExcludedDictionary(user, excludedDictionary).value_or(0);
            total = *total > excluded ? *total - excluded : 0;
        }
    } else if (isDirectory(path)) {
        const QVariantMap userDictionary = excludedDictionary.value(user).toMap();
        // Everything below an excluded folder is excluded as well.
        total = enumeratedSize(path, 0, [&](const QString &relative) {
            const QString full = path + QLatin1Char('/') + relative;
            return !shouldExcludeUserFileUserDictionary(full, userDictionary)
                && !shouldExcludeHiddenFileUserDictionary(full, excludedDictionary);
        });
    } else {
        total = followedFileSize(path);
    }
    return formatedFileSizeAsString(total);
}

ZVUtility::SizeNumber ZVUtility::totalSizeOfUserExclusionForUserWithExcludedDictionary(
    const QString &user, const QVariantMap &excludedDictionary)
{
    return exclusionTotal(user, excludedDictionary, kUserSpecifiedExclusion);
}

ZVUtility::SizeNumber ZVUtility::totalSizeOfDefaultExclusionForUserWithExcludedDictionary(
    const QString &user, const QVariantMap &excludedDictionary)
{
    return exclusionTotal(user, excludedDictionary, kDefaultExclusion);
}

ZVUtility::SizeNumber ZVUtility::calculateTotalSizeInArray(const QStringList &paths)
{
    quint64 total = 0;
    for (const QString &path : paths) {
        if (!isFileExists(path))
            continue;
        if (isDirectory(path))
            total += getFolderSize(path).value_or(0);
        else
            total += followedFileSize(path);
    }
    return total;
}

bool ZVUtility::shouldExcludeUserFileUserDictionary(const QString &path, const QVariantMap &userDictionary)
{
    const QVariantMap exclusions = userDictionary.value(kUserSpecifiedExclusion).toMap();
    for (auto it = exclusions.cbegin(); it != exclusions.cend(); ++it) {
        if (!it.key().isEmpty() && path.startsWith(it.key()) && it.value().toBool())
            return true;
    }
    return false;
}

bool ZVUtility::shouldExcludeHiddenFileUserDictionary(const QString &path, const QVariantMap &settings)
{
    const auto it = settings.constFind(kEnableExcludeHiddenFilesKey);
    if (it != settings.cend() && !it.value().toBool())
        return false;
    return isChildOfHiddenFolder(path);
}

bool ZVUtility::isChildOfHiddenFolder(const QString &path)
{
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &c : components) {
        if (c.startsWith(QLatin1Char('.')) && c != QLatin1String(".") && c != QLatin1String(".."))
            return true;
    }
    return false;
}

void ZVUtility::filterUndeletableFiles(QStringList &paths)
{
    static const char *const kMarks[] = {";", "=", "..", "./", "././"};
    paths.removeIf([](const QString &path) {
        for (const char *mark : kMarks) {
            if (path.contains(QLatin1String(mark)))
                return true;
        }
        return false;
    });
}

bool ZVUtility::hasReadPermissionForFile(const QString &path)
{
    QString prefix = QStringLiteral("/");
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &component : components) {
        prefix += component + QLatin1Char('/');
        QByteArray bytes = QFile::encodeName(prefix);
        struct stat st;
        if (::stat(bytes.constData(), &st) != 0) {
            if (errno != ENOTDIR)
                continue;
            // "file/" names no folder: the file itself is judged without the slash.
            bytes.chop(1);
            if (::stat(bytes.constData(), &st) != 0)
                continue;
        }
        if (::access(bytes.constData(), R_OK) != 0)
            return false;
    }
    return true;
}

bool ZVUtility::isWritableFileAtPath(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray bytes = QFile::encodeName(path);
    return ::access(bytes.constData(), W_OK) == 0 && ::access(bytes.constData(), R_OK) == 0;
}

bool ZVUtility::isEmptyFolder(const QString &path)
{
    FSRef ref;
    FSIterator iterator = nullptr;
    if (path.isEmpty() || !pathRef(path, &ref) || FSOpenIterator(&ref, kFSIterateFlat, &iterator) != noErr)
        return true;
    ItemCount count = 0;
    FSGetCatalogInfoBulk(iterator, 1, &count, nullptr, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr);
    FSCloseIterator(iterator);
    return count == 0;
}

void ZVUtility::removeFolder(const QString &path)
{
    if (path == QLatin1String(".") || path == QLatin1String("..") || !isFileExists(path))
        return;
    const QByteArray bytes = QFile::encodeName(path);
    struct stat st;
    if (::lstat(bytes.constData(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode))
        QDir(path).removeRecursively();
    else
        ::unlink(bytes.constData());
}

bool ZVUtility::isFileExistsForAutoSync(const QString &path)
{
    if (path.isEmpty())
        return false; // nothing can be there
    const CFIndex size = CFStringGetMaximumSizeOfFileSystemRepresentation(path);
    std::vector<char> bytes(size_t(size), 0);
    if (!CFStringGetFileSystemRepresentation(path, bytes.data(), size))
        return false;
    FSRef ref;
    return FSPathMakeRef(reinterpret_cast<const UInt8 *>(bytes.data()), &ref, nullptr) != fnfErr;
}

QString ZVUtility::userPreferencePath()
{
    return QStringLiteral("%1/Library/Preferences/").arg(QDir::homePath());
}



// ======================================================================================
// Volumes, Time Machine and snapshot folders
// ======================================================================================

#include <algorithm>
#include <dirent.h>

namespace {

const QString kTimeMachineFolderName = QStringLiteral("Backups.backupdb");

// The names directly inside PATH, in the order the file system gives ("." and ".." left out).
QStringList directoryContents(const QString &path)
{
    QStringList names;
    DIR *dir = path.isEmpty() ? nullptr : ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return names;
    while (const struct dirent *e = ::readdir(dir)) {
        const char *name = e->d_name;
        if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))))
            names.append(QFile::decodeName(name));
    }
    ::closedir(dir);
    return names;
}

// udev writes unusual bytes of a label as "\xHH".
QString decodeUdevLabel(const QByteArray &name)
{
    QByteArray out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            bool ok = false;
            const int byte = name.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out += char(byte);
                i += 3;
                continue;
            }
        }
        out += name[i];
    }
    return QString::fromUtf8(out);
}

// Calls ONMATCH(path) for each Time Machine folder, in search order, until it returns true.
template<class OnMatch>
void searchTimeMachineFolders(OnMatch onMatch)
{
    const QStringList volumes = ZVUtility::listMountedVolumesPaths();
    for (const QString &volume : volumes) {
        const QStringList names = directoryContents(volume);
        for (const QString &name : names) {
            const QString path = QStringLiteral("%1/%2").arg(volume, name);
            if (name == kTimeMachineFolderName && ZVUtility::isDirectory(path) && onMatch(path))
                return;
        }
    }
}

QString entryFilePath(const QVariant &entry)
{
    return entry.toMap().value(QStringLiteral("filePath")).toString();
}

bool isSnapshotEntry(const QVariant &entry)
{
    return entryFilePath(entry).startsWith(QLatin1String("BackUp_nightly"));
}

bool isMacEntry(const QVariant &entry)
{
    return entryFilePath(entry).endsWith(QLatin1String("_MAC"));
}

} // namespace

QString ZVUtility::startupVolumeDisplayName()
{
    QFile file(QStringLiteral("/etc/startup-volume-name"));
    if (file.open(QIODevice::ReadOnly)) {
        const QString name = QString::fromUtf8(file.readLine(4096)).trimmed();
        if (!name.isEmpty())
            return name;
    }
    struct stat root;
    if (::stat("/", &root) != 0)
        return QString();
    const QString labels = QStringLiteral("/dev/disk/by-label");
    const QStringList names = directoryContents(labels);
    for (const QString &name : names) {
        struct stat device;
        const QByteArray link = QFile::encodeName(labels + QLatin1Char('/') + name);
        if (::stat(link.constData(), &device) == 0 && S_ISBLK(device.st_mode) && device.st_rdev == root.st_dev)
            return decodeUdevLabel(QFile::encodeName(name));
    }
    return QString();
}

QStringList ZVUtility::listMountedVolumesPaths()
{
    const QString volumesFolder = QStringLiteral("/Volumes");
    QStringList volumes;
    const QStringList names = directoryContents(volumesFolder);
    if (names.isEmpty())
        return volumes;
    const QString startupName = startupVolumeDisplayName();
    for (const QString &name : names) {
        const QString path = QStringLiteral("%1/%2").arg(volumesFolder, name);
        if (!isDirectory(path))
            continue;
        volumes.append(!startupName.isNull() && name == startupName ? QStringLiteral("/") : path);
    }
    return volumes;
}

bool ZVUtility::isTimeMachineFolderPresent()
{
    bool found = false;
    searchTimeMachineFolders([&found](const QString &) { return found = true; });
    return found;
}

bool ZVUtility::isTimeMachineFolderPresentLocallyAndInBackupSet(const QStringList &backupSetPaths)
{
    bool found = false;
    searchTimeMachineFolders([&](const QString &folder) {
        for (const QString &path : backupSetPaths) {
            if (isStringContainsKeyString(path, kTimeMachineFolderName) || path == folder)
                return found = true;
        }
        return false;
    });
    return found;
}

QStringList ZVUtility::timeMachineFolders()
{
    QStringList folders;
    searchTimeMachineFolders([&folders](const QString &folder) {
        folders.append(folder);
        return false;
    });
    return folders;
}

QVariantList &ZVUtility::sortMacFoldersInSnapshots(QVariantList &files)
{
    std::stable_partition(files.begin(), files.end(), isMacEntry);
    return files;
}

void ZVUtility::moveSnapshotFoldersToTop(QVariantList &files)
{
    const auto snapshotsEnd = std::stable_partition(files.begin(), files.end(), isSnapshotEntry);
    std::stable_partition(snapshotsEnd, files.end(), isMacEntry);
}

QString ZVUtility::snapshotVersion(const QString &name)
{
    if (!name.contains(QLatin1String("BackUp_nightly.")))
        return QStringLiteral("");
    const QStringList pieces = name.split(QLatin1Char('_'));
    if (pieces.size() < 2)
        return QStringLiteral("");
    const QStringList parts = pieces.at(1).split(QLatin1Char('.'));
    if (parts.size() < 2)
        return QStringLiteral("");
    return parts.at(1);
}

bool ZVUtility::isSupportedImageFileWithExtensions(const QString &path, const QStringList &extensions)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const QString last = trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString(QLatin1String("")) : last.mid(dot + 1).toLower();
    return extensions.contains(extension);
}

bool ZVUtility::isDirectory(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ZVUtility::isFileExists(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool ZVUtility::isMacDirectory(const QString &path)
{
    if (!isFileExists(path))
        return false;
    if (!isDirectory(path))
        return true;
    return NSWorkspace::sharedWorkspace().isFilePackageAtPath(path);
}



// ======================================================================================
// Predicates
// ======================================================================================

// Kept inside this section so that the sections can change independently.
#include <QApplication>
#include <QWidget>
#include <fnmatch.h>

bool ZVUtility::isEmailID(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('@'));
    if (parts.size() != 2)
        return false;
    const QStringList domain = parts[1].split(QLatin1Char('.'));
    return domain.size() >= 2 && !domain[0].isEmpty();
}

bool ZVUtility::isValidEmailID(const QString &text)
{
    if (!isEmailID(text))
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool allowed = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '@'
            || u == '-' || u == '.' || u == '_';
        if (!allowed)
            return false;
    }
    return true;
}

bool ZVUtility::isStringMatchesPattern(const QString &name, const QString &pattern)
{
    static_assert(FNM_CASEFOLD == 16, "the case-folding flag has the platform's value");
    const QByteArray n = name.toUtf8();
    const QByteArray p = pattern.toUtf8();
    // fnmatch sees C strings: a NUL inside either text would cut it short and match a part.
    if (n.contains('\0') || p.contains('\0'))
        return false;
    return fnmatch(p.constData(), n.constData(), FNM_CASEFOLD) == 0;
}

bool ZVUtility::isFrontWindow(QWidget *window)
{
    if (!window || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;
    const auto onScreen = [](const QWidget *w) {
        return w->isWindow() && w->isVisible() && !w->isMinimized() && w->windowType() != Qt::ToolTip;
    };
    QWidget *front = QApplication::activeWindow();
    if (!front || !onScreen(front)) {
        front = nullptr;
        int count = 0;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (onScreen(w)) {
                front = w;
                ++count;
            }
        }
        if (count != 1)
            return false;
    }
    return front == window;
}
