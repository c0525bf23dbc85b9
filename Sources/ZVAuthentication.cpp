#include "ZVAuthentication.h"

#include "Authorization_p.h"
#include "FileReplacement_p.h"
#include "FileSystem_p.h"
#include "NSStringFormat_p.h"
#include "NSWorkspace.h"
#include "ProcessRunner_p.h"
#include "ZVLocalizedString.h"
#include "ZVProcessListing_p.h"
#include "ZVUtility.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kMaxRightsItems = 20;
constexpr int kItemBufferSize = 128;
constexpr int kMaxToolArguments = 19;

// The rights set of one request: one "system.privilege.admin" item per entry, each value in
// its own 128-byte buffer. Built afresh for every request, never kept.
struct RightsSet {
    char buffers[kMaxRightsItems][kItemBufferSize];
    AuthorizationItem items[kMaxRightsItems];
    AuthorizationRights rights{0, items};

    explicit RightsSet(const QStringList &entries)
    {
        for (qsizetype i = 0; i < entries.size() && i < kMaxRightsItems; ++i) {
            const QByteArray bytes = entries.at(i).toLocal8Bit();
            qsizetype length = bytes.size();
            if (length > kItemBufferSize - 1) {
                length = kItemBufferSize - 1;
                // Back off over UTF-8 continuation bytes to the start of a character.
                while (length > 0 && (uchar(bytes.at(length)) & 0xC0) == 0x80)
                    --length;
            }
            std::memcpy(buffers[i], bytes.constData(), size_t(length));
            buffers[i][length] = '\0';
            items[i] = {kAuthorizationRightExecute, size_t(length), buffers[i], 0};
            rights.count = UInt32(i + 1);
        }
    }
};

} // namespace

ZVAuthentication *ZVAuthentication::sharedInstance()
{
    static ZVAuthentication *instance = [] {
        auto *shared = new ZVAuthentication;
        // The shared object is never released, so its rights would outlive the program (sudo's
        // credential stays valid for the terminal): they are destroyed when the event loop
        // ends, while the system bus is still reachable, and at the latest when the program
        // exits.
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [shared] { shared->deauthenticate(); });
        std::atexit([] { ZVAuthentication::sharedInstance()->deauthenticate(); });
        return shared;
    }();
    return instance;
}

ZVAuthentication::ZVAuthentication() = default;

ZVAuthentication::~ZVAuthentication() { deauthenticate(); }

bool ZVAuthentication::isAuthenticated(const QStringList &entries)
{
    if (!authorizationRef) {
        AuthorizationRights none{0, nullptr};
        AuthorizationCreate(&none, kAuthorizationEmptyEnvironment, kAuthorizationFlagDefaults,
            &authorizationRef);
    }
    if (entries.isEmpty())
        return false;
    RightsSet set(entries);
    AuthorizationRights *authorized = nullptr;
    const OSStatus status = AuthorizationCopyRights(authorizationRef, &set.rights,
        kAuthorizationEmptyEnvironment, kAuthorizationFlagExtendRights, &authorized);
    if (status != errAuthorizationSuccess)
        return false;
    AuthorizationFreeItemSet(authorized);
    return true;
}

bool ZVAuthentication::fetchPassword(const QStringList &entries)
{
    if (entries.isEmpty())
        return false;
    RightsSet set(entries);
    AuthorizationRights *authorized = nullptr;
    const OSStatus status = AuthorizationCopyRights(authorizationRef, &set.rights,
        kAuthorizationEmptyEnvironment,
        kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights, &authorized);
    if (status != errAuthorizationSuccess)
        return false;
    AuthorizationFreeItemSet(authorized);
    return true;
}

bool ZVAuthentication::authenticate(const QStringList &entries)
{
    if (isAuthenticated(entries))
        return true;
    fetchPassword(entries);
    return isAuthenticated(entries);
}

void ZVAuthentication::deauthenticate()
{
    if (!authorizationRef)
        return;
    AuthorizationFree(authorizationRef, kAuthorizationFlagDestroyRights);
    authorizationRef = nullptr;
}

