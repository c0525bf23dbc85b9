// The object through which an application receives Apple Events on the session bus: its
// method Send takes a flattened event (ay) and answers the flattened reply event (ay).
// Callers of another user are refused (org.freedesktop.DBus.Error.AccessDenied) whatever the
// bus allows, and bytes that are not an Apple Event get InvalidArgs.
//
// The caller's user is asked of the bus once per connection, without waiting: the call is
// answered when the bus has answered (a delayed reply), so a handler never blocks on the bus
// while other callers' messages queue up behind the answer. At most kMaxWaitingCalls calls
// wait for such an answer at once; beyond that a call is refused at once with LimitsExceeded.
// The users of at most kMaxKnownCallers connections are remembered (unique names are never
// reused on a bus; the memory is emptied when full). Nothing else is buffered here: the bus
// daemon and libdbus carry and limit the messages.
#pragma once

#include "AEDataModel_p.h"

#include <QDBusContext>
#include <QHash>
#include <QObject>

class AppleEventReceiver : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.zvuninstaller.AppleEvents")

public:
    static const QString objectPath;
    static const QString interfaceName;
    static constexpr int kMaxWaitingCalls = 64;
    static constexpr int kMaxKnownCallers = 1024;

public slots:
    QByteArray Send(const QByteArray &event);

private:
    QHash<QString, uint> m_callerUsers;
    int m_waiting = 0;
};

// The reply to EVENT from the installed handlers (AppleEvents.cpp).
AppleEvent AEDispatchEvent(const AppleEvent &event);
