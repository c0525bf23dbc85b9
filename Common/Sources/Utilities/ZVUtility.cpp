#include "ZVUtility.h"

#include <QFileInfo>
#include <cstdlib>

// ======================================================================================
// Console, version and file operations
// ======================================================================================

#include "Gestalt.h"
#include "NSStringFormat.h"
#include "SystemConfiguration.h"
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
    if (path.isEmpty() || (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()))
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

QString ZVUtility::formatedFileSizeAsString(SizeNumber size)
{
    // Interim: whole bytes only, until the decimal size texts are in place.
    return QStringLiteral("%1 bytes").arg(size.value_or(0));
}

ZVUtility::SizeNumber ZVUtility::formatedFileSize(SizeNumber size) { return size; }



// ======================================================================================
// Server listings and the remote checklist
// ======================================================================================



// ======================================================================================
// Local sizes and exclusions
// ======================================================================================



// ======================================================================================
// Volumes, Time Machine and snapshot folders
// ======================================================================================



// ======================================================================================
// Predicates
// ======================================================================================


