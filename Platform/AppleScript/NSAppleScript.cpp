#include "NSAppleScript_p.h"

#include "MacTypes.h"

#include <QFile>
#include <QFileInfo>

namespace {

QVariantMap errorDictionary(qint32 number, const QString &message)
{
    return {{NSAppleScriptErrorNumber, number},
            {NSAppleScriptErrorMessage, message},
            {NSAppleScriptErrorBriefMessage, message}};
}

} // namespace

std::unique_ptr<NSAppleScript> NSAppleScript::initWithContentsOfURL(const QUrl &url,
                                                                    QVariantMap *errorInfo)
{
    auto fail = [errorInfo](qint32 number, const QString &message) {
        if (errorInfo)
            *errorInfo = errorDictionary(number, message);
        return std::unique_ptr<NSAppleScript>();
    };
    if (!url.isValid() || !url.isLocalFile())
        return fail(paramErr, QStringLiteral("The script's location is not a file."));
    const QString path = url.toLocalFile();
    const QFileInfo info(path);
    if (!info.exists())
        return fail(fnfErr, QStringLiteral("The script file \"%1\" could not be found.").arg(path));
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        return fail(permErr, QStringLiteral("The script file \"%1\" could not be read.").arg(path));
    return std::unique_ptr<NSAppleScript>(new NSAppleScript(file.readAll()));
}

std::optional<QVariant> NSAppleScript::executeAndReturnError(QVariantMap *errorInfo)
{
    if (errorInfo)
        *errorInfo = errorDictionary(errOSACantOpenComponent,
                                     QStringLiteral("AppleScript is not available on this system."));
    return std::nullopt;
}
