#include "NSWorkspace.h"

NSWorkspace &NSWorkspace::sharedWorkspace()
{
    static NSWorkspace workspace;
    return workspace;
}

// ======================================================================================
// Running applications
// ======================================================================================

#include <QDir>
#include <QFile>
#include <algorithm>

QVariantList NSWorkspace::launchedApplications() const
{
    QList<qint32> ids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint32 id = entry.toInt(&ok);
        if (ok && id > 0)
            ids.append(id);
    }
    std::sort(ids.begin(), ids.end());

    QVariantList applications;
    for (const qint32 id : std::as_const(ids)) {
        const QString folder = QStringLiteral("/proc/%1").arg(id);
        QFile cmdline(folder + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue; // ended meanwhile
        const QByteArray argv0 = cmdline.readAll().split('\0').value(0);
        if (argv0.isEmpty())
            continue;
        const QString name = QString::fromUtf8(argv0.mid(argv0.lastIndexOf('/') + 1));
        if (name.isEmpty())
            continue;
        QVariantMap application{{QStringLiteral("NSApplicationName"), name},
                                {QStringLiteral("NSApplicationProcessIdentifier"), id}};
        const QString path = QFile::symLinkTarget(folder + QStringLiteral("/exe"));
        if (!path.isEmpty())
            application.insert(QStringLiteral("NSApplicationPath"), path);
        applications.append(application);
    }
    return applications;
}



// ======================================================================================
// Removable media
// ======================================================================================

QStringList NSWorkspace::mountedRemovableMedia() const { return {}; }



// ======================================================================================
// Packages
// ======================================================================================

bool NSWorkspace::isFilePackageAtPath(const QString &path) const
{
    Q_UNUSED(path);
    return false;
}
