// ZVUtility: console, version and file operations.
#include "ZVUtility.h"

#include "Gestalt_p.h"
#include "NSStringFormat_p.h"
#include "ProcessRunner_p.h"
#include "SystemConfiguration_p.h"
#include "ZVLocalizedString.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {

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
    return ProcessRunner::runShell(command.toUtf8());
}

QString configuredPath(const char *key)
{
    return NSStringFormat::stringWithFormat(ZVLocalizedString(QString::fromLatin1(key), QString()));
}

} // namespace

void ZVUtility::removeFile(const QString &path)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    runShell(NSStringFormat::stringWithFormat(QStringLiteral("rm -rf \"%@\""), {path}));
}

QString ZVUtility::lastConsoleUserName()
{
    const QString outputPath = configuredPath("LastConsoleUserNameFilePath");
    const QString command = NSStringFormat::stringWithFormat(
        QStringLiteral("last | grep console | awk '{print $1}' > \"%@\""), {outputPath});
    if (runShell(command) == -1)
        return QStringLiteral("");
    const QString text = readUTF8File(outputPath);
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
    const QString outputPath = configuredPath("LogoutCommandOutputFilePath");
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
    if (runShell(command) == -1)
        return true;
    const QString text = readUTF8File(outputPath);
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
    return ProcessRunner::sendKill(id);
}

bool ZVUtility::isStringContainsKeyString(const QString &string, const QString &key)
{
    if (string.isNull() || key.isNull() || key.isEmpty())
        return false;
    return string.contains(key, Qt::CaseSensitive);
}
