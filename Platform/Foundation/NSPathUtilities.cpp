#include "NSPathUtilities_p.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <pwd.h>
#include <unistd.h>

QString NSUserName()
{
    const struct passwd *pw = ::getpwuid(::getuid());
    return pw && pw->pw_name ? QString::fromLocal8Bit(pw->pw_name) : QStringLiteral("");
}

QString NSHomeDirectory()
{
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return QFile::decodeName(home);
    const struct passwd *pw = ::getpwuid(::getuid());
    return pw && pw->pw_dir ? QFile::decodeName(pw->pw_dir) : QStringLiteral("/");
}

QString stringByExpandingTildeInPath(const QString &path)
{
    if (!path.startsWith(QLatin1Char('~')))
        return path;
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
    const QString rest = slash < 0 ? QString() : path.mid(slash);
    QString home;
    if (user.isEmpty()) {
        home = NSHomeDirectory();
    } else {
        const struct passwd *pw = ::getpwnam(user.toLocal8Bit().constData());
        if (!pw || !pw->pw_dir)
            return path;
        home = QFile::decodeName(pw->pw_dir);
    }
    if (home.endsWith(QLatin1Char('/')) && rest.startsWith(QLatin1Char('/')))
        home.chop(1);
    return home + rest;
}

QString stringByStandardizingPath(const QString &path)
{
    const QString expanded = stringByExpandingTildeInPath(path);
    if (expanded.isEmpty())
        return expanded;
    const bool absolute = expanded.startsWith(QLatin1Char('/'));
    QStringList parts;
    for (const QString &part : expanded.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..") && absolute) {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    const QString joined = parts.join(QLatin1Char('/'));
    if (absolute)
        return QLatin1Char('/') + joined;
    return joined.isEmpty() ? QStringLiteral(".") : joined;
}

