#include "AppleEvents_p.h"

#include "AppleEventReceiver_p.h"
#include "Processes_p.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QHash>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <climits>

namespace {

struct Handler {
    AEEventHandlerUPP proc;
    SRefCon refcon;
};

QHash<quint64, Handler> &handlers()
{
    static QHash<quint64, Handler> table;
    return table;
}

quint64 handlerKey(AEEventClass c, AEEventID i) { return (quint64(c) << 32) | i; }

// The receiving side: a connection of its own, so that the application's calls to others
// (on the shared session connection) never short-cut into its own receiver.
const QString kReceiverConnection = QStringLiteral("org.zvuninstaller.AppleEvents.receiver");

struct Receiver {
    QPointer<AppleEventReceiver> object;
    QString busName;
};

Receiver &receiver()
{
    static Receiver r;
    return r;
}

// An error answer of the bus as an Apple Event Manager status.
OSStatus statusOfBusError(const QDBusMessage &answer)
{
    const QString name = answer.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply")
        || name == QLatin1String("org.freedesktop.DBus.Error.Timeout")
        || name == QLatin1String("org.freedesktop.DBus.Error.TimedOut"))
        return errAETimeout;
    if (name == QLatin1String("org.freedesktop.DBus.Error.InvalidArgs"))
        return errAENotAppleEvent;
    return connectionInvalid;
}

} // namespace

AppleEvent AEDispatchEvent(const AppleEvent &event)
{
    AEEventClass eventClass = 0;
    AEEventID eventID = 0;
    AEReturnID returnID = 0;
    AEGetAttributePtr(&event, keyEventClassAttr, typeType, nullptr, &eventClass, sizeof(eventClass), nullptr);
    AEGetAttributePtr(&event, keyEventIDAttr, typeType, nullptr, &eventID, sizeof(eventID), nullptr);
    AEGetAttributePtr(&event, keyReturnIDAttr, typeSInt16, nullptr, &returnID, sizeof(returnID), nullptr);

    AppleEvent reply = AEMakeEmptyEvent();
    const AEEventClass replyClass = kCoreEventClass;
    const AEEventID replyID = kAEAnswer;
    AEPutAttributePtr(&reply, keyEventClassAttr, typeType, &replyClass, sizeof(replyClass));
    AEPutAttributePtr(&reply, keyEventIDAttr, typeType, &replyID, sizeof(replyID));
    AEPutAttributePtr(&reply, keyReturnIDAttr, typeSInt16, &returnID, sizeof(returnID));

    const QHash<quint64, Handler> &table = handlers();
    auto it = table.constFind(handlerKey(eventClass, eventID));
    if (it == table.constEnd())
        it = table.constFind(handlerKey(eventClass, typeWildCard));
    if (it == table.constEnd())
        it = table.constFind(handlerKey(typeWildCard, typeWildCard));
    const OSErr err = it == table.constEnd() ? OSErr(errAEEventNotHandled)
                                              : it->proc(&event, &reply, it->refcon);
    Size size = 0;
    if (err != noErr && AEGetParamPtr(&reply, keyErrorNumber, typeWildCard, nullptr, nullptr, 0, &size) != noErr) {
        const SInt16 number = err;
        AEPutParamPtr(&reply, keyErrorNumber, typeSInt16, &number, sizeof(number));
    }
    return reply;
}

OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID,
                         const AEAddressDesc *target, AEReturnID returnID,
                         AETransactionID transactionID, AppleEvent *result)
{
    if (!target || !result)
        return paramErr;
    static std::atomic<int> lastReturnID{0};
    if (returnID == kAutoGenerateReturnID)
        returnID = AEReturnID((lastReturnID.fetch_add(1) % 32000) + 1);
    *result = AEMakeEmptyEvent();
    OSErr err = AEPutAttributePtr(result, keyEventClassAttr, typeType, &theAEEventClass, sizeof(theAEEventClass));
    if (err == noErr)
        err = AEPutAttributePtr(result, keyEventIDAttr, typeType, &theAEEventID, sizeof(theAEEventID));
    if (err == noErr)
        err = AEPutAttributeDesc(result, keyAddressAttr, target);
    if (err == noErr)
        err = AEPutAttributePtr(result, keyReturnIDAttr, typeSInt16, &returnID, sizeof(returnID));
    if (err == noErr)
        err = AEPutAttributePtr(result, keyTransactionIDAttr, typeSInt32, &transactionID, sizeof(transactionID));
    if (err != noErr)
        AEDisposeDesc(result);
    return err;
}

