#include "LQLoginItemRegistry.h"

#include "LoginItemsAE.h"

#include <QDir>
#include <QFileInfo>

std::optional<QVariantList> LQLoginItemRegistry::allLoginItems()
{
    CFArrayRef items = nullptr;
    if (LIAECopyLoginItems(&items) != noErr)
        return std::nullopt;
    QVariantList result = CFBridgingToQVariant(items).toList();
    CFRelease(items);
    return result;
}

qint32 LQLoginItemRegistry::indexForLoginItemWithURL(const QUrl &url)
{
    const std::optional<QVariantList> items = allLoginItems();
    if (!items)
        return -1;
    for (qint32 i = 0; i < items->size(); ++i)
        if (items->at(i).toMap().value(QStringLiteral("URL")).toUrl() == url)
            return i;
    return -1;
}

qint32 LQLoginItemRegistry::indexForLoginItemWithPath(const QString &path)
{
    return indexForLoginItemWithURL(fileURLWithPath(path));
}

bool LQLoginItemRegistry::addLoginItemWithURLHideIt(const QUrl &url, bool hideIt)
{
    CFURLRef item = CFURLCreateWithQUrl(url);
    if (!item)
        return false;
    const OSStatus err = LIAEAddURLAtEnd(item, hideIt);
    CFRelease(item);
    return err == noErr;
}

bool LQLoginItemRegistry::addLoginItemWithPathHideIt(const QString &path, bool hideIt)
{
    return addLoginItemWithURLHideIt(fileURLWithPath(path), hideIt);
}

bool LQLoginItemRegistry::removeLoginItemAtIndex(qint32 index)
{
    return index >= 0 && LIAERemove(index) == noErr;
}

bool LQLoginItemRegistry::removeLoginItemWithURL(const QUrl &url)
{
    const qint32 index = indexForLoginItemWithURL(url);
    return index >= 0 && removeLoginItemAtIndex(index);
}

bool LQLoginItemRegistry::removeLoginItemWithPath(const QString &path)
{
    const qint32 index = indexForLoginItemWithPath(path);
    return index >= 0 && removeLoginItemAtIndex(index);
}

QUrl LQLoginItemRegistry::fileURLWithPath(const QString &path)
{
    if (path.isEmpty())
        return QUrl();
    QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    if (QFileInfo(absolute).isDir() && !absolute.endsWith(QLatin1Char('/')))
        absolute += QLatin1Char('/');
    return QUrl::fromLocalFile(absolute);
}
