#include "NSBundle_p.h"

#include "PropertyList_p.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

NSBundle &NSBundle::mainBundle()
{
    static NSBundle bundle;
    return bundle;
}

QString NSBundle::resourcePath() const
{
    if (!m_resourcePath.isNull())
        return m_resourcePath;
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Without an application object, ask the kernel where the program lies.
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

void NSBundle::setResourcePath(const QString &path) { m_resourcePath = path; }

QStringList NSBundle::preferredLocalizations()
{
    static const QHash<QString, QString> kLegacyNames{
        {QStringLiteral("en"), QStringLiteral("English")}, {QStringLiteral("de"), QStringLiteral("German")},
        {QStringLiteral("fr"), QStringLiteral("French")},  {QStringLiteral("ja"), QStringLiteral("Japanese")},
        {QStringLiteral("es"), QStringLiteral("Spanish")}, {QStringLiteral("it"), QStringLiteral("Italian")},
        {QStringLiteral("nl"), QStringLiteral("Dutch")}};
    QStringList names;
    auto add = [&](const QString &name) {
        if (!name.isEmpty() && name != QLatin1String("C") && !names.contains(name))
            names << name;
    };
    QStringList languages = QLocale().uiLanguages();
    languages << QStringLiteral("en");
    for (const QString &language : languages) {
        // Region first ("de_AT", "de-AT"; a script as in "de-Latn-AT" is passed over), then
        // the language alone ("de", "German").
        const QStringList parts = language.split(QLatin1Char('-'));
        const QString base = parts.first();
        if (parts.size() > 1) {
            const QString region = parts.last();
            add(base + QLatin1Char('_') + region);
            add(base + QLatin1Char('-') + region);
        }
        add(base);
        add(kLegacyNames.value(base));
    }
    add(QStringLiteral("Base"));
    return names;
}

QString NSBundle::pathForResourceOfType(const QString &name, const QString &type) const
{
    const QString file = type.isEmpty() ? name : name + QLatin1Char('.') + type;
    const QDir root(resourcePath());
    QStringList folders{QStringLiteral("."), QStringLiteral("Resources")};
    for (const QString &localization : preferredLocalizations()) {
        folders << localization + QStringLiteral(".lproj")
                << QStringLiteral("Resources/") + localization + QStringLiteral(".lproj");
    }
    for (const QString &folder : folders) {
        const QFileInfo info(root.filePath(folder + QLatin1Char('/') + file));
        if (info.isFile())
            return info.absoluteFilePath();
    }
    return QString();
}

QVariantMap NSBundle::infoDictionary() const
{
    const QString path = pathForResourceOfType(QStringLiteral("Info"), QStringLiteral("plist"));
    if (path.isNull())
        return {};
    const auto value = PropertyList::readFile(path);
    return value ? value->toMap() : QVariantMap();
}