OSStatus AESendMessage(const AppleEvent *event, AppleEvent *reply, AESendMode sendMode,
                       long timeOutInTicks)
{
    if (reply)
        *reply = AEDesc{typeNull, nullptr};
    if (!event)
        return paramErr;
    if (event->descriptorType != typeAppleEvent)
        return errAENotAppleEvent;
    const AESendMode replyMode = sendMode & 0x3;
    if (replyMode == kAEQueueReply || replyMode == 0)
        return errAEUnknownSendMode;

    ProcessSerialNumber psn{0, 0};
    DescType addressType = 0;
    Size size = 0;
    OSErr err = AEGetAttributePtr(event, keyAddressAttr, typeWildCard, &addressType, &psn, sizeof(psn), &size);
    if (err != noErr)
        return err;
    if (addressType != typeProcessSerialNumber || size != Size(sizeof(psn)))
        return procNotFound;
    // The connection, not the well-known name: should the process end meanwhile, the event
    // cannot reach whoever takes the name next.
    const QString destination = ProcessBusConnectionForPSN(psn);
    if (destination.isNull())
        return procNotFound;

    QDBusMessage call = QDBusMessage::createMethodCall(destination, AppleEventReceiver::objectPath,
                                                       AppleEventReceiver::interfaceName, QStringLiteral("Send"));
    call << AEFlattenDescToBytes(event);
    call.setAutoStartService(false);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (replyMode == kAENoReply)
        return bus.send(call) ? OSStatus(noErr) : OSStatus(connectionInvalid);

    const int timeoutMs = timeOutInTicks == kNoTimeOut ? INT_MAX
        : timeOutInTicks == kAEDefaultTimeout ? 60000
        : int(qBound(qint64(1), qint64(timeOutInTicks) * 1000 / 60, qint64(INT_MAX - 1)));
    // libdbus's own time-out runs on Qt's coarse timers (up to 5% late or early); the time-out
    // is measured here instead, on a precise deadline, while the bus thread takes the reply.
    const QDBusPendingCall pending = bus.asyncCall(call, timeoutMs == INT_MAX ? INT_MAX : timeoutMs + 1000);
    QDeadlineTimer deadline(QDeadlineTimer::Forever);
    if (timeoutMs != INT_MAX)
        deadline.setRemainingTime(timeoutMs, Qt::PreciseTimer);
    while (!pending.isFinished()) {
        if (deadline.hasExpired())
            return errAETimeout;
        QThread::msleep(1);
    }
    const QDBusMessage answer = pending.reply();
    if (answer.type() == QDBusMessage::ErrorMessage)
        return statusOfBusError(answer);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.signature() != QLatin1String("ay"))
        return errAECorruptData;
    AppleEvent received{typeNull, nullptr};
    err = AEUnflattenDescFromBytes(answer.arguments().at(0).toByteArray(), &received);
    if (err != noErr)
        return err;
    if (reply)
        *reply = received;
    else
        AEDisposeDesc(&received);
    return noErr;
}

OSErr AEInstallEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                            AEEventHandlerUPP handler, SRefCon handlerRefcon, Boolean)
{
    if (!handler)
        return paramErr;
    handlers().insert(handlerKey(theAEEventClass, theAEEventID), Handler{handler, handlerRefcon});
    return noErr;
}

OSStatus AEStartReceivingEvents(OSType signature)
{
    Receiver &r = receiver();
    if (r.object)
        return noErr;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kReceiverConnection);
    if (!bus.isConnected()) {
        QDBusConnection::disconnectFromBus(kReceiverConnection);
        return connectionInvalid;
    }
    // The object first, the name after: nobody finds the name before it answers.
    auto *object = new AppleEventReceiver;
    const QString busName = ProcessBusNameForSignature(signature);
    OSStatus err = bus.registerObject(AppleEventReceiver::objectPath, object, QDBusConnection::ExportAllSlots)
        ? OSStatus(noErr) : OSStatus(ioErr);
    if (err == noErr) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> registered
            = bus.interface()->registerService(busName, QDBusConnectionInterface::DontQueueService,
                                               QDBusConnectionInterface::DontAllowReplacement);
        if (!registered.isValid())
            err = connectionInvalid;
        else if (registered.value() != QDBusConnectionInterface::ServiceRegistered)
            err = ioErr;
    }
    if (err != noErr) {
        bus.unregisterObject(AppleEventReceiver::objectPath);
        delete object;
        QDBusConnection::disconnectFromBus(kReceiverConnection);
        return err;
    }
    r.object = object;
    r.busName = busName;
    return noErr;
}

Boolean AEIsReceivingEvents()
{
    return receiver().object && QDBusConnection(kReceiverConnection).isConnected();
}

void AEStopReceivingEvents()
{
    Receiver &r = receiver();
    if (!r.object)
        return;
    QDBusConnection bus(kReceiverConnection);
    bus.interface()->unregisterService(r.busName);
    bus.unregisterObject(AppleEventReceiver::objectPath);
    delete r.object.data();
    r.busName.clear();
    QDBusConnection::disconnectFromBus(kReceiverConnection);
}
