#include "ZVLocalizedString.h"

#include "NSBundle_p.h"
#include "PropertyList_p.h"

#include <QVariantMap>
#include <optional>

namespace {
// Filled by the first successful load and never re-read nor released.
std::optional<QVariantMap> localizedStrings;
}

std::optional<QVariant> ZVReadLocalizedStringsTable(const QString &path)
{
    return PropertyList::readFile(path, kLocalizedStringsMaxBytes);
}

QString ZVLocalizedString(const QString &key, const QString &comment)
{
    Q_UNUSED(comment);
    if (key.isNull())
        return QStringLiteral("");
    if (!localizedStrings) {
        const QString path = NSBundle::mainBundle().pathForResourceOfType(
            QStringLiteral("Localizable"), QStringLiteral("plist"));
        if (!path.isNull()) {
            const auto table = ZVReadLocalizedStringsTable(path);
            if (table && table->typeId() == QMetaType::QVariantMap)
                localizedStrings = table->toMap();
        }
    }
    if (localizedStrings) {
        const auto it = localizedStrings->constFind(key);
        if (it != localizedStrings->cend() && it->typeId() == QMetaType::QString)
            return it->toString();
    }
    return key;
}
