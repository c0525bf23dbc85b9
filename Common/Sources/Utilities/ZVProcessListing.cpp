#include "ZVProcessListing_p.h"

#include "ProcessRunner_p.h"

#include <QFile>
#include <QStringDecoder>

#include <limits>

namespace ZVProcessListing {

namespace {

// The text from the first non-blank character of TEXT up to the first occurrence of NAME
// (all of it when NAME does not occur).
QStringView prefixBeforeName(QStringView text, const QString &name)
{
    qsizetype start = 0;
    while (start < text.size() && text.at(start).isSpace())
        ++start;
    const QStringView rest = text.mid(start);
    const qsizetype at = rest.indexOf(name);
    return at < 0 ? rest : rest.left(at);
}

qint32 idFromPrefix(QStringView prefix)
{
    if (prefix.isEmpty() || prefix.contains(QLatin1String("grep")))
        return 0;
    return scanInt(prefix).value_or(0);
}

} // namespace

QByteArray listingLocale(Encoding encoding)
{
    return encoding == Encoding::ASCII ? QByteArrayLiteral("C") : QByteArrayLiteral("C.UTF-8");
}

std::optional<QByteArray> readCommandOutput(const QString &command, Encoding encoding)
{
    const QByteArray locale = listingLocale(encoding);
    return ProcessRunner::readShellOutput(command.toUtf8(), {"LC_ALL=" + locale, "LANG=" + locale});
}

bool listingHidesOtherUsers()
{
    if (ProcessRunner::isSuperUser())
        return false;
    // mountinfo: "... <mount point> ... - <type> <source> <options>"; the last mount on /proc
    // is the one that shows.
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly))
        return false;
    QByteArray options;
    for (const QByteArray &line : mounts.readAll().split('\n')) {
        const QByteArrayList fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() > 4 && fields.at(4) == "/proc" && dash > 0 && dash + 3 < fields.size())
            options = fields.at(dash + 3);
    }
    bool hidden = false;
    std::optional<quint32> seer;
    for (const QByteArray &option : options.split(',')) {
        if (option.startsWith("hidepid="))
            hidden = option.mid(8) != "0" && option.mid(8) != "off";
        else if (option.startsWith("gid="))
            seer = option.mid(4).toUInt();
    }
    if (!hidden)
        return false;
    return !seer || !ProcessRunner::isInGroup(*seer);
}

QString decode(const QByteArray &bytes, Encoding encoding)
{
    if (encoding == Encoding::ASCII) {
        for (const char c : bytes) {
            if (static_cast<unsigned char>(c) > 0x7F)
                return QString();
        }
        return QString::fromLatin1(bytes);
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return QString();
    if (text.isNull())
        text = QStringLiteral("");
    return text;
}

std::optional<qint32> scanInt(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    const qsizetype firstDigit = i;
    qint64 value = 0;
    const qint64 limit = qint64(std::numeric_limits<qint32>::max()) + 1;
    while (i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
        value = qMin(limit, value * 10 + (text.at(i).unicode() - '0'));
        ++i;
    }
    if (i == firstDigit)
        return std::nullopt;
    if (negative)
        value = -value;
    return qint32(qBound(qint64(std::numeric_limits<qint32>::min()), value,
                         qint64(std::numeric_limits<qint32>::max())));
}

QList<qint32> processIDsInListing(const QString &text, const QString &name)
{
    QList<qint32> ids;
    const QList<QStringView> lines = QStringView(text).split(QLatin1Char('\n'));
    for (const QStringView line : lines) {
        const qint32 id = idFromPrefix(prefixBeforeName(line, name));
        if (id != 0)
            ids.append(id);
    }
    return ids;
}

qint32 firstProcessIDInListing(const QString &text, const QString &name)
{
    return idFromPrefix(prefixBeforeName(text, name));
}

QList<qint32> processIDsFromCommand(const QString &command, const QString &name,
                                    Encoding encoding)
{
    const auto output = readCommandOutput(command, encoding);
    if (!output || output->isEmpty())
        return {};
    const QString text = decode(*output, encoding);
    if (text.isEmpty())
        return {};
    return processIDsInListing(text, name);
}

} // namespace ZVProcessListing
