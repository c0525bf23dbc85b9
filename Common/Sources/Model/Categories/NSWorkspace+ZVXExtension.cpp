#include "NSWorkspace+ZVXExtension.h"

#include "NSAppleScript_p.h"
#include "NSStringFormat_p.h"
#include "ZVProcessListing_p.h"

#include <QProcess>
#include <QUrl>

namespace ZVXExtension {

namespace {
const char kAllProcessesListingCommand[] = "/bin/ps -axwwopid,command,user | grep \"%@\"";
}

QList<qint32> getAllProcessIDsWithName(NSWorkspace &workspace, const QString &name)
{
    Q_UNUSED(workspace);
    const QString command = NSStringFormat::stringWithFormat(
        QString::fromLatin1(kAllProcessesListingCommand), {name});
    return ZVProcessListing::processIDsFromCommand(command, name,
                                                   ZVProcessListing::Encoding::UTF8);
}

void killAllProcessesWithName(NSWorkspace &workspace, const QString &name)
{
    const QList<qint32> ids = getAllProcessIDsWithName(workspace, name);
    for (const qint32 id : ids) {
        QProcess task;
        task.setProgram(QStringLiteral("/bin/kill"));
        task.setArguments({QString::number(id)});
        task.setStandardOutputFile(QProcess::nullDevice());
        task.setStandardErrorFile(QProcess::nullDevice());
        task.start();
        if (!task.waitForStarted(-1))
            continue;
        task.waitForFinished(-1);
    }
}

std::optional<QVariantMap> executeAppleScriptFromFile(NSWorkspace &workspace, const QString &path)
{
    Q_UNUSED(workspace);
    if (path.isEmpty())
        return std::nullopt;
    const QUrl url = QUrl::fromLocalFile(path);
    if (!url.isValid())
        return std::nullopt;
    QVariantMap errorInfo;
    auto script = NSAppleScript::initWithContentsOfURL(url, &errorInfo);
    if (!script)
        return errorInfo;
    errorInfo.clear();
    if (!script->executeAndReturnError(&errorInfo))
        return errorInfo;
    return std::nullopt;
}

} // namespace ZVXExtension
