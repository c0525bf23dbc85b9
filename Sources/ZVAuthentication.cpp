#include "ZVAuthentication.h"

#include <QProcess>
#include <unistd.h>

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
    static ZVAuthentication *instance = new ZVAuthentication;
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
    [[maybe_unused]] const int ignored = std::system(
        "sudo /bin/launchctl unload  /Library/LaunchDaemons/com.quillmarsh.tavrindaemon.plist");
    return true;
}

QList<qint32> ZVAuthentication::getAllProcessIDsWithName(const QString &name)
{
    Q_UNUSED(name);
    return {};
}

qint32 ZVAuthentication::getPID(const QString &name)
{
    Q_UNUSED(name);
    return 0;
}

bool ZVAuthentication::killProcess(const QString &name)
{
    Q_UNUSED(name);
    return true;
}

bool ZVAuthentication::killAllProcessWithName(const QString &name)
{
    Q_UNUSED(name);
    return false;
}

bool ZVAuthentication::isApplicationLaunched(const QString &name)
{
    Q_UNUSED(name);
    return false;
}
