// Real processes for the process tests: copies of /bin/sleep under unique names, started as
// children of the test with a chosen argv[0] (what ps shows), and reaped by a waiting thread as
// their real parent would, so that a killed process leaves no zombie holding its name in the
// listings.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <csignal>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

class ProcessFixture {
public:
    explicit ProcessFixture(const QString &folder)
        : m_folder(folder), m_reaping(m_reapingGate.get_future().share())
    {
        m_reapingGate.set_value();
    }
    ~ProcessFixture() { stopAll(); }

    // From now on, a started process stays a zombie after it ends until reapingResumed():
    // a parent that does not reap its children (as some containers' first process).
    void holdReaping()
    {
        m_reapingGate = std::promise<void>();
        m_reaping = m_reapingGate.get_future().share();
        m_held = true;
    }
    void resumeReaping()
    {
        if (m_held)
            m_reapingGate.set_value();
        m_held = false;
    }
    ProcessFixture(const ProcessFixture &) = delete;
    ProcessFixture &operator=(const ProcessFixture &) = delete;

    // A name no other process of the machine carries: PREFIX, this test's id, a counter.
    static QString uniqueName(const QString &stem)
    {
        static int counter = 0;
        return QStringLiteral("ZVt%1x%2%3").arg(::getpid()).arg(++counter).arg(stem);
    }

    // Starts a copy of /bin/sleep named after the last part of ARGV0 (made once per name),
    // shown by ps as "ARGV0 600"; its id, or 0 when it could not be started.
    pid_t start(const QString &argv0)
    {
        const QString name = argv0.mid(argv0.lastIndexOf(QLatin1Char('/')) + 1);
        const QString program = m_folder + QLatin1Char('/') + name;
        if (!QFile::exists(program) && !QFile::copy(QStringLiteral("/bin/sleep"), program))
            return 0;
        const QByteArray path = QFile::encodeName(program);
        const QByteArray arg0 = argv0.toUtf8();
        char seconds[] = "600";
        char *argv[] = {const_cast<char *>(arg0.constData()), seconds, nullptr};
        pid_t pid = 0;
        if (::posix_spawn(&pid, path.constData(), nullptr, nullptr, argv, environ) != 0)
            return 0;
        auto child = std::make_unique<Child>();
        child->ended = child->status.get_future().share();
        child->reaper = std::thread([pid, gate = m_reaping, promise = std::move(child->status)]() mutable {
            gate.wait();
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
            promise.set_value(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        });
        m_children[pid] = std::move(child);
        waitUntilExecuted(pid, argv0);
        return pid;
    }

    // The signal that ended PID (0 for a normal exit), or none while it still runs after
    // waiting up to ten seconds: a signalled process ends long before that.
    std::optional<int> endingSignal(pid_t pid, int waitMs = 10000)
    {
        auto it = m_children.find(pid);
        if (it == m_children.end())
            return std::nullopt;
        if (it->second->ended.wait_for(std::chrono::milliseconds(waitMs)) != std::future_status::ready)
            return std::nullopt;
        return it->second->ended.get();
    }

    // The state letter of /proc/PID/stat ('Z' for a zombie), or 0 when there is no such process.
    static char processState(pid_t pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray line = stat.readAll();
        const int end = line.lastIndexOf(')');
        return end > 0 && end + 2 < line.size() ? line.at(end + 2) : 0;
    }

    // True when PID has not ended within a short grace period: a signal sent to it just
    // before takes effect only when it next runs, and must not go unseen. (A process that
    // runs on is only seen later; a correct result never depends on the timing.)
    bool isRunning(pid_t pid)
    {
        auto it = m_children.find(pid);
        return it != m_children.end()
            && it->second->ended.wait_for(std::chrono::milliseconds(300)) != std::future_status::ready;
    }

    void stopAll()
    {
        resumeReaping();
        for (auto &[pid, child] : m_children) {
            if (child->ended.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
                ::kill(pid, SIGKILL);
        }
        for (auto &[pid, child] : m_children)
            child->reaper.join();
        m_children.clear();
    }

private:
    struct Child {
        std::promise<int> status;
        std::shared_future<int> ended;
        std::thread reaper;
    };

    // posix_spawn may return before the child has replaced itself with the program: until
    // then ps shows the test's own command line, and for a moment after the switch an empty
    // one. Wait (bounded) until /proc shows ARGV0 as the command line's first word.
    static void waitUntilExecuted(pid_t pid, const QString &argv0)
    {
        const QByteArray expected = argv0.toUtf8() + '\0';
        for (int i = 0; i < 2000; ++i) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().startsWith(expected))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    QString m_folder;
    std::promise<void> m_reapingGate;
    std::shared_future<void> m_reaping;
    bool m_held = false;
    std::map<pid_t, std::unique_ptr<Child>> m_children;
};
