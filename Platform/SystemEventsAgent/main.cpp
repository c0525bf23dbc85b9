// System Events: the background program with signature 'sevs' that keeps the current user's
// login items (LoginItemStore) and answers Apple Events about them:
//   'core'/'getd'  every property of every login item: a list of records with 'ppth' (the
//                  path, 'utxt'), 'pnam' (the name, 'utxt'), 'pcls' ('logi') and, when known,
//                  'hidn' ('bool');
//   'core'/'crel'  a new login item: 'kocl' 'logi', 'prdt' a record with 'ppth' and optional
//                  'hidn', 'insh' (optional) an insertion location at the end;
//   'core'/'delo'  the login item at an absolute position (one-based);
//   'aevt'/'quit'  answers, then ends.
// An error answer carries 'errn' ('shor'). A listed record also carries 'enbl' ('bool'): false
// for an entry the user switched off. It owns the bus name
// org.zvuninstaller.AppleEvents.sevs on the user's session bus and runs until told to quit,
// until SIGTERM, SIGINT or SIGHUP, or until the bus goes away; it then unregisters and ends
// with status 0. One instance serves a bus: a second one finds the name taken and ends at
// once with status 0. Started by the bus (its service file) or by Launch Services.
#include "AEObjects_p.h"
#include "AppleEvents_p.h"
#include "LoginItemStore.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr DescType cLoginItem = FOUR_CHAR_CODE("logi");
constexpr AEKeyword propPath = FOUR_CHAR_CODE("ppth");
constexpr AEKeyword propHidden = FOUR_CHAR_CODE("hidn");
constexpr AEKeyword propName = FOUR_CHAR_CODE("pnam");
constexpr AEKeyword propClass = FOUR_CHAR_CODE("pcls");
constexpr AEKeyword propEnabled = FOUR_CHAR_CODE("enbl");

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

DescType typeEntry(const AEDesc *record, AEKeyword key)
{
    DescType value = 0;
    if (AEGetParamPtr(record, key, typeType, nullptr, &value, sizeof(value), nullptr) != noErr)
        return 0;
    return value;
}

// True when DESC is an object specifier of class WANT in the application itself, selected by
// absolute position; *INDEX receives the position (0 for "all").
bool isLoginItemSpecifier(const AEDesc *desc, long *index)
{
    if (desc->descriptorType != typeObjectSpecifier || typeEntry(desc, keyAEDesiredClass) != cLoginItem)
        return false;
    AEDesc container{typeNull, nullptr};
    const bool inApplication = AEGetParamDesc(desc, keyAEContainer, typeWildCard, &container) == noErr
        && container.descriptorType == typeNull;
    AEDisposeDesc(&container);
    if (!inApplication)
        return false;
    DescType form = 0;
    if (AEGetParamPtr(desc, keyAEKeyForm, typeEnumerated, nullptr, &form, sizeof(form), nullptr) != noErr
        || form != formAbsolutePosition)
        return false;
    DescType ordinal = 0;
    if (AEGetParamPtr(desc, keyAEKeyData, typeAbsoluteOrdinal, nullptr, &ordinal, sizeof(ordinal), nullptr) == noErr)
        return ordinal == kAEAll ? (*index = 0, true) : false;
    SInt32 position = 0;
    if (AEGetParamPtr(desc, keyAEKeyData, typeSInt32, nullptr, &position, sizeof(position), nullptr) != noErr)
        return false;
    *index = position;
    return true;
}

OSErr putText(AERecord *record, AEKeyword key, const QString &text)
{
    return AEPutParamPtr(record, key, typeUnicodeText, text.utf16(), Size(text.size()) * 2);
}

OSErr handleGetData(const AppleEvent *event, AppleEvent *reply, SRefCon)
{
    // Only "every property of every login item" is understood.
    AEDesc object{typeNull, nullptr}, container{typeNull, nullptr};
    long index = -1;
    bool understood = AEGetParamDesc(event, keyDirectObject, typeWildCard, &object) == noErr
        && object.descriptorType == typeObjectSpecifier && typeEntry(&object, keyAEDesiredClass) == cProperty
        && typeEntry(&object, keyAEKeyData) == keyAEProperties
        && AEGetParamDesc(&object, keyAEContainer, typeWildCard, &container) == noErr
        && isLoginItemSpecifier(&container, &index) && index == 0;
    AEDisposeDesc(&object);
    AEDisposeDesc(&container);
    if (!understood)
        return errAEEventNotHandled;

    QList<LoginItemStore::Item> items;
    OSErr err = OSErr(LoginItemStore::list(&items));
    AEDescList list{typeNull, nullptr};
    if (err == noErr)
        err = AECreateList(nullptr, 0, false, &list);
    for (const LoginItemStore::Item &item : items) {
        AERecord record{typeNull, nullptr};
        if (err == noErr)
            err = AECreateList(nullptr, 0, true, &record);
        if (err == noErr)
            err = AEPutParamPtr(&record, propClass, typeType, &cLoginItem, sizeof(cLoginItem));
        if (err == noErr)
            err = putText(&record, propName, item.name);
        if (err == noErr)
            err = putText(&record, propPath, item.path);
        const Boolean enabled = item.enabled ? 1 : 0;
        if (err == noErr)
            err = AEPutParamPtr(&record, propEnabled, typeBoolean, &enabled, sizeof(enabled));
        if (err == noErr && item.hidden) {
            const Boolean hidden = *item.hidden ? 1 : 0;
            err = AEPutParamPtr(&record, propHidden, typeBoolean, &hidden, sizeof(hidden));
        }
        if (err == noErr)
            err = AEPutDesc(&list, 0, &record);
        AEDisposeDesc(&record);
    }
    if (err == noErr)
        err = AEPutParamDesc(reply, keyDirectObject, &list);
    AEDisposeDesc(&list);
    return err;
}

