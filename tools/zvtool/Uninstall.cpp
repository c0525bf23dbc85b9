// zvtool uninstall plan DEPLOYMENT_DIR [--json]
// zvtool uninstall run DEPLOYMENT_DIR [--report FILE]
//
// The uninstall of a deployment without its window, for administrators' scripts and support
// staff: the same procedure (ZVUninstallProcedure) over the same configured values as the
// wizard, with the deployment's table (DEPLOYMENT_DIR/Localizable.plist).
//
// plan changes nothing and needs no rights: the check-deployment findings, then every step
// with what it would act on now (paths with whether they exist and their size, the processes
// that would be stopped with their ids and command lines, the login items, the schedule
// records in progress, the command lines, the marker). Exit 0 when the plan was made
// (findings, if any, are listed in it), 1 when the table cannot be read, 2 usage error.
//
// run takes only rights that can be had without asking (root, or rights already granted):
// when there are none it changes nothing, says so in one line and exits 3. Progress
// ("step N of 17") goes to stderr when that is a terminal. Exit 0 when every step ran and
// none failed, 1 when the table cannot be read (nothing changed) or a step failed (the
// report says which), 2 usage error, 3 no rights. --report FILE writes a JSON report,
// step by step, through a file of its own in FILE's folder renamed over FILE, mode 0600.
// The report is written for a refused run too.
#include "CheckDeployment.h"
#include "Commands.h"

#include "LQLoginItemRegistry.h"
#include "NSBundle_p.h"
#include "ZVAuthentication.h"
#include "ZVUninstallProcedure_p.h"
#include "ZVUtility.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <cstdio>
#include <unistd.h>

namespace {

using Procedure = ZVUninstallProcedure;
using Action = ZVUninstallProcedure::Action;

constexpr int kNoRights = 3;

struct Options {
    QString deployment;
    bool json = false;
    QString report;
};

// The deployment's table, made the one that ZVLocalizedString reads; none (after a one-line
// message) when it cannot be read.
std::optional<QVariantMap> loadDeployment(const QString &command, const QString &deployment)
{
    const QString plist = QDir(deployment).filePath(QStringLiteral("Localizable.plist"));
    QString problem;
    std::optional<QVariantMap> table = readDeploymentTable(plist, &problem);
    if (!table) {
        std::fprintf(stderr, "zvtool: uninstall %s: %s: %s; nothing was changed\n", qPrintable(command),
                     plist.toUtf8().constData(), problem.toUtf8().constData());
        return std::nullopt;
    }
    NSBundle::mainBundle().setResourcePath(QFileInfo(deployment).absoluteFilePath());
    return table;
}

// The command line of process ID, arguments separated by blanks.
QString commandLine(qint32 id)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(id));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = file.readAll();
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return QString::fromLocal8Bit(bytes.replace('\0', ' '));
}

