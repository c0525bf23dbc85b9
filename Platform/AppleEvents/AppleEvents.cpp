#include "AppleEvents_p.h"

#include "Processes_p.h"
#include "UnixSocketAddress_p.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLocalSocket>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr quint32 kFrameMagic = FOUR_CHAR_CODE("AEvt");
constexpr quint32 kMaxFrameSize = 64u << 20;

QByteArray frame(const QByteArray &payload)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << kFrameMagic << quint32(payload.size());
    bytes.append(payload);
    return bytes;
}

enum class FrameState { Incomplete, Complete, Damaged };

// Takes one frame off the front of BUFFER when it is complete.
FrameState takeFrame(QByteArray &buffer, QByteArray *payload)
{
    if (buffer.size() < 8)
        return FrameState::Incomplete;
    QDataStream in(buffer);
    quint32 magic = 0, size = 0;
    in >> magic >> size;
    if (magic != kFrameMagic || size > kMaxFrameSize)
        return FrameState::Damaged;
    if (quint32(buffer.size()) < 8 + size)
        return FrameState::Incomplete;
    *payload = buffer.mid(8, size);
    buffer.remove(0, 8 + size);
    return FrameState::Complete;
}

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

// Answers one event: the reply carries the handler's error as 'errn'.
AppleEvent dispatch(const AppleEvent &event)
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

// The application's registration: a listening socket in the registry folder. The sockets
// are made here rather than by QLocalServer/QLocalSocket, which refuse a path longer than
// sun_path; UnixSocketAddress reaches any path. Accepted connections are children of the
// notifier, so stopping ends them too.
struct Receiver {
    int listenFd = -1;
    QPointer<QSocketNotifier> notifier;
    QString path;
};

Receiver &receiver()
{
    static Receiver r;
    return r;
}

void serve(QLocalSocket *socket)
{
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer] {
        buffer->append(socket->readAll());
        for (;;) {
            QByteArray payload;
            const FrameState state = takeFrame(*buffer, &payload);
            if (state == FrameState::Incomplete)
                return;
            AppleEvent event{typeNull, nullptr};
            if (state == FrameState::Damaged || AEUnflattenDescFromBytes(payload, &event) != noErr
                || event.descriptorType != typeAppleEvent) {
                AEDisposeDesc(&event);
                socket->abort();
                return;
            }
            AppleEvent reply = dispatch(event);
            socket->write(frame(AEFlattenDescToBytes(&reply)));
            socket->flush();
            AEDisposeDesc(&reply);
            AEDisposeDesc(&event);
        }
    });
}

void acceptConnections(QSocketNotifier *notifier, int listenFd)
{
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // EAGAIN: none waiting; anything else: try again on the next wake-up
        }
        auto *socket = new QLocalSocket(notifier);
        if (!socket->setSocketDescriptor(fd, QLocalSocket::ConnectedState, QIODevice::ReadWrite)) {
            ::close(fd);
            delete socket;
            continue;
        }
        serve(socket);
    }
}

// A connected, non-blocking stream socket to the socket file at PATH, or -1 with *err set
// (errAETimeout when the listener's queue stayed full for TIMEOUTMS, connectionInvalid when
// nothing listens there).
int connectTo(const QString &path, int timeoutMs, OSStatus *err)
{
    const UnixSocketAddress address(path);
    if (!address.isValid()) {
        *err = connectionInvalid;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *err = connectionInvalid;
        return -1;
    }
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (::connect(fd, address.address(), address.size()) == 0)
            return fd;
        if (errno == EINTR)
            continue;
        // A full queue answers EAGAIN at once on a non-blocking Unix socket: wait for room.
        if (errno == EAGAIN && (timeoutMs < 0 || clock.elapsed() < timeoutMs)) {
            QThread::msleep(5);
            continue;
        }
        *err = errno == EAGAIN ? OSStatus(errAETimeout) : OSStatus(connectionInvalid);
        ::close(fd);
        return -1;
    }
}

} // namespace

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
    const QString path = ProcessRegistrySocketPathForPSN(psn);
    if (path.isNull())
        return procNotFound;

    const qint64 timeoutMs = timeOutInTicks == kNoTimeOut ? -1
        : timeOutInTicks == kAEDefaultTimeout ? 60000
        : qMax<qint64>(0, qint64(timeOutInTicks) * 1000 / 60);
    QElapsedTimer clock;
    clock.start();
    auto remaining = [&]() -> int {
        return timeoutMs < 0 ? -1 : int(qMax<qint64>(0, timeoutMs - clock.elapsed()));
    };

    OSStatus connectErr = noErr;
    const int fd = connectTo(path, remaining() < 0 ? 30000 : qMax(remaining(), 1), &connectErr);
    if (fd < 0)
        return connectErr;
    QLocalSocket socket;
    if (!socket.setSocketDescriptor(fd, QLocalSocket::ConnectedState, QIODevice::ReadWrite)) {
        ::close(fd);
        return connectionInvalid;
    }
    socket.write(frame(AEFlattenDescToBytes(event)));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remaining() < 0 ? -1 : qMax(remaining(), 1)))
            return socket.state() == QLocalSocket::ConnectedState ? OSStatus(errAETimeout)
                                                                  : OSStatus(connectionInvalid);
    }
    if (replyMode == kAENoReply)
        return noErr;

    QByteArray buffer;
    for (;;) {
        QByteArray payload;
        const FrameState state = takeFrame(buffer, &payload);
        if (state == FrameState::Damaged)
            return errAECorruptData;
        if (state == FrameState::Complete) {
            AppleEvent answer{typeNull, nullptr};
            err = AEUnflattenDescFromBytes(payload, &answer);
            if (err != noErr)
                return err;
            if (reply)
                *reply = answer;
            else
                AEDisposeDesc(&answer);
            return noErr;
        }
        if (timeoutMs >= 0 && remaining() == 0)
            return errAETimeout;
        if (!socket.waitForReadyRead(remaining() < 0 ? -1 : qMax(remaining(), 1))) {
            if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
                return connectionInvalid;
        }
        buffer.append(socket.readAll());
    }
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
    if (r.notifier)
        return noErr;
    const QString path = ProcessRegistrySocketPath(::getpid(), signature);
    if (path.isNull())
        return ioErr;
    // The socket file is the registration: it is made listening under a name the registry
    // does not list and then renamed into place, so that no sender finds it before it accepts.
    const QByteArray encoded = QFile::encodeName(path);
    const QByteArray pending = encoded + ".new";
    const UnixSocketAddress address(QFile::decodeName(pending));
    if (!address.isValid())
        return ioErr;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return ioErr;
    ::unlink(pending.constData()); // left by an earlier process with this id
    if (::bind(fd, address.address(), address.size()) != 0 || ::chmod(pending.constData(), 0600) != 0
        || ::listen(fd, SOMAXCONN) != 0 || ::rename(pending.constData(), encoded.constData()) != 0) {
        ::close(fd);
        ::unlink(pending.constData());
        return ioErr;
    }
    auto *notifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier, fd] { acceptConnections(notifier, fd); });
    r.listenFd = fd;
    r.notifier = notifier;
    r.path = path;
    return noErr;
}

void AEStopReceivingEvents()
{
    Receiver &r = receiver();
    delete r.notifier.data();
    if (r.listenFd >= 0)
        ::close(r.listenFd);
    r.listenFd = -1;
    if (!r.path.isNull())
        ::unlink(QFile::encodeName(r.path).constData());
    r.path.clear();
}
