#include "NSArray_Extensions.h"

#include "FileReplacement_p.h"
#include "FileSystem_p.h"
#include "MacStatfs_p.h"
#include "NSKeyedArchiver.h"
#include "NSKeyedUnarchiver.h"
#include "NSWorkspace.h"

#include <QByteArrayList>
#include <QFile>
#include <new>

namespace MyExtensions {

namespace {

constexpr qint64 kMaxArchiveSize = 256 * 1024 * 1024;

bool isText(const QVariant &v) { return v.typeId() == QMetaType::QString; }

} // namespace

bool writeToArchivedFileWithKey(const QVariantList &list, const QString &path, const QString &key)
{
    bool written = false;
    try {
        QByteArray data;
        NSKeyedArchiver archiver(&data);
        archiver.encodeObjectForKey(list, key);
        archiver.finishEncoding();
        if (!archiver.failed() && !data.isEmpty())
            written = FileReplacement::replaceFile(path, data, 0777);
    } catch (const std::bad_alloc &) {
        written = false;
    }
    if (!written)
        FileReplacement::setModeWithoutFollowing(path, 0777);
    return written;
}

std::optional<QVariantList> initWithContentsOfArchivedFileWithKey(const QString &path, const QString &key)
{
    try {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxArchiveSize)
            return std::nullopt;
        const QByteArray data = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return std::nullopt;
        // Read once, uncached: the pages need not stay in the cache.
        FileSystem::dropFromCache(file.handle());
        file.close();

        NSKeyedUnarchiver unarchiver(data);
        const QVariant root = unarchiver.decodeObjectForKey(key);
        unarchiver.finishDecoding();
        if (unarchiver.failed())
            return std::nullopt;
        if (!root.isValid())
            return QVariantList();
        if (root.typeId() != QMetaType::QVariantList)
            return std::nullopt;
        return root.toList();
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

qint32 filterEmptyEntries(QVariantList &list)
{
    qint32 removed = 0;
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        if (isText(list.at(i)) && list.at(i).toString().isEmpty()) {
            list.removeAt(i);
            ++removed;
        }
    }
    return removed;
}

void insertObjectsFromArrayAtIndex(QVariantList &list, const QVariantList &source, qint32 index)
{
    Q_ASSERT(index >= 0 && index <= list.size());
    if (index < 0 || index > list.size())
        return;
    const QVariantList elements = source; // safe when SOURCE is LIST
    qsizetype at = index;
    for (const QVariant &element : elements)
        list.insert(at++, element);
}

std::optional<QVariantList> objectsWithPrefix(const QVariantList &list, const QString &prefix)
{
    if (list.isEmpty())
        return std::nullopt;
    QVariantList result;
    if (prefix.isEmpty())
        return result;
    for (const QVariant &element : list)
        if (isText(element) && element.toString().startsWith(prefix, Qt::CaseSensitive))
            result.append(element);
    return result;
}

QString stringByDeletingLastPathComponent(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    if (p == QLatin1String("/"))
        return p;
    const qsizetype slash = p.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString(QLatin1String(""));
    if (slash == 0)
        return QStringLiteral("/");
    QString parent = p.left(slash);
    while (parent.size() > 1 && parent.endsWith(QLatin1Char('/')))
        parent.chop(1);
    return parent;
}

QVariant objectWithPrefix(const QVariantList &list, const QString &path)
{
    if (list.isEmpty())
        return QVariant();
    QString candidate = path;
    while (candidate.split(QLatin1Char('/')).size() > 1) {
        for (const QVariant &element : list)
            if (isText(element) && element.toString().startsWith(candidate, Qt::CaseSensitive))
                return element;
        const QString parent = stringByDeletingLastPathComponent(candidate);
        if (parent == candidate) // "/" has been tried
            break;
        candidate = parent;
    }
    return QVariant();
}

bool containsObjectIdenticalTo(const QVariantList &list, const QVariant &object)
{
    const int type = object.typeId();
    auto identical = [&](const QVariant &element) -> bool {
        if (!object.isValid() || element.typeId() != type)
            return false;
        if (type == qMetaTypeId<NSObjectPtr>()) {
            const NSObjectPtr a = element.value<NSObjectPtr>();
            return a && a == object.value<NSObjectPtr>();
        }
        switch (type) {
        case QMetaType::QString: {
            const QString a = element.toString(), b = object.toString();
            return !a.isEmpty() && a.constData() == b.constData() && a.size() == b.size();
        }
        case QMetaType::QByteArray: {
            const QByteArray a = element.toByteArray(), b = object.toByteArray();
            return !a.isEmpty() && a.constData() == b.constData() && a.size() == b.size();
        }
        case QMetaType::QVariantList: {
            const QVariantList a = element.toList(), b = object.toList();
            return !a.isEmpty() && a.constData() == b.constData() && a.size() == b.size();
        }
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
            return element == object;
        default:
            return false;
        }
    };
    for (const QVariant &element : list)
        if (identical(element))
            return true;
    return false;
}

void filterRemovableMediaFilePaths(QVariantList &list)
{
    for (const QString &mountPoint : NSWorkspace::sharedWorkspace().mountedRemovableMedia()) {
        const std::optional<QVariantList> onMedium = objectsWithPrefix(list, mountPoint);
        if (!onMedium)
            continue;
        // removeObjectsInArray: every element equal to one of those found.
        list.removeIf([&](const QVariant &element) { return onMedium->contains(element); });
    }
    QVariantList setAside;
    for (const QVariant &element : list) {
        if (!isText(element))
            continue;
        MacStatfs info;
        if (macStatfs(element.toString().toUtf8().constData(), &info) == 0 && !(info.f_flags & MNT_LOCAL))
            setAside.append(element);
    }
    list.removeIf([&](const QVariant &element) { return setAside.contains(element); });
}

} // namespace MyExtensions
