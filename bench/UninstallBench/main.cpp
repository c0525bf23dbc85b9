// UninstallBench DEPLOYMENT_DIR
//
// Runs the real uninstall procedure of the wizard once, with DEPLOYMENT_DIR as its resource
// folder, and prints one JSON line: the wall time of the whole procedure and how it splits
// into the one-second pause, the external commands (the rights check, the unload command
// lines, the process stops with their listings and kills, the removals, the login item
// events) and our own work (the rest: the marker, the schedule resets, the window), each step kind's total, the peak resident memory of this process,
// and whether it ended on the completion page.
#include "MainInterface.h"
#include "NSBundle_p.h"
#include "ZVUninstaller.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QPushButton>
#include <QStackedWidget>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: UninstallBench DEPLOYMENT_DIR\n");
        return 2;
    }
    NSBundle::mainBundle().setResourcePath(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    MainInterface interface;
    ZVUninstaller *c = interface.controller();
    c->awakeFromNib();
    c->tabView->setCurrentIndex(1);
    c->updateUI();

    // Each step is timed from its note to the next one.
    QMap<QString, qint64> byKind;
    QElapsedTimer clock;
    QString current;
    qint64 since = 0;
    auto close = [&](qint64 now) {
        if (!current.isEmpty())
            byKind[current] += now - since;
    };
    c->stepObserver = [&](const QString &step) {
        const qint64 now = clock.nsecsElapsed();
        close(now);
        current = step.section(QLatin1Char(' '), 0, 0);
        since = now;
    };
    clock.start();
    c->nextScreen(nullptr);
    const qint64 total = clock.nsecsElapsed();
    close(total);

    const auto ms = [](qint64 ns) { return double(ns) / 1e6; };
    const qint64 pause = byKind.value(QStringLiteral("sleep"));
    qint64 external = 0;
    for (const char *kind : {"system", "stop", "remove", "removeLoginItems", "authenticate"})
        external += byKind.value(QString::fromLatin1(kind));
    QJsonObject steps;
    for (auto it = byKind.cbegin(); it != byKind.cend(); ++it)
        steps.insert(it.key(), ms(it.value()));
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    QJsonObject out{{QStringLiteral("total_ms"), ms(total)},
                    {QStringLiteral("pause_ms"), ms(pause)},
                    {QStringLiteral("external_ms"), ms(external)},
                    {QStringLiteral("own_ms"), ms(total - pause - external)},
                    {QStringLiteral("steps_ms"), steps},
                    {QStringLiteral("peak_rss_kb"), qint64(usage.ru_maxrss)},
                    {QStringLiteral("threads_at_end"), qint64(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size())},
                    {QStringLiteral("completed"), c->tabView->currentIndex() == 2}};
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return c->tabView->currentIndex() == 2 ? 0 : 1;
}
