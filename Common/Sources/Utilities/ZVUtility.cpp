#include "ZVUtility.h"

#include <QFileInfo>
#include <cstdlib>

// ======================================================================================
// Console, version and file operations
// ======================================================================================

void ZVUtility::removeFile(const QString &path)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return;
    const QByteArray command = QStringLiteral("rm -rf \"%1\"").arg(path).toUtf8();
    const int status = std::system(command.constData());
    Q_UNUSED(status);
}

bool ZVUtility::isStringContainsKeyString(const QString &string, const QString &key)
{
    if (string.isNull() || key.isNull() || key.isEmpty())
        return false;
    return string.contains(key, Qt::CaseSensitive);
}



// ======================================================================================
// Size texts
// ======================================================================================

QString ZVUtility::formatedFileSizeAsString(SizeNumber size)
{
    // Interim: whole bytes only, until the decimal size texts are in place.
    return QStringLiteral("%1 bytes").arg(size.value_or(0));
}

ZVUtility::SizeNumber ZVUtility::formatedFileSize(SizeNumber size) { return size; }



// ======================================================================================
// Server listings and the remote checklist
// ======================================================================================



// ======================================================================================
// Local sizes and exclusions
// ======================================================================================



// ======================================================================================
// Volumes, Time Machine and snapshot folders
// ======================================================================================



// ======================================================================================
// Predicates
// ======================================================================================


