#include "LoginItemStore.h"

#include "AEObjects_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>

namespace {

const QString kPathKey = QStringLiteral("X-SystemEvents-Path");
const QString kHiddenKey = QStringLiteral("X-SystemEvents-Hidden");
const QString kOrderKey = QStringLiteral("X-SystemEvents-Order");

QString unescapeValue(const QString &raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != QLatin1Char('\\') || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar n = raw.at(++i);
        switch (n.unicode()) {
        case 's': out += QLatin1Char(' '); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case '\\': out += QLatin1Char('\\'); break;
        default: out += QLatin1Char('\\'); out += n; break;
        }
    }
    return out;
}

QString escapeValue(const QString &value)
{
    QString out;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\r': out += QLatin1String("\\r"); break;
        default: out += c; break;
        }
    }
    if (out.startsWith(QLatin1Char(' ')))
        out.replace(0, 1, QLatin1String("\\s"));
    return out;
}

// The keys of the [Desktop Entry] group, values unescaped; empty when the file is unreadable.
QMap<QString, QString> readEntry(const QString &file)
{
    QMap<QString, QString> keys;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return keys;
    bool inGroup = false;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &rawLine : lines) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inGroup || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!keys.contains(key))
            keys.insert(key, unescapeValue(line.mid(eq + 1).trimmed()));
    }
    return keys;
}

bool isTrue(const QString &value) { return value == QLatin1String("true"); }

struct Listed {
    LoginItemStore::Item item;
    bool ours = false;
    qint64 order = 0;
    QString fileName;
};

OSStatus readAll(QList<Listed> *all)
{
    const QString folder = LoginItemStore::autostartFolder();
    const QFileInfo info(folder);
    if (!info.exists())
        return noErr;
    if (!info.isDir() || !info.isReadable())
        return dirNFErr;
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        const QString file = dir.filePath(name);
        const QMap<QString, QString> keys = readEntry(file);
        Listed l;
        l.item.enabled = !isTrue(keys.value(QStringLiteral("Hidden")))
            && keys.value(QStringLiteral("X-GNOME-Autostart-enabled")) != QLatin1String("false");
        l.fileName = name;
        l.item.file = file;
        l.item.name = keys.value(QStringLiteral("Name"));
        if (keys.contains(kPathKey) && !keys.value(kPathKey).isEmpty()) {
            l.ours = true;
            l.item.path = keys.value(kPathKey);
            bool ok = false;
            l.order = keys.value(kOrderKey).toLongLong(&ok);
            if (!ok)
                l.order = 0;
            const QString hidden = keys.value(kHiddenKey);
            if (hidden == QLatin1String("true") || hidden == QLatin1String("false"))
                l.item.hidden = isTrue(hidden);
        } else {
            QString program = LoginItemStore::programOfExec(keys.value(QStringLiteral("Exec")));
            if (program.isEmpty())
                continue;
            if (!program.contains(QLatin1Char('/')))
                program = QStandardPaths::findExecutable(program);
            // Without an absolute path there is no file to name (nor one a URL could be made of).
            if (!program.startsWith(QLatin1Char('/')))
                continue;
            l.item.path = program;
        }
        if (!LoginItemStore::isRepresentable(l.item.path))
            continue;
        all->append(l);
    }
    std::stable_sort(all->begin(), all->end(), [](const Listed &a, const Listed &b) {
        if (a.ours != b.ours)
            return !a.ours;
        if (a.ours && a.order != b.order)
            return a.order < b.order;
        return a.fileName < b.fileName;
    });
    return noErr;
}

} // namespace

QString LoginItemStore::autostartFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !config.startsWith(QLatin1Char('/')))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

OSStatus LoginItemStore::list(QList<Item> *items)
{
    QList<Listed> all;
    const OSStatus err = readAll(&all);
    items->clear();
    for (const Listed &l : all)
        items->append(l.item);
    return err;
}

bool LoginItemStore::isRepresentable(const QString &path)
{
    return path.startsWith(QLatin1Char('/')) && path.size() <= kMaxPathLength && !path.contains(QChar(0))
        && !path.contains(QChar::ReplacementCharacter);
}

OSStatus LoginItemStore::add(const QString &path, std::optional<bool> hidden)
{
    if (!isRepresentable(path))
        return paramErr;
    QList<Listed> all;
    OSStatus err = readAll(&all);
    if (err != noErr)
        return err;
    qint64 order = 0;
    for (const Listed &l : all)
        if (l.ours)
            order = qMax(order, l.order);
    ++order;

    const QString folder = autostartFolder();
    if (!QDir().mkpath(folder))
        return dirNFErr;
    QString file;
    for (qint64 n = order;; ++n) {
        file = QDir(folder).filePath(QStringLiteral("systemevents-login-item-%1.desktop").arg(n));
        if (!QFileInfo::exists(file))
            break;
    }
    QString name = QFileInfo(path.endsWith(QLatin1Char('/')) && path.size() > 1 ? path.chopped(1) : path).fileName();
    if (name.isEmpty())
        name = path;
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QStringLiteral("Name=") + escapeValue(name) + QLatin1Char('\n');
    text += QStringLiteral("Exec=") + escapeValue(execForPath(path)) + QLatin1Char('\n');
    text += kPathKey + QLatin1Char('=') + escapeValue(path) + QLatin1Char('\n');
    if (hidden)
        text += kHiddenKey + QLatin1Char('=') + (*hidden ? QLatin1String("true") : QLatin1String("false")) + QLatin1Char('\n');
    text += kOrderKey + QLatin1Char('=') + QString::number(order) + QLatin1Char('\n');

    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return ioErr;
    out.write(text.toUtf8());
    return out.commit() ? noErr : ioErr;
}

OSStatus LoginItemStore::removeAt(long position)
{
    QList<Item> items;
    OSStatus err = list(&items);
    if (err != noErr)
        return err;
    if (position < 1 || position > items.size())
        return errAENoSuchObject;
    return QFile::remove(items.at(position - 1).file) ? noErr : ioErr;
}

QString LoginItemStore::programOfExec(const QString &exec)
{
    QString program;
    bool quoted = false, started = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                program += exec.at(++i);
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                program += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = started = true;
        } else if (c.isSpace()) {
            if (started)
                break;
        } else {
            started = true;
            program += c;
        }
    }
    program.replace(QLatin1String("%%"), QLatin1String("%"));
    return program.isEmpty() ? QString() : program;
}

QString LoginItemStore::execForPath(const QString &path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1String("%"), QLatin1String("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
