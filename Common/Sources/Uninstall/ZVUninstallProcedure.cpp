#include "ZVUninstallProcedure_p.h"

#include "FileLock_p.h"
#include "LQLoginItemRegistry.h"
#include "NSArray_Extensions.h"
#include "NSPathUtilities_p.h"
#include "ProcessRunner_p.h"
#include "PropertyList_p.h"
#include "TavrinScheduleItem.h"
#include "ZVAuthentication.h"
#include "ZVLocalizedString.h"
#include "ZVScheduleItem.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace {

using A = ZVUninstallProcedure::Action;
using U = ZVConfiguredValues::Use;

// The uses that tie a configured value to each action.
unsigned usesOf(A action)
{
    switch (action) {
    case A::Authenticate: return U::Authorized;
    case A::RunCommand: return U::CommandRun;
    case A::Stop: return U::Stopped;
    case A::Remove: return U::Removed;
    case A::RemoveLoginItems: return U::LoginItem;
    case A::WriteMarker: return U::Marker;
    case A::ResetSchedules: return U::ScheduleList;
    default: return U::NoUse;
    }
}

bool present(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

ZVUninstallProcedure::ZVUninstallProcedure(const ZVConfiguredValues &values) : m_values(values) {}

const QList<ZVUninstallProcedure::Step> &ZVUninstallProcedure::steps()
{
    static const QList<Step> list = {
        {1, A::Authenticate, false},   {2, A::UnsetEnvironment, false}, {3, A::RunCommand, false},
        {4, A::RunCommand, false},     {5, A::Stop, true},              {6, A::Stop, true},
        {7, A::Remove, true},          {8, A::Remove, true},            {9, A::RemoveLoginItems, true},
        {10, A::Remove, true},         {11, A::Stop, true},             {12, A::WriteMarker, true},
        {13, A::Remove, true},         {14, A::Remove, true},           {15, A::Remove, true},
        {16, A::Remove, true},         {17, A::Remove, false},          {18, A::Stop, false},
        {19, A::Stop, false},          {20, A::ResetSchedules, false},  {21, A::Stop, false},
        {22, A::Stop, false},          {23, A::ResetSchedules, false},  {24, A::RemoveLoginItems, true},
        {25, A::Remove, true},         {26, A::Remove, true},           {27, A::Remove, true},
        {28, A::Remove, true},         {29, A::Stop, false},            {30, A::Stop, false},
        {31, A::NextPage, false},      {32, A::EnableButtons, false},
    };
    return list;
}

QString ZVUninstallProcedure::actionName(Action action)
{
    switch (action) {
    case A::Authenticate: return QStringLiteral("authenticate");
    case A::UnsetEnvironment: return QStringLiteral("unsetenv");
    case A::RunCommand: return QStringLiteral("command");
    case A::Stop: return QStringLiteral("stop");
    case A::Remove: return QStringLiteral("remove");
    case A::RemoveLoginItems: return QStringLiteral("login-items");
    case A::WriteMarker: return QStringLiteral("marker");
    case A::ResetSchedules: return QStringLiteral("reset-schedules");
    case A::NextPage: return QStringLiteral("next-page");
    case A::EnableButtons: return QStringLiteral("enable-buttons");
    }
    return QString();
}

QString ZVUninstallProcedure::valueOf(const ZVConfiguredValues::Entry &entry) const
{
    return ZVConfiguredValues::asUsed(entry, ZVLocalizedString(entry.key, QString()), NSUserName());
}

QList<ZVUninstallProcedure::Target> ZVUninstallProcedure::targets(const Step &step) const
{
    QList<Target> found;
    if (step.action == A::UnsetEnvironment)
        found.append({QString(), QStringLiteral("TMPDIR")});
    for (const ZVConfiguredValues::Entry *entry : m_values.forStep(step.number, usesOf(step.action)))
        found.append({entry->key, valueOf(*entry)});
    if (step.action == A::Authenticate) {
        for (const char *fixed : {"/bin/launchctl", "/usr/bin/sudo", "sudo /bin/launchctl unload"})
            found.append({QString(), QString::fromLatin1(fixed)});
    }
    return found;
}

QList<ZVUninstallProcedure::PlannedStep> ZVUninstallProcedure::plan() const
{
    QList<PlannedStep> planned;
    for (const Step &step : steps())
        planned.append({step, targets(step)});
    return planned;
}

void ZVUninstallProcedure::note(const QString &line) const
{
    if (stepObserver)
        stepObserver(line);
}

bool ZVUninstallProcedure::run()
{
    m_removalArguments.clear();
    // One uninstall at a time on a machine: two would share the scratch listing that stopping
    // a process writes, and one would empty the other's. A second one waits up to two minutes
    // for the first, then ends as a refused authorization does.
    const FileLock oneAtATime(ZVLocalizedString(QStringLiteral("UninstallProcessInstanceCommandOutputFilePath"), QString())
                                  + QStringLiteral(".lock"), 120);
    m_aloneOnTheMachine = oneAtATime.isHeld();
    bool granted = false;
    for (const Step &step : steps()) {
        // A refused authorization leaves only the last step.
        if (!granted && step.number != 1 && step.action != A::EnableButtons)
            continue;
        QElapsedTimer timer;
        timer.start();
        const QList<Target> list = targets(step);
        const QList<Outcome> outcomes = perform(step, list, &granted);
        if (step.progress && increamentProgress)
            increamentProgress();
        if (stepFinished)
            stepFinished({step, outcomes, timer.nsecsElapsed() / 1000});
    }
    return granted;
}

QList<ZVUninstallProcedure::Outcome> ZVUninstallProcedure::perform(const Step &step, const QList<Target> &list,
                                                                   bool *granted)
{
    const bool look = bool(stepFinished);
    QList<Outcome> outcomes;
    switch (step.action) {
    case A::Authenticate: {
        QStringList entries;
        for (const Target &t : list)
            entries.append(t.value);
        note(QStringLiteral("authenticate ") + entries.join(QLatin1Char('|')));
        if (!m_aloneOnTheMachine) {
            *granted = false;
            outcomes.append({{QString(), entries.join(QLatin1Char('|'))},
                             QStringLiteral("failed: another uninstall is running")});
            break;
        }
        *granted = authorize ? authorize(entries) : ZVAuthentication::sharedInstance()->authenticate(entries);
        outcomes.append({{QString(), entries.join(QLatin1Char('|'))},
                         *granted ? QStringLiteral("granted") : QStringLiteral("refused")});
        break;
    }
    case A::UnsetEnvironment:
        qunsetenv("TMPDIR");
        note(QStringLiteral("unsetenv TMPDIR"));
        outcomes.append({list.value(0), QStringLiteral("removed from the environment")});
        break;
    case A::RunCommand:
        for (const Target &t : list) {
            note(QStringLiteral("system ") + t.value);
            const int status = ProcessRunner::runShellQuietly(t.value.toLocal8Bit());
            outcomes.append({t, status < 0 ? QStringLiteral("failed: the command did not exit")
                                           : QStringLiteral("ran, exit status %1").arg(status)});
        }
        break;
    case A::Stop:
        for (const Target &t : list)
            outcomes.append(stop(t, look));
        break;
    case A::Remove:
        for (const Target &t : list)
            outcomes.append({t, remove(t.value, look)});
        break;
    case A::RemoveLoginItems: {
        QList<bool> listed;
        for (const Target &t : list)
            listed.append(look && LQLoginItemRegistry::indexForLoginItemWithPath(t.value) >= 0);
        const QList<bool> removed = removeLoginItems();
        for (qsizetype i = 0; i < list.size(); ++i) {
            outcomes.append({list[i], removed.value(i) ? QStringLiteral("removed")
                                      : listed[i]   ? QStringLiteral("failed: the login item could not be removed")
                                                    : QStringLiteral("was absent")});
        }
        break;
    }
    case A::WriteMarker:
        for (const Target &t : list) {
            note(QStringLiteral("marker ") + t.value);
            const bool written = PropertyList::writeFile(QVariantMap{{QStringLiteral("KILLDAEMON"), true}}, t.value,
                                                         PropertyList::Format::XML, true);
            outcomes.append({t, written ? QStringLiteral("written") : QStringLiteral("failed: cannot write the file")});
        }
        note(QStringLiteral("sleep 1"));
        ProcessRunner::sleepSeconds(1);
        break;
    case A::ResetSchedules: {
        const int reset = resetInProgressSchedulesState();
        outcomes.append({list.value(0), reset < 0 ? QStringLiteral("no readable schedule list")
                                                  : QStringLiteral("%1 records reset").arg(reset)});
        break;
    }
    case A::NextPage:
        if (selectNextTabViewItem)
            selectNextTabViewItem();
        note(QStringLiteral("selectNextTabViewItem"));
        break;
    case A::EnableButtons:
        if (enableButtons)
            enableButtons();
        note(QStringLiteral("enableButtons"));
        break;
    }
    return outcomes;
}

ZVUninstallProcedure::Outcome ZVUninstallProcedure::stop(const Target &target, bool look)
{
    ZVAuthentication *auth = ZVAuthentication::sharedInstance();
    note(QStringLiteral("stop ") + target.value);
    const QList<qint32> before = look ? auth->getAllProcessIDsWithName(target.value) : QList<qint32>();
    const bool ran = auth->killProcess(target.value);
    if (!look)
        return {target, QString(), {}};
    const QList<qint32> after = auth->getAllProcessIDsWithName(target.value);
    QList<qint32> stopped;
    for (const qint32 id : before) {
        if (!after.contains(id))
            stopped.append(id);
    }
    QString outcome = QStringLiteral("%1 processes stopped").arg(stopped.size());
    if (!ran)
        outcome = QStringLiteral("failed: the kill was refused or could not be started (%1)").arg(outcome);
    else if (!after.isEmpty())
        outcome = QStringLiteral("failed: %1 processes still running (%2)").arg(after.size()).arg(outcome);
    return {target, outcome, stopped};
}

QString ZVUninstallProcedure::remove(const QString &path, bool look)
{
    // One argument list serves every removal: "-rf" and the path that changes.
    if (m_removalArguments.size() < 2)
        m_removalArguments = {QStringLiteral("-rf"), path};
    else
        m_removalArguments[1] = path;
    note(QStringLiteral("remove ") + path);
    const bool existed = look && present(path);
    const bool ran = ZVAuthentication::sharedInstance()->executeCommandWithArgs(QStringLiteral("/bin/rm"),
                                                                              m_removalArguments);
    if (!look)
        return QString();
    if (!ran)
        return QStringLiteral("failed: /bin/rm could not be run with administrator rights");
    if (present(path))
        return QStringLiteral("failed: still present after /bin/rm -rf");
    return existed ? QStringLiteral("removed") : QStringLiteral("was absent");
}

QList<bool> ZVUninstallProcedure::removeLoginItems()
{
    note(QStringLiteral("removeLoginItems"));
    QList<bool> results;
    for (const Step &step : steps()) {
        if (step.action != A::RemoveLoginItems)
            continue;
        // Both login item steps act on the same paths; the first one names them.
        for (const Target &t : targets(step))
            results.append(LQLoginItemRegistry::removeLoginItemWithPath(t.value));
        break;
    }
    return results;
}

QString ZVUninstallProcedure::scheduleListPath() const
{
    for (const ZVConfiguredValues::Entry &entry : m_values.entries) {
        if (entry.has(U::ScheduleList))
            return valueOf(entry);
    }
    return QString();
}

namespace {

const QString kSchedulesKey = QStringLiteral("Schedules");

// Sets the records in progress of SCHEDULES to none when RESET; their number.
int inProgress(const QVariantList &schedules, bool reset)
{
    int count = 0;
    for (const QVariant &element : schedules) {
        const NSObjectPtr object = objectFromVariant(element);
        if (auto *item = dynamic_cast<ZVScheduleItem *>(object.get()); item && item->status() == 1) {
            if (reset)
                item->setStatus(0);
            ++count;
        } else if (auto *tavrin = dynamic_cast<TavrinScheduleItem *>(object.get()); tavrin && tavrin->status() == 1) {
            if (reset)
                tavrin->setStatus(0);
            ++count;
        }
    }
    return count;
}

} // namespace

int ZVUninstallProcedure::schedulesInProgress() const
{
    const auto schedules = MyExtensions::initWithContentsOfArchivedFileWithKey(scheduleListPath(), kSchedulesKey);
    return schedules ? inProgress(*schedules, false) : -1;
}

int ZVUninstallProcedure::resetInProgressSchedulesState()
{
    note(QStringLiteral("reset"));
    const QString path = scheduleListPath();
    std::optional<QVariantList> schedules = MyExtensions::initWithContentsOfArchivedFileWithKey(path, kSchedulesKey);
    if (!schedules)
        return -1;
    const int changed = inProgress(*schedules, true);
    if (changed > 0)
        MyExtensions::writeToArchivedFileWithKey(*schedules, path, kSchedulesKey);
    return changed;
}
