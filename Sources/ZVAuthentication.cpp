#include "ZVAuthentication.h"

#include <QProcess>
#include <unistd.h>

ZVAuthentication *ZVAuthentication::sharedInstance()
{
    static ZVAuthentication *instance = new ZVAuthentication;
    return instance;
}

ZVAuthentication::ZVAuthentication() = default;

ZVAuthentication::~ZVAuthentication() { deauthenticate(); }

// Until the administrator dialog is in place, only a process running as root holds rights.
bool ZVAuthentication::isAuthenticated(const QStringList &entries)
{
    if (entries.isEmpty())
        return false;
    m_rightsHeld = geteuid() == 0;
    return m_rightsHeld;
}

bool ZVAuthentication::fetchPassword(const QStringList &entries)
{
    return !entries.isEmpty() && geteuid() == 0;
}

bool ZVAuthentication::authenticate(const QStringList &entries)
{
    if (isAuthenticated(entries))
        return true;
    fetchPassword(entries);
    return isAuthenticated(entries);
}

void ZVAuthentication::deauthenticate() { m_rightsHeld = false; }

bool ZVAuthentication::executeCommandWithArgs(const QString &tool, const QStringList &args)
{
    if (!authenticate({tool}))
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, args.mid(0, 19));
    if (!process.waitForStarted())
        return false;
    process.waitForFinished(-1);
    return true;
}

bool ZVAuthentication::unloadLaunchctlProcess(const QString &path)
{
    Q_UNUSED(path);
    return false;
}

#include "NSStringFormat.h"
#include "NSWorkspace.h"
#include "ZVLocalizedString.h"
#include "ZVProcessListing.h"
#include "ZVUtility.h"

#include <QFile>
#include <cstdlib>

// The listings of the product's processes and the scratch listing of killProcess; "%@" is
// the name (and, in the scratch command, the output file path).
static const char kAllProcessesListingCommand[] = "/bin/ps -axwwopid,command,user | grep \"%@\"";
static const char kPIDListingCommand[] = "/bin/ps -axwwopid,command | grep \"%@\"";
static const char kProcessInstancesCommand[] = "ps -axww | grep %@ > \"%@\"";

QList<qint32> ZVAuthentication::getAllProcessIDsWithName(const QString &name)
{
    const QString command = NSStringFormat::stringWithFormat(
        QString::fromLatin1(kAllProcessesListingCommand), {name});
    return ZVProcessListing::processIDsFromCommand(command, name,
                                                   ZVProcessListing::Encoding::ASCII);
}

qint32 ZVAuthentication::getPID(const QString &name)
{
    const QString command =
        NSStringFormat::stringWithFormat(QString::fromLatin1(kPIDListingCommand), {name});
    const auto output = ZVProcessListing::readCommandOutput(command);
    if (!output || output->isEmpty())
        return 0;
    const QString text = ZVProcessListing::decode(*output, ZVProcessListing::Encoding::ASCII);
    if (text.isEmpty())
        return 0;
    return ZVProcessListing::firstProcessIDInListing(text, name);
}

bool ZVAuthentication::killProcess(const QString &name)
{
    const QString outputPath = NSStringFormat::stringWithFormat(
        ZVLocalizedString(QStringLiteral("UninstallProcessInstanceCommandOutputFilePath"), QString()));
    const QString command = NSStringFormat::stringWithFormat(
        QString::fromLatin1(kProcessInstancesCommand), {name, outputPath});
    const int status = std::system(command.toUtf8().constData());
    Q_UNUSED(status);

    // One line per running instance, plus the pipeline's own grep and shell lines, plus the
    // empty text after the last newline: the passes are the lines beyond two.
    QStringList lines;
    QFile output(outputPath);
    if (output.open(QIODevice::ReadOnly)) {
        const QString text =
            ZVProcessListing::decode(output.readAll(), ZVProcessListing::Encoding::UTF8);
        if (!text.isNull())
            lines = text.split(QLatin1Char('\n'));
    }

    bool result = true;
    const QStringList entries{name};
    for (qsizetype pass = 0; pass < lines.size() - 2; ++pass) {
        if (!isAuthenticated(entries))
            authenticate(entries);
        const qint32 id = getPID(name);
        result = id >= 1
            ? executeCommandWithArgs(QStringLiteral("/bin/kill"),
                                     {QStringLiteral("-9"), QString::number(id)})
            : true;
    }
    ZVUtility::removeFile(outputPath);
    return result;
}

// Stops every listed instance at once, each with a privileged "/bin/kill" "-9" <id>; true
// when the rights are held and every kill was run (also when nothing runs under the name),
// false when the rights are refused (nothing is listed or signalled then) or a kill could not
// be run (the remaining ids are still tried).
bool ZVAuthentication::killAllProcessWithName(const QString &name)
{
    const QStringList entries{name};
    if (!isAuthenticated(entries) && !authenticate(entries))
        return false;
    bool result = true;
    const QList<qint32> ids = getAllProcessIDsWithName(name);
    for (const qint32 id : ids) {
        const QString idText = QString::number(id);
        if (!executeCommandWithArgs(QStringLiteral("/bin/kill"), {QStringLiteral("-9"), idText}))
            result = false;
    }
    return result;
}

bool ZVAuthentication::isApplicationLaunched(const QString &name)
{
    const QVariantList applications = NSWorkspace::sharedWorkspace().launchedApplications();
    for (const QVariant &application : applications) {
        const QVariant applicationName = application.toMap().value(QStringLiteral("NSApplicationName"));
        if (applicationName.typeId() == QMetaType::QString && applicationName.toString() == name)
            return true;
    }
    return false;
}
