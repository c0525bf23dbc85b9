#include "PolkitAuthority_p.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QSet>
#include <QVariantMap>

#include <climits>
#include <unistd.h>

namespace {

const char kService[] = "org.freedesktop.PolicyKit1";
const char kPath[] = "/org/freedesktop/PolicyKit1/Authority";
const char kInterface[] = "org.freedesktop.PolicyKit1.Authority";

// Kept authorizations given up but not revoked (polkit revokes only within a login session).
QSet<QString> g_givenUp;

// The process's start time as polkit identifies processes with it: field 22 of
// /proc/self/stat, in clock ticks since boot (after the command name, which may hold blanks).
quint64 startTime()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 19 ? fields.at(19).toULongLong() : 0;
}

QDBusArgument subject()
{
    QDBusArgument argument;
    argument.beginStructure();
    argument << QStringLiteral("unix-process")
             << QVariantMap{{QStringLiteral("pid"), QVariant::fromValue(quint32(getpid()))},
                    {QStringLiteral("start-time"), QVariant::fromValue(startTime())},
                    {QStringLiteral("uid"), QVariant::fromValue(qint32(getuid()))}};
    argument.endStructure();
    return argument;
}

QDBusArgument noDetails()
{
    QDBusArgument argument;
    argument.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QString>());
    argument.endMap();
    return argument;
}

QDBusMessage call(const char *method, const QVariantList &arguments, bool wait)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
        QLatin1String(method));
    message.setArguments(arguments);
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!wait)
        return bus.call(message, QDBus::Block);
    // The person may take their time in the agent's dialog: no time limit, and this
    // process keeps painting meanwhile without taking input.
    QDBusPendingCallWatcher watcher(bus.asyncCall(message, INT_MAX));
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!watcher.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return watcher.reply();
}

} // namespace

const char *PolkitAuthority::actionId() { return "com.quillmarsh.uninstaller.privilege-admin"; }

bool PolkitAuthority::isAvailable()
{
    // QtDBus needs the application object (and so does waiting for an answer).
    if (!QCoreApplication::instance())
        return false;
    QDBusConnection bus = QDBusConnection::systemBus();
    return bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(QLatin1String(kService)).value();
}

PolkitAuthority::Result PolkitAuthority::check(bool interactive)
{
    Result result;
    const QDBusMessage reply = call("CheckAuthorization",
        {QVariant::fromValue(subject()), QString::fromLatin1(actionId()),
            QVariant::fromValue(noDetails()), QVariant::fromValue(quint32(interactive ? 1 : 0)),
            QString()},
        interactive);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return result;
    const QDBusArgument answer = reply.arguments().constFirst().value<QDBusArgument>();
    bool authorized = false;
    bool challenge = false;
    QMap<QString, QString> details;
    answer.beginStructure();
    answer >> authorized >> challenge;
    answer.beginMap();
    while (!answer.atEnd()) {
        QString key, value;
        answer.beginMapEntry();
        answer >> key >> value;
        answer.endMapEntry();
        details.insert(key, value);
    }
    answer.endMap();
    answer.endStructure();
    if (authorized) {
        result.answer = Answer::Granted;
        result.temporaryAuthorizationId =
            details.value(QStringLiteral("polkit.temporary_authorization_id"));
        if (g_givenUp.contains(result.temporaryAuthorizationId)) {
            // A request that may ask takes it up again; a silent check does not count it.
            if (interactive)
                g_givenUp.remove(result.temporaryAuthorizationId);
            else
                result.answer = Answer::Challenge;
        }
    } else if (challenge) {
        result.answer = Answer::Challenge;
    } else if (details.contains(QStringLiteral("polkit.dismissed"))) {
        result.answer = Answer::Dismissed;
    }
    return result;
}

bool PolkitAuthority::revokeKeptAuthorization()
{
    const Result held = check(false);
    if (held.answer != Answer::Granted || held.temporaryAuthorizationId.isEmpty())
        return held.answer != Answer::Granted;
    const QDBusMessage reply = call("RevokeTemporaryAuthorizationById",
        {held.temporaryAuthorizationId}, false);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    g_givenUp.insert(held.temporaryAuthorizationId);
    return false;
}