OSErr handleCreateElement(const AppleEvent *event, AppleEvent *, SRefCon)
{
    DescType objectClass = 0;
    if (AEGetParamPtr(event, keyAEObjectClass, typeType, nullptr, &objectClass, sizeof(objectClass), nullptr) != noErr)
        return errAEParamMissed;
    if (objectClass != cLoginItem)
        return errAEWrongDataType;

    AEDesc location{typeNull, nullptr};
    if (AEGetParamDesc(event, keyAEInsertHere, typeAERecord, &location) == noErr) {
        DescType position = 0;
        const bool atEnd = AEGetParamPtr(&location, keyAEPosition, typeEnumerated, nullptr, &position,
                                         sizeof(position), nullptr) == noErr && position == kAEEnd;
        AEDisposeDesc(&location);
        if (!atEnd)
            return errAEEventNotHandled; // items are only ever added at the end
    }

    AERecord properties{typeNull, nullptr};
    if (AEGetParamDesc(event, keyAEPropData, typeAERecord, &properties) != noErr)
        return errAEParamMissed;
    Size size = 0;
    OSErr err = AEGetParamPtr(&properties, propPath, typeUnicodeText, nullptr, nullptr, 0, &size);
    QString path;
    if (err == noErr && size % 2 == 0) {
        path.resize(size / 2);
        err = AEGetParamPtr(&properties, propPath, typeUnicodeText, nullptr, path.data(), size, &size);
    } else if (err == noErr) {
        err = errAECoercionFail;
    }
    std::optional<bool> hidden;
    Boolean hiddenByte = 0;
    if (AEGetParamPtr(&properties, propHidden, typeBoolean, nullptr, &hiddenByte, sizeof(hiddenByte), nullptr) == noErr)
        hidden = hiddenByte != 0;
    AEDisposeDesc(&properties);
    if (err == errAEDescNotFound)
        return errAEParamMissed;
    if (err != noErr)
        return err;
    return OSErr(LoginItemStore::add(path, hidden));
}

OSErr handleDelete(const AppleEvent *event, AppleEvent *, SRefCon)
{
    AEDesc object{typeNull, nullptr};
    long index = -1;
    const bool understood = AEGetParamDesc(event, keyDirectObject, typeWildCard, &object) == noErr
        && isLoginItemSpecifier(&object, &index) && index != 0;
    AEDisposeDesc(&object);
    if (!understood)
        return errAEEventNotHandled;
    return OSErr(LoginItemStore::removeAt(index));
}

OSErr handleQuit(const AppleEvent *, AppleEvent *, SRefCon)
{
    // After the reply has gone out.
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    return noErr;
}

} // namespace

int main(int argc, char *argv[])
{
    // Started by the bus, the address comes as the starter's.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") && !qEnvironmentVariableIsEmpty("DBUS_STARTER_ADDRESS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", qgetenv("DBUS_STARTER_ADDRESS"));
    QCoreApplication app(argc, argv);
    constexpr OSType signature = FOUR_CHAR_CODE("sevs");

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);

    AEInstallEventHandler(kAECoreSuite, kAEGetData, handleGetData, nullptr, false);
    AEInstallEventHandler(kAECoreSuite, kAECreateElement, handleCreateElement, nullptr, false);
    AEInstallEventHandler(kAECoreSuite, kAEDelete, handleDelete, nullptr, false);
    AEInstallEventHandler(kCoreEventClass, kAEQuitApplication, handleQuit, nullptr, false);
    const OSStatus err = AEStartReceivingEvents(signature);
    if (err == ioErr)
        return 0; // another instance serves this bus
    if (err != noErr)
        return 1;
    // A session bus that ends (the user logged out, a test's private bus) ends the agent.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [] {
        if (!AEIsReceivingEvents())
            QCoreApplication::quit();
    });
    watch.start(1000);
    const int status = app.exec();
    AEStopReceivingEvents();
    return status;
}
