#include "AppleEventReceiver_p.h"

#include "ProcessRunner_p.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

const QString AppleEventReceiver::objectPath = QStringLiteral("/org/zvuninstaller/AppleEvents");
const QString AppleEventReceiver::interfaceName = QStringLiteral("org.zvuninstaller.AppleEvents");

namespace {

// The reply message to CALL, of CALLERUSER, carrying EVENT's reply or the error.
QDBusMessage answer(const QDBusMessage &call, uint callerUser, const QByteArray &bytes)
{
    // The session bus normally admits only its own user; the login items are that user's
    // alone, so a bus configured more openly still does not hand them to anyone else.
    if (callerUser != ProcessRunner::userID())
        return call.createErrorReply(QDBusError::AccessDenied, QStringLiteral("not the user of this session"));
    AppleEvent event{typeNull, nullptr};
    if (AEUnflattenDescFromBytes(bytes, &event) != noErr || event.descriptorType != typeAppleEvent) {
        AEDisposeDesc(&event);
        return call.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("not an Apple Event"));
    }
    AppleEvent reply = AEDispatchEvent(event);
    const QByteArray flattened = AEFlattenDescToBytes(&reply);
    AEDisposeDesc(&reply);
    AEDisposeDesc(&event);
    return call.createReply(QVariant::fromValue(flattened));
}

} // namespace

QByteArray AppleEventReceiver::Send(const QByteArray &bytes)
{
    const QDBusMessage call = message();
    const auto known = m_callerUsers.constFind(call.service());
    if (known != m_callerUsers.cend()) {
        setDelayedReply(true);
        connection().send(answer(call, *known, bytes));
        return {};
    }
    if (m_waiting >= kMaxWaitingCalls) {
        sendErrorReply(QDBusError::LimitsExceeded, QStringLiteral("too many calls at once"));
        return {};
    }
    setDelayedReply(true);
    ++m_waiting;
    QDBusConnection bus = connection();
    auto *watcher = new QDBusPendingCallWatcher(
        bus.interface()->asyncCall(QStringLiteral("GetConnectionUnixUser"), call.service()), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, bus, call, bytes](QDBusPendingCallWatcher *w) {
        --m_waiting;
        const QDBusPendingReply<uint> user = *w;
        w->deleteLater();
        QDBusConnection connection = bus;
        if (!user.isValid()) {
            connection.send(call.createErrorReply(QDBusError::AccessDenied, QStringLiteral("caller unknown to the bus")));
            return;
        }
        if (m_callerUsers.size() >= kMaxKnownCallers)
            m_callerUsers.clear();
        m_callerUsers.insert(call.service(), user.value());
        connection.send(answer(call, user.value(), bytes));
    });
    return {};
}