// What one target of a step is now, as a JSON object and as a text for the plain plan.
QJsonObject describe(const Procedure &procedure, Action action, const Procedure::Target &target, QString *text)
{
    QJsonObject o{{QStringLiteral("value"), target.value}};
    if (!target.key.isNull())
        o.insert(QStringLiteral("key"), target.key);
    switch (action) {
    case Action::Remove: {
        const QFileInfo info(target.value);
        const bool exists = info.exists() || info.isSymLink();
        o.insert(QStringLiteral("exists"), exists);
        *text = QStringLiteral("absent");
        if (exists) {
            const ZVUtility::SizeNumber size = info.isDir() && !info.isSymLink()
                ? ZVUtility::getFolderSize(target.value) : ZVUtility::SizeNumber(quint64(info.isSymLink() ? 0 : info.size()));
            if (size)
                o.insert(QStringLiteral("size"), double(*size));
            o.insert(QStringLiteral("sizeText"), ZVUtility::formatedFileSizeAsString(size));
            *text = QStringLiteral("exists, ") + ZVUtility::formatedFileSizeAsString(size);
        }
        break;
    }
    case Action::Stop: {
        QJsonArray processes;
        QStringList shown;
        for (const qint32 id : ZVAuthentication::sharedInstance()->getAllProcessIDsWithName(target.value)) {
            const QString command = commandLine(id);
            processes.append(QJsonObject{{QStringLiteral("pid"), id}, {QStringLiteral("command"), command}});
            shown << QStringLiteral("%1 %2").arg(id).arg(command);
        }
        o.insert(QStringLiteral("processes"), processes);
        *text = shown.isEmpty() ? QStringLiteral("not running")
                                : QStringLiteral("%1 running: ").arg(shown.size()) + shown.join(QStringLiteral("; "));
        break;
    }
    case Action::RemoveLoginItems: {
        const bool registered = LQLoginItemRegistry::indexForLoginItemWithPath(target.value) >= 0;
        o.insert(QStringLiteral("registered"), registered);
        *text = registered ? QStringLiteral("registered") : QStringLiteral("not registered");
        break;
    }
    case Action::ResetSchedules: {
        const int count = procedure.schedulesInProgress();
        o.insert(QStringLiteral("inProgress"), count);
        *text = count < 0 ? QStringLiteral("no readable schedule list")
                          : QStringLiteral("%1 records in progress").arg(count);
        break;
    }
    case Action::WriteMarker:
        *text = QStringLiteral("would be written");
        break;
    default:
        text->clear();
        break;
    }
    return o;
}

int plan(const Options &options)
{
    const std::optional<QVariantMap> table = loadDeployment(QStringLiteral("plan"), options.deployment);
    if (!table)
        return 1;
    const QList<DeploymentFinding> findings = checkDeployment(*table, currentUserName());
    Procedure procedure;
    QJsonArray jsonFindings, jsonSteps;
    if (!options.json) {
        out() << "check-deployment: " << (findings.isEmpty() ? QStringLiteral("no findings")
                                                              : QStringLiteral("%1 findings").arg(findings.size()))
              << '\n';
    }
    for (const DeploymentFinding &f : findings) {
        jsonFindings.append(QJsonObject{{QStringLiteral("key"), f.key}, {QStringLiteral("category"), f.category},
                                        {QStringLiteral("explanation"), f.explanation}});
        if (!options.json)
            out() << "  " << f.line() << '\n';
    }
    for (const Procedure::PlannedStep &planned : procedure.plan()) {
        QJsonArray targets;
        const QString action = Procedure::actionName(planned.step.action);
        if (!options.json && planned.targets.isEmpty())
            out() << QStringLiteral("step %1 %2").arg(planned.step.number, 2).arg(action) << '\n';
        for (const Procedure::Target &target : planned.targets) {
            QString text;
            targets.append(describe(procedure, planned.step.action, target, &text));
            if (!options.json) {
                out() << QStringLiteral("step %1 %2 %3%4").arg(planned.step.number, 2).arg(action,
                             target.key.isNull() ? QString() : target.key + u' ', target.value);
                if (!text.isEmpty())
                    out() << " (" << text << ')';
                out() << '\n';
            }
        }
        jsonSteps.append(QJsonObject{{QStringLiteral("step"), planned.step.number}, {QStringLiteral("action"), action},
                                     {QStringLiteral("progress"), planned.step.progress},
                                     {QStringLiteral("targets"), targets}});
    }
    if (options.json) {
        const QJsonObject root{{QStringLiteral("deployment"), QFileInfo(options.deployment).absoluteFilePath()},
                               {QStringLiteral("findings"), jsonFindings}, {QStringLiteral("steps"), jsonSteps}};
        out() << QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
    }
    return 0;
}

// Writes BYTES to PATH through a new file in the same folder (created by us, mode 0600) that
// is then renamed over PATH: a link or file at PATH is replaced, never written through.
bool writeReport(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    QTemporaryFile file(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush() || ::fsync(file.handle()) != 0)
        return false;
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(info.absoluteFilePath()).constData()) != 0)
        return false;
    file.setAutoRemove(false);
    return true;
}

