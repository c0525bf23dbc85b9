#include "NSBundle.h"

#include "PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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

QString NSBundle::pathForResourceOfType(const QString &name, const QString &type) const
{
    const QString file = type.isEmpty() ? name : name + QLatin1Char('.') + type;
    const QDir root(resourcePath());
    QStringList folders{QStringLiteral("."), QStringLiteral("Resources"), QStringLiteral("en.lproj"),
                        QStringLiteral("English.lproj")};
    const QString language = QLocale().name().section(QLatin1Char('_'), 0, 0);
    if (!language.isEmpty() && language != QLatin1String("en") && language != QLatin1String("C"))
        folders.append(language + QStringLiteral(".lproj"));
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
