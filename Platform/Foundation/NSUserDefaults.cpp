#include "NSUserDefaults_p.h"

#include "NSBundle_p.h"
#include "PropertyList_p.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QVariantMap readDomain(const QString &path)
{
    const auto value = PropertyList::readFile(path);
    return value && value->typeId() == QMetaType::QVariantMap ? value->toMap() : QVariantMap();
}

bool writeDomain(const QVariantMap &domain, const QString &path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    return PropertyList::writeFile(domain, path, PropertyList::Format::XML, true);
}

} // namespace

NSUserDefaults &NSUserDefaults::standardUserDefaults()
{
    static NSUserDefaults defaults;
    return defaults;
}

QString NSUserDefaults::domainName() const
{
    const QString identifier = NSBundle::mainBundle().infoDictionary().value(QStringLiteral("CFBundleIdentifier")).toString();
    if (!identifier.isEmpty() && !identifier.contains(QLatin1Char('/')))
        return identifier;
    QString name = QCoreApplication::instance() ? QCoreApplication::applicationName() : QString();
    if (name.isEmpty())
        name = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName();
    return name.isEmpty() ? QStringLiteral("ZVCommon") : name;
}

QString NSUserDefaults::preferencesFolder()
{
    return QDir::homePath() + QStringLiteral("/Library/Preferences"); // as userPreferencePath
}

QString NSUserDefaults::persistentDomainPath() const
{
    return preferencesFolder() + QLatin1Char('/') + domainName() + QStringLiteral(".plist");
}

QString NSUserDefaults::globalDomainPath()
{
    return preferencesFolder() + QStringLiteral("/.GlobalPreferences.plist");
}

QVariant NSUserDefaults::objectForKey(const QString &key) const
{
    const QVariantMap own = readDomain(persistentDomainPath());
    const auto it = own.constFind(key);
    if (it != own.constEnd())
        return *it;
    return readDomain(globalDomainPath()).value(key);
}

bool NSUserDefaults::boolForKey(const QString &key) const
{
    const QVariant value = objectForKey(key);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
        return value.toLongLong() != 0 || value.toULongLong() != 0;
    case QMetaType::Double:
        return value.toDouble() != 0;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0
            || text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0)
            return true;
        qsizetype end = 0;
        if (end < text.size() && (text[end] == QLatin1Char('+') || text[end] == QLatin1Char('-')))
            ++end;
        while (end < text.size() && text[end].isDigit() && text[end].unicode() < 128)
            ++end;
        for (qsizetype i = 0; i < end; ++i)
            if (text[i] >= QLatin1Char('1') && text[i] <= QLatin1Char('9'))
                return true;
        return false;
    }
    default:
        return false;
    }
}

bool NSUserDefaults::setObjectForKey(const QVariant &value, const QString &key)
{
    if (!value.isValid())
        return removeObjectForKey(key);
    const QString path = persistentDomainPath();
    QVariantMap domain = readDomain(path);
    domain.insert(key, value);
    return writeDomain(domain, path);
}

bool NSUserDefaults::removeObjectForKey(const QString &key)
{
    const QString path = persistentDomainPath();
    QVariantMap domain = readDomain(path);
    if (!domain.contains(key))
        return true;
    domain.remove(key);
    return writeDomain(domain, path);
}
