// zvtool folder-size and volumes: local folder sizes and the mounted volumes.
#include "Commands.h"

#include "ZVUtility.h"

int cmdFolderSize(const QStringList &args)
{
    if (args.isEmpty())
        return usageError(QStringLiteral("folder-size needs at least one PATH"));
    for (const QString &path : args) {
        const ZVUtility::SizeNumber size = ZVUtility::getFolderSize(path);
        if (size)
            out() << *size << '\n';
        else
            out() << "none\n";
    }
    return 0;
}

int cmdVolumes(const QStringList &args)
{
    if (!args.isEmpty())
        return usageError(QStringLiteral("volumes takes no arguments"));
    const QStringList volumes = ZVUtility::listMountedVolumesPaths();
    for (const QString &volume : volumes)
        out() << volume << '\n';
    return 0;
}
