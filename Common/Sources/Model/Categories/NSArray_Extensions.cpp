#include "NSArray_Extensions.h"

namespace MyExtensions {

// The keyed archive is not readable yet: every file counts as unreadable.
bool writeToArchivedFileWithKey(const QVariantList &list, const QString &path, const QString &key)
{
    Q_UNUSED(list); Q_UNUSED(path); Q_UNUSED(key);
    return false;
}

std::optional<QVariantList> initWithContentsOfArchivedFileWithKey(const QString &path, const QString &key)
{
    Q_UNUSED(path); Q_UNUSED(key);
    return std::nullopt;
}

} // namespace MyExtensions
