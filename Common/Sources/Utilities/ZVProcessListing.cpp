#include "ZVProcessListing_p.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace ZVProcessListing {

namespace {

constexpr size_t kChunkSize = 512;

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
    const QByteArray line = command.toUtf8();
    const QByteArray locale = listingLocale(encoding);
    QByteArrayList variables{"LC_ALL=" + locale, "LANG=" + locale};
    for (char **entry = environ; *entry; ++entry) {
        const QByteArray variable(*entry);
        if (!variable.startsWith("LC_ALL=") && !variable.startsWith("LANG="))
            variables.append(variable);
    }
    std::vector<char *> environment;
    for (QByteArray &variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    const char *argv[] = {"sh", "-c", line.constData(), nullptr};
    pid_t shell = 0;
    const int spawned = ::posix_spawn(&shell, "/bin/sh", &actions, nullptr, const_cast<char **>(argv),
                                      environment.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    FILE *stream = spawned == 0 ? ::fdopen(ends[0], "r") : nullptr;
    if (!stream) {
        ::close(ends[0]);
        if (spawned == 0)
            while (::waitpid(shell, nullptr, 0) < 0 && errno == EINTR) {}
        return std::nullopt;
    }
    const QByteArray output = readChunks(stream);
    std::fclose(stream);
    while (::waitpid(shell, nullptr, 0) < 0 && errno == EINTR) {}
    return output;
}

QByteArray readChunks(FILE *stream)
{
    QByteArray output;
    char chunk[kChunkSize];
    for (;;) {
        const size_t count = std::fread(chunk, 1, kChunkSize, stream);
        output.append(chunk, qsizetype(count));
        if (count < kChunkSize)
            break;
    }
    return output;
}

bool listingHidesOtherUsers()
{
    if (::geteuid() == 0)
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
    gid_t seer = gid_t(-1);
    for (const QByteArray &option : options.split(',')) {
        if (option.startsWith("hidepid="))
            hidden = option.mid(8) != "0" && option.mid(8) != "off";
        else if (option.startsWith("gid="))
            seer = gid_t(option.mid(4).toUInt());
    }
    if (!hidden)
        return false;
    if (seer == gid_t(-1))
        return true;
    std::vector<gid_t> groups(size_t(qMax(0, ::getgroups(0, nullptr))));
    groups.resize(size_t(qMax(0, ::getgroups(int(groups.size()), groups.data()))));
    return ::getegid() != seer && std::find(groups.begin(), groups.end(), seer) == groups.end();
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
