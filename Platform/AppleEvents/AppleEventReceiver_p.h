// The object through which an application receives Apple Events on the session bus: its
// method Send takes a flattened event (ay) and answers the flattened reply event (ay).
// Callers of another user are refused (org.freedesktop.DBus.Error.AccessDenied) whatever the
// bus allows, and bytes that are not an Apple Event get InvalidArgs. Nothing is buffered
// here: the bus daemon and libdbus carry and limit the messages.
#pragma once

#include "AEDataModel_p.h"

#include <QDBusContext>
#include <QObject>

class AppleEventReceiver : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.zvuninstaller.AppleEvents")

public:
    static const QString objectPath;
    static const QString interfaceName;

public slots:
    QByteArray Send(const QByteArray &event);
};

// The reply to EVENT from the installed handlers (AppleEvents.cpp).
AppleEvent AEDispatchEvent(const AppleEvent &event);
