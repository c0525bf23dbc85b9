#include "SystemConfiguration_p.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <pwd.h>
#include <utmp.h>

namespace {

// logind's state files: KEY=VALUE lines, "#" comments.
QHash<QString, QString> readStateFile(const QString &path)
{
    QHash<QString, QString> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith('#'))
            continue;
        const int eq = line.indexOf('=');
        if (eq > 0)
            entries.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return entries;
}

bool processExists(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

bool isLocalConsoleLine(const QString &line)
{
    static const QRegularExpression local(QStringLiteral("^(console|tty[0-9]+|:[0-9]+(\\.[0-9]+)?)$"));
    return local.match(line).hasMatch();
}

QString fixedField(const char *field, size_t size)
{
    return QString::fromUtf8(QByteArray(field, qsizetype(strnlen(field, size))));
}

QString found(const QString &name, uid_t userID, uid_t *uid, gid_t *gid)
{
    if (uid)
        *uid = userID;
    if (gid) {
        const passwd *entry = ::getpwuid(userID);
        *gid = entry ? entry->pw_gid : gid_t(-1);
    }
    return name;
}

} // namespace

QString SCDynamicStoreCopyConsoleUserFrom(const QString &runSystemdDir, const QString &utmpPath,
                                          uid_t *uid, gid_t *gid)
{
    const QString seatPath = runSystemdDir + QStringLiteral("/seats/seat0");
    if (QFile::exists(seatPath)) {
        const QString session = readStateFile(seatPath).value(QStringLiteral("ACTIVE"));
        if (session.isEmpty() || session.contains(QLatin1Char('/')))
            return QString();
        const auto state = readStateFile(runSystemdDir + QStringLiteral("/sessions/") + session);
        const QString name = state.value(QStringLiteral("USER"));
        bool ok = false;
        const uint userID = state.value(QStringLiteral("UID")).toUInt(&ok);
        if (name.isEmpty() || !ok)
            return QString();
        return found(name, uid_t(userID), uid, gid);
    }

    QFile file(utmpPath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString name;
    uid_t userID = 0;
    utmp record;
    while (file.read(reinterpret_cast<char *>(&record), sizeof record) == qint64(sizeof record)) {
        if (record.ut_type != USER_PROCESS || !processExists(record.ut_pid))
            continue;
        if (!isLocalConsoleLine(fixedField(record.ut_line, sizeof record.ut_line)))
            continue;
        const QString user = fixedField(record.ut_user, sizeof record.ut_user);
        const QByteArray user8 = user.toUtf8();
        const passwd *entry = ::getpwnam(user8.constData());
        if (user.isEmpty() || !entry)
            continue;
        name = user;
        userID = entry->pw_uid;
    }
    return name.isNull() ? QString() : found(name, userID, uid, gid);
}

QString SCDynamicStoreCopyConsoleUser(SCDynamicStoreRef store, uid_t *uid, gid_t *gid)
{
    Q_UNUSED(store);
    return SCDynamicStoreCopyConsoleUserFrom(QStringLiteral("/run/systemd"),
                                             QStringLiteral(_PATH_UTMP), uid, gid);
}
