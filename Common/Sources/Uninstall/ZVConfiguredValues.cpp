#include "ZVConfiguredValues_p.h"

#include "NSPathUtilities_p.h"
#include "NSStringFormat_p.h"

const QString ZVConfiguredValues::kAlertMessageKey = QStringLiteral(
    "Stop any backup operation that may be in progress and then proceed to uninstall the application.\n"
    " Are you sure that you want to completely remove Tavrin for Mac and all it's components?");

namespace {

using K = ZVConfiguredValues::Kind;
using U = ZVConfiguredValues::Use;

// The steps of the uninstall that stop a process; each stop writes and removes the scratch
// listing of "UninstallProcessInstanceCommandOutputFilePath".
const QList<int> kStopSteps = {5, 6, 11, 18, 19, 21, 22, 29, 30};

ZVConfiguredValues makeStandard()
{
    ZVConfiguredValues t;
    auto add = [&t](const char *key, K kind, unsigned uses, QList<int> steps, const char *execPathKey = nullptr) {
        t.entries.append({QString::fromUtf8(key), kind, uses, std::move(steps),
                          execPathKey ? QString::fromUtf8(execPathKey) : QString()});
    };
    add("ApplicationName", K::DisplayText, U::NoUse, {});
    add("Yes", K::DisplayText, U::NoUse, {});
    add("No", K::DisplayText, U::NoUse, {});
    t.entries.append({ZVConfiguredValues::kAlertMessageKey, K::DisplayText, U::Format, {}, QString()});
    add("ApplicationExecName", K::ProcessName, U::Stopped | U::Authorized, {1, 5}, "ApplicationExecPath");
    add("MonitorExecName", K::ProcessName, U::Stopped | U::Authorized, {1, 6}, "MonitorExecPath");
    add("DaemonExecName", K::ProcessName, U::Stopped | U::Authorized, {1, 29});
    add("WebManagementExecName", K::ProcessName, U::Stopped | U::Authorized, {1, 11, 30});
    add("ExecuterName", K::ProcessName, U::Stopped, {18});
    add("STunnelName", K::ProcessName, U::Stopped, {19});
    add("SchedulerExecuterName", K::ProcessName, U::Stopped, {21});
    add("SchedulerSTunnelName", K::ProcessName, U::Stopped, {22});
    add("DaemonUnloadCommand", K::CommandLine, U::CommandRun, {3});
    add("WebDaemonUnloadCommand", K::CommandLine, U::CommandRun, {4});
    add("DaemonPlist", K::AbsolutePath, U::Removed, {7});
    add("WebDaemonPlist", K::AbsolutePath, U::Removed, {8});
    add("ApplicationsFolder", K::AbsolutePath, U::Removed, {10});
    add("UninstallerFilePath", K::AbsolutePath, U::WrittenByUser | U::Marker, {12});
    add("ApplicationPreferenceFile", K::UserPathFormat, U::Removed, {13});
    add("MonitorUserDefaultsFile", K::UserPathFormat, U::Removed, {14});
    add("DaemonUserDefaultsFile", K::UserPathFormat, U::Removed, {15});
    add("RecieptFilePath", K::AbsolutePath, U::Removed, {16});
    add("ShortcutPath", K::UserPathFormat, U::Removed | U::Standardized, {17});
    add("SchedulerState", K::AbsolutePath, U::Removed, {25});
    add("SchedulerLoginInfo", K::AbsolutePath, U::Removed, {26});
    add("LoginInfo", K::UserPathFormat, U::Removed | U::Standardized, {27});
    add("ApplicationStatusPath", K::PlainFormat, U::Removed | U::Standardized, {28});
    add("SchedulerSettingsFile", K::AbsolutePath, U::WrittenByUser | U::ScheduleList, {20, 23});
    add("ApplicationExecPath", K::AbsolutePath, U::LoginItem, {9, 24});
    add("MonitorExecPath", K::AbsolutePath, U::LoginItem, {9, 24});
    add("UninstallProcessInstanceCommandOutputFilePath", K::PlainFormat,
        U::Removed | U::WrittenByUser | U::ShellRedirect, kStopSteps);
    // Scratch files of the console operations shared with the product; the uninstall's own
    // steps do not use them.
    add("LastConsoleUserNameFilePath", K::PlainFormat, U::Removed | U::WrittenByUser | U::ShellRedirect, {});
    add("LogoutCommandOutputFilePath", K::PlainFormat, U::Removed | U::WrittenByUser | U::ShellRedirect, {});
    return t;
}

} // namespace

const ZVConfiguredValues &ZVConfiguredValues::standard()
{
    static const ZVConfiguredValues table = makeStandard();
    return table;
}

const ZVConfiguredValues::Entry *ZVConfiguredValues::find(const QString &key) const
{
    for (const Entry &entry : entries) {
        if (entry.key == key)
            return &entry;
    }
    return nullptr;
}

QList<const ZVConfiguredValues::Entry *> ZVConfiguredValues::forStep(int step, unsigned use) const
{
    QList<const Entry *> found;
    for (const Entry &entry : entries) {
        if ((entry.uses & use) && entry.steps.contains(step))
            found.append(&entry);
    }
    return found;
}

QString ZVConfiguredValues::asUsed(const Entry &entry, const QString &value, const QString &user)
{
    QString used = value;
    if (entry.kind == Kind::UserPathFormat)
        used = NSStringFormat::stringWithFormat(value, {user});
    else if (entry.kind == Kind::PlainFormat)
        used = NSStringFormat::stringWithFormat(value);
    return entry.has(Standardized) ? stringByStandardizingPath(used) : used;
}