bool ZVAuthentication::executeCommandWithArgs(const QString &tool, const QStringList &args)
{
    if (!authenticate({tool}))
        return false;
    std::vector<QByteArray> bytes;
    std::vector<char *> vector;
    for (qsizetype i = 0; i < args.size() && i < kMaxToolArguments; ++i)
        bytes.push_back(args.at(i).toLocal8Bit());
    for (QByteArray &b : bytes)
        vector.push_back(b.data());
    vector.push_back(nullptr);

    const QByteArray toolBytes = tool.toLocal8Bit();
    FILE *pipe = nullptr;
    const OSStatus status = AuthorizationExecuteWithPrivileges(authorizationRef,
        toolBytes.constData(), kAuthorizationFlagDefaults, bytes.empty() ? nullptr : vector.data(),
        &pipe);
    if (status != errAuthorizationSuccess)
        return false;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe))
        ;
    std::fclose(pipe);
    return true;
}

bool ZVAuthentication::unloadLaunchctlProcess(const QString &path)
{
    if (!authenticate({path}))
        return false;
    ProcessRunner::runShell("sudo /bin/launchctl unload  /Library/LaunchDaemons/com.quillmarsh.tavrindaemon.plist");
    return true;
}


// The listings of the product's processes and the scratch listing of killProcess; "%@" is
// the name (and, in the scratch command, the output file path).
static const char kAllProcessesListingCommand[] = "/bin/ps -axwwopid,command,user | grep \"%@\"";
static const char kPIDListingCommand[] = "/bin/ps -axwwopid,command | grep \"%@\"";
static const char kProcessInstancesCommand[] = "ps -axww | grep %@ > \"%@\"";

std::optional<QByteArray> ZVAuthentication::listingOutput(const QString &command, const QString &name)
{
    if (!ZVProcessListing::listingHidesOtherUsers() || !isAuthenticated({name}))
        return ZVProcessListing::readCommandOutput(command);
    // The same command line, run as root by the privileged runner, in the listing's locale.
    const QByteArray locale = ZVProcessListing::listingLocale(ZVProcessListing::Encoding::ASCII);
    QByteArray lcAll = "LC_ALL=" + locale, lang = "LANG=" + locale, shell = "/bin/sh", option = "-c";
    QByteArray line = command.toUtf8();
    char *args[] = {lcAll.data(), lang.data(), shell.data(), option.data(), line.data(), nullptr};
    FILE *pipe = nullptr;
    if (AuthorizationExecuteWithPrivileges(authorizationRef, "/usr/bin/env", kAuthorizationFlagDefaults,
                                           args, &pipe) != errAuthorizationSuccess)
        return std::nullopt;
    const QByteArray output = ProcessRunner::readChunks(pipe);
    std::fclose(pipe);
    return output;
}

QList<qint32> ZVAuthentication::getAllProcessIDsWithName(const QString &name)
{
    const QString command = NSStringFormat::stringWithFormat(
        QString::fromLatin1(kAllProcessesListingCommand), {name});
    const auto output = listingOutput(command, name);
    return output ? ZVProcessListing::processIDsInListing(
                        ZVProcessListing::decode(*output, ZVProcessListing::Encoding::ASCII), name)
                  : QList<qint32>();
}

qint32 ZVAuthentication::getPID(const QString &name)
{
    const QString command =
        NSStringFormat::stringWithFormat(QString::fromLatin1(kPIDListingCommand), {name});
    const auto output = listingOutput(command, name);
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
    // The listing's command line without its redirect: the shell would open the path and
    // follow a link planted there; its output is written by replacing the path instead.
    const QString format = QString::fromLatin1(kProcessInstancesCommand);
    const QString listing = NSStringFormat::stringWithFormat(
        format.left(format.indexOf(QLatin1String(" > "))), {name});
    if (const auto output = listingOutput(listing, name))
        FileReplacement::replaceFile(outputPath, *output, FileReplacement::newFileMode());

    // One line per running instance, plus the pipeline's own grep and shell lines, plus the
    // empty text after the last newline: the passes are the lines beyond two.
    QStringList lines;
    if (const auto bytes = FileSystem::readWithoutFollowing(outputPath)) {
        const QString text = ZVProcessListing::decode(*bytes, ZVProcessListing::Encoding::UTF8);
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