int runUninstall(const Options &options)
{
    const std::optional<QVariantMap> table = loadDeployment(QStringLiteral("run"), options.deployment);
    if (!table)
        return 1;
    Procedure procedure;
    // Rights only as far as they can be had without asking anybody.
    procedure.authorize = [](const QStringList &entries) {
        return ZVAuthentication::sharedInstance()->isAuthenticated(entries);
    };
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    int progress = 0;
    procedure.increamentProgress = [&] {
        ++progress;
        if (terminal)
            std::fprintf(stderr, "\rstep %d of 17", progress);
    };
    QJsonArray steps;
    int failed = 0;
    procedure.stepFinished = [&](const Procedure::StepReport &report) {
        QJsonArray actedOn;
        for (const Procedure::Outcome &o : report.outcomes) {
            QJsonObject item{{QStringLiteral("value"), o.target.value}, {QStringLiteral("outcome"), o.outcome}};
            if (!o.target.key.isNull())
                item.insert(QStringLiteral("key"), o.target.key);
            if (report.step.action == Action::Stop) {
                QJsonArray ids;
                for (const qint32 id : o.stopped)
                    ids.append(id);
                item.insert(QStringLiteral("stopped"), ids);
            }
            actedOn.append(item);
            if (o.outcome.startsWith(QLatin1String("failed")))
                ++failed;
        }
        steps.append(QJsonObject{{QStringLiteral("step"), report.step.number},
                                 {QStringLiteral("action"), Procedure::actionName(report.step.action)},
                                 {QStringLiteral("actedOn"), actedOn},
                                 {QStringLiteral("seconds"), double(report.microseconds) / 1e6}});
    };
    const QDateTime started = QDateTime::currentDateTimeUtc();
    const bool granted = procedure.run();
    if (terminal && progress > 0)
        std::fputc('\n', stderr);
    int status = 0;
    if (!granted) {
        std::fputs("zvtool: uninstall run: administrator rights cannot be had without asking (run it as root); "
                   "nothing was changed\n", stderr);
        status = kNoRights;
    } else if (failed > 0) {
        std::fprintf(stderr, "zvtool: uninstall run: %d actions failed (see the report)\n", failed);
        status = 1;
    }
    if (!options.report.isEmpty()) {
        const QJsonObject root{
            {QStringLiteral("deployment"), QFileInfo(options.deployment).absoluteFilePath()},
            {QStringLiteral("started"), started.toString(Qt::ISODate)},
            {QStringLiteral("rightsGranted"), granted},
            {QStringLiteral("exitStatus"), status},
            {QStringLiteral("steps"), steps}};
        if (!writeReport(options.report, QJsonDocument(root).toJson(QJsonDocument::Indented))) {
            std::fprintf(stderr, "zvtool: uninstall run: cannot write the report %s\n", qPrintable(options.report));
            return status == 0 ? 1 : status;
        }
    }
    return status;
}

} // namespace

int cmdUninstall(const QStringList &args)
{
    const QString what = args.value(0);
    if (what != QLatin1String("plan") && what != QLatin1String("run"))
        return usageError(QStringLiteral("uninstall needs 'plan' or 'run'"));
    Options options;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (what == QLatin1String("plan") && arg == QLatin1String("--json")) {
            options.json = true;
        } else if (what == QLatin1String("run") && arg == QLatin1String("--report")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                return usageError(QStringLiteral("uninstall run: --report needs a file"));
            options.report = args[++i];
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            return usageError(QStringLiteral("uninstall %1: unknown option '%2'").arg(what, arg));
        } else if (options.deployment.isNull()) {
            options.deployment = arg;
        } else {
            return usageError(QStringLiteral("uninstall %1 takes one deployment folder").arg(what));
        }
    }
    if (options.deployment.isEmpty())
        return usageError(QStringLiteral("uninstall %1 needs a deployment folder").arg(what));
    return what == QLatin1String("plan") ? plan(options) : runUninstall(options);
}
