#include "AppleEventReceiver_p.h"

#include <QDBusConnectionInterface>
#include <unistd.h>

const QString AppleEventReceiver::objectPath = QStringLiteral("/org/zvuninstaller/AppleEvents");
const QString AppleEventReceiver::interfaceName = QStringLiteral("org.zvuninstaller.AppleEvents");

QByteArray AppleEventReceiver::Send(const QByteArray &bytes)
{
    // The session bus normally admits only its own user; the login items are that user's
    // alone, so a bus configured more openly still does not hand them to anyone else.
    const QDBusReply<uint> uid = connection().interface()->serviceUid(message().service());
    if (!uid.isValid() || uid.value() != ::getuid()) {
        sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not the user of this session"));
        return {};
    }
    AppleEvent event{typeNull, nullptr};
    if (AEUnflattenDescFromBytes(bytes, &event) != noErr || event.descriptorType != typeAppleEvent) {
        AEDisposeDesc(&event);
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("not an Apple Event"));
        return {};
    }
    AppleEvent reply = AEDispatchEvent(event);
    const QByteArray answer = AEFlattenDescToBytes(&reply);
    AEDisposeDesc(&reply);
    AEDisposeDesc(&event);
    return answer;
}
