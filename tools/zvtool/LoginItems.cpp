// zvtool login-items: the current user's login items through System Events.
//   login-items list                 one JSON object per line: {"path": ..., "hidden": ...}
//   login-items add PATH [--hidden]  adds PATH as the last login item
//   login-items remove PATH          removes the first login item for PATH (1 when none)
//   login-items quit-agent           tells a running System Events to end (0 when none runs)
#include "Commands.h"

#include "AppleEvents_p.h"
#include "LQLoginItemRegistry.h"
#include "Processes_p.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <cstdio>

namespace {

int listItems()
{
    const std::optional<QVariantList> items = LQLoginItemRegistry::allLoginItems();
    if (!items) {
        std::fputs("zvtool: login items cannot be listed\n", stderr);
        return 1;
    }
    for (const QVariant &item : *items) {
        const QVariantMap map = item.toMap();
        QString path = map.value(QStringLiteral("URL")).toUrl().toLocalFile();
        if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        const QJsonObject object{{QStringLiteral("path"), path},
                                 {QStringLiteral("hidden"), map.value(QStringLiteral("Hidden")).toBool()}};
        out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    }
    return 0;
}

UInt32 systemEventsPid()
{
    ProcessSerialNumber psn{0, kNoProcess};
    while (GetNextProcess(&psn) == noErr) {
        ProcessInfoRec info{};
        info.processInfoLength = sizeof(info);
        if (GetProcessInformation(&psn, &info) == noErr && info.processSignature == FOUR_CHAR_CODE("sevs"))
            return psn.lowLongOfPSN;
    }
    return 0;
}

int quitAgent()
{
    const UInt32 pid = systemEventsPid();
    if (pid == 0)
        return 0;
    const ProcessSerialNumber psn{0, pid};
    AEAddressDesc target{typeNull, nullptr};
    AppleEvent event{typeNull, nullptr}, reply{typeNull, nullptr};
    OSStatus err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof(psn), &target);
    if (err == noErr)
        err = AECreateAppleEvent(kCoreEventClass, kAEQuitApplication, &target, kAutoGenerateReturnID,
                                 kAnyTransactionID, &event);
    if (err == noErr)
        err = AESendMessage(&event, &reply, kAEWaitReply, 300);
    AEDisposeDesc(&reply);
    AEDisposeDesc(&event);
    AEDisposeDesc(&target);
    if (err != noErr) {
        std::fprintf(stderr, "zvtool: System Events did not take the quit event (%d)\n", int(err));
        return 1;
    }
    // Done when it has unregistered.
    QElapsedTimer clock;
    clock.start();
    while (systemEventsPid() == pid && clock.elapsed() < 5000)
        QThread::msleep(20);
    return systemEventsPid() == pid ? 1 : 0;
}

} // namespace

int cmdLoginItems(const QStringList &args)
{
    const QString action = args.value(0);
    const QStringList rest = args.mid(1);
    if (action == QLatin1String("list")) {
        if (!rest.isEmpty())
            return usageError(QStringLiteral("login-items list takes no arguments"));
        return listItems();
    }
    if (action == QLatin1String("add")) {
        QStringList paths = rest;
        const bool hidden = paths.removeAll(QStringLiteral("--hidden")) > 0;
        if (paths.size() != 1 || paths.first().isEmpty())
            return usageError(QStringLiteral("usage: login-items add PATH [--hidden]"));
        if (!LQLoginItemRegistry::addLoginItemWithPathHideIt(paths.first(), hidden)) {
            std::fprintf(stderr, "zvtool: %s was not added to the login items\n", qPrintable(paths.first()));
            return 1;
        }
        return 0;
    }
    if (action == QLatin1String("remove")) {
        if (rest.size() != 1 || rest.first().isEmpty())
            return usageError(QStringLiteral("usage: login-items remove PATH"));
        if (!LQLoginItemRegistry::removeLoginItemWithPath(rest.first())) {
            std::fprintf(stderr, "zvtool: %s is not a login item or could not be removed\n", qPrintable(rest.first()));
            return 1;
        }
        return 0;
    }
    if (action == QLatin1String("quit-agent")) {
        if (!rest.isEmpty())
            return usageError(QStringLiteral("login-items quit-agent takes no arguments"));
        return quitAgent();
    }
    return usageError(QStringLiteral("usage: login-items list | add PATH [--hidden] | remove PATH | quit-agent"));
}
