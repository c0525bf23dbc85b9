#include "Gestalt_p.h"

#include "PropertyList_p.h"

#include <QStringList>
#include <QVariantMap>
#include <array>
#include <optional>

namespace {

std::optional<std::array<SInt32, 3>> readVersion(const QString &path)
{
    const auto plist = PropertyList::readFile(path);
    if (!plist || plist->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariant product = plist->toMap().value(QStringLiteral("ProductVersion"));
    if (product.typeId() != QMetaType::QString)
        return std::nullopt;
    const QStringList parts = product.toString().split(QLatin1Char('.'));
    if (parts.size() > 3)
        return std::nullopt;
    std::array<SInt32, 3> version{0, 0, 0};
    for (int i = 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        bool ok = false;
        const int number = part.toInt(&ok);
        // Digits only: toInt would also take signs and blanks.
        for (const QChar c : part)
            ok = ok && c.isDigit() && c.unicode() < 128;
        if (!ok || number > 99)
            return std::nullopt;
        version[size_t(i)] = number;
    }
    return version;
}

} // namespace

OSErr GestaltFromSystemVersionFile(const QString &path, OSType selector, SInt32 *response)
{
    Q_ASSERT(response);
    if (!response)
        return paramErr;
    if (selector != gestaltSystemVersion && selector != gestaltSystemVersionMajor
        && selector != gestaltSystemVersionMinor && selector != gestaltSystemVersionBugFix)
        return gestaltUndefSelectorErr;
    const auto version = readVersion(path);
    if (!version)
        return gestaltUndefSelectorErr;
    const auto [major, minor, bugFix] = *version;
    switch (selector) {
    case gestaltSystemVersionMajor: *response = major; break;
    case gestaltSystemVersionMinor: *response = minor; break;
    case gestaltSystemVersionBugFix: *response = bugFix; break;
    default:
        *response = ((major / 10) << 12) | ((major % 10) << 8) | (qMin(minor, 9) << 4)
            | qMin(bugFix, 9);
        break;
    }
    return noErr;
}

OSErr Gestalt(OSType selector, SInt32 *response)
{
    return GestaltFromSystemVersionFile(QString::fromLatin1(kGestaltSystemVersionFilePath),
                                        selector, response);
}
