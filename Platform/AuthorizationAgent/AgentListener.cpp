#define POLKIT_AGENT_I_KNOW_API_IS_SUBJECT_TO_CHANGE
#include <polkitagent/polkitagent.h>

#include "AgentListener.h"
#include "AgentDialog.h"

#include <QObject>
#include <QStringList>
#include <QVector>

#include <cstdio>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace {

AgentListener::Prompt g_prompt = AgentListener::Prompt::Window;
constexpr int kTerminalAttempts = 3;

// One request of the authority: lives from BeginAuthentication until its answer.
class AgentRequest : public QObject {
public:
    AgentRequest(const char *message, const char *cookie, GList *identities,
        GCancellable *cancellable, GTask *task)
        : m_message(QString::fromUtf8(message)), m_cookie(cookie), m_task(task)
    {
        for (GList *l = identities; l; l = l->next) {
            auto *identity = POLKIT_IDENTITY(l->data);
            m_identities.push_back(POLKIT_IDENTITY(g_object_ref(identity)));
            m_names << (POLKIT_IS_UNIX_USER(identity)
                    ? QString::fromUtf8(polkit_unix_user_get_name(POLKIT_UNIX_USER(identity)))
                    : QString::fromUtf8(polkit_identity_to_string(identity)));
        }
        if (cancellable)
            m_cancelHandler = g_cancellable_connect(cancellable,
                G_CALLBACK(+[](GCancellable *, gpointer self) {
                    static_cast<AgentRequest *>(self)->finish(false);
                }),
                this, nullptr);
        m_cancellable = cancellable ? G_CANCELLABLE(g_object_ref(cancellable)) : nullptr;
    }

    ~AgentRequest() override
    {
        std::memset(m_password.data(), 0, size_t(m_password.size()));
        dropSession();
        if (m_cancellable) {
            g_cancellable_disconnect(m_cancellable, m_cancelHandler);
            g_object_unref(m_cancellable);
        }
        for (PolkitIdentity *identity : m_identities)
            g_object_unref(identity);
        delete m_dialog;
    }

    void start()
    {
        if (m_identities.isEmpty())
            return finish(false);
        if (g_prompt == AgentListener::Prompt::Terminal)
            return askOnTerminal();
        m_dialog = new AgentDialog(m_message, m_names);
        QObject::connect(m_dialog, &AgentDialog::submitted, this,
            [this](int identity, const QByteArray &password) { tryIdentity(identity, password); });
        QObject::connect(m_dialog, &QDialog::rejected, this, [this] { finish(false); });
        m_dialog->show();
        m_dialog->raise();
        m_dialog->activateWindow();
    }

private:
    void askOnTerminal()
    {
        FILE *tty = std::fopen("/dev/tty", "r+");
        if (!tty || ++m_attempts > kTerminalAttempts) {
            if (tty)
                std::fclose(tty);
            return finish(false);
        }
        std::fprintf(tty, "%s\n", m_message.toLocal8Bit().constData());
        int choice = 0;
        if (m_names.size() > 1) {
            for (qsizetype i = 0; i < m_names.size(); ++i)
                std::fprintf(tty, "  %lld. %s\n", qlonglong(i + 1), m_names.at(i).toLocal8Bit().constData());
            std::fprintf(tty, "Administrator (1-%lld): ", qlonglong(m_names.size()));
            std::fflush(tty);
            char line[64] = {};
            if (!std::fgets(line, sizeof line, tty)) {
                std::fclose(tty);
                return finish(false);
            }
            choice = std::atoi(line) - 1;
            if (choice < 0 || choice >= m_names.size())
                choice = 0;
        }
        std::fprintf(tty, "Password for %s: ", m_names.at(choice).toLocal8Bit().constData());
        std::fflush(tty);
        termios saved{};
        const bool isTerminal = tcgetattr(fileno(tty), &saved) == 0;
        if (isTerminal) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            tcsetattr(fileno(tty), TCSAFLUSH, &quiet);
        }
        char buffer[512] = {};
        const bool read = std::fgets(buffer, sizeof buffer, tty) != nullptr;
        if (isTerminal)
            tcsetattr(fileno(tty), TCSAFLUSH, &saved);
        std::fputc('\n', tty);
        std::fclose(tty);
        buffer[std::strcspn(buffer, "\n")] = '\0';
        QByteArray password(buffer);
        std::memset(buffer, 0, sizeof buffer);
        if (!read)
            return finish(false);
        tryIdentity(choice, password);
        std::memset(password.data(), 0, size_t(password.size()));
    }

    void tryIdentity(int index, const QByteArray &password)
    {
        dropSession();
        if (index < 0 || index >= m_identities.size())
            index = 0;
        std::memset(m_password.data(), 0, size_t(m_password.size()));
        m_password = QByteArray(password.constData(), password.size());
        m_session = polkit_agent_session_new(m_identities.at(index), m_cookie.constData());
        g_signal_connect(m_session, "request",
            G_CALLBACK(+[](PolkitAgentSession *session, const char *, gboolean, gpointer self) {
                auto *request = static_cast<AgentRequest *>(self);
                polkit_agent_session_response(session, request->m_password.constData());
                std::memset(request->m_password.data(), 0, size_t(request->m_password.size()));
            }),
            this);
        g_signal_connect(m_session, "completed",
            G_CALLBACK(+[](PolkitAgentSession *, gboolean gained, gpointer self) {
                static_cast<AgentRequest *>(self)->completed(gained);
            }),
            this);
        polkit_agent_session_initiate(m_session);
    }

    void completed(bool gained)
    {
        if (gained)
            return finish(true);
        // Not from inside the session's own signal: the session is dropped before retrying.
        QMetaObject::invokeMethod(this, [this] {
            if (g_prompt == AgentListener::Prompt::Terminal) {
                std::FILE *tty = std::fopen("/dev/tty", "w");
                if (tty) {
                    std::fputs("Sorry, that password was not accepted.\n", tty);
                    std::fclose(tty);
                }
                askOnTerminal();
            } else if (m_dialog) {
                dropSession();
                m_dialog->refuse();
            }
        }, Qt::QueuedConnection);
    }

    void finish(bool gained)
    {
        if (m_finished)
            return;
        m_finished = true;
        if (gained)
            g_task_return_boolean(m_task, TRUE);
        else
            g_task_return_new_error(m_task, POLKIT_ERROR, POLKIT_ERROR_CANCELLED,
                "The person cancelled the authentication");
        g_object_unref(m_task);
        if (m_dialog)
            m_dialog->hide();
        deleteLater();
    }

    void dropSession()
    {
        if (!m_session)
            return;
        g_signal_handlers_disconnect_by_data(m_session, this);
        g_object_unref(m_session);
        m_session = nullptr;
    }

    QString m_message;
    QByteArray m_cookie;
    QVector<PolkitIdentity *> m_identities;
    QStringList m_names;
    GCancellable *m_cancellable = nullptr;
    gulong m_cancelHandler = 0;
    GTask *m_task;
    PolkitAgentSession *m_session = nullptr;
    QByteArray m_password;
    AgentDialog *m_dialog = nullptr;
    int m_attempts = 0;
    bool m_finished = false;
};

} // namespace

extern "C" {

struct ZVAgentListener {
    PolkitAgentListener parent_instance;
};
struct ZVAgentListenerClass {
    PolkitAgentListenerClass parent_class;
};

G_DEFINE_TYPE(ZVAgentListener, zv_agent_listener, POLKIT_AGENT_TYPE_LISTENER)

static void zv_agent_listener_init(ZVAgentListener *) {}

static void zvInitiate(PolkitAgentListener *listener, const gchar *, const gchar *message,
    const gchar *, PolkitDetails *, const gchar *cookie, GList *identities,
    GCancellable *cancellable, GAsyncReadyCallback callback, gpointer userData)
{
    GTask *task = g_task_new(listener, cancellable, callback, userData);
    (new AgentRequest(message, cookie, identities, cancellable, task))->start();
}

static gboolean zvInitiateFinish(PolkitAgentListener *, GAsyncResult *result, GError **error)
{
    return g_task_propagate_boolean(G_TASK(result), error);
}

static void zv_agent_listener_class_init(ZVAgentListenerClass *klass)
{
    auto *listenerClass = POLKIT_AGENT_LISTENER_CLASS(klass);
    listenerClass->initiate_authentication = zvInitiate;
    listenerClass->initiate_authentication_finish = zvInitiateFinish;
}

} // extern "C"

bool AgentListener::registerForProcess(pid_t pid, Prompt prompt, QString *error)
{
    g_prompt = prompt;
    auto *listener = POLKIT_AGENT_LISTENER(g_object_new(zv_agent_listener_get_type(), nullptr));
    PolkitSubject *subject = polkit_unix_process_new_for_owner(pid, 0, gint(getuid()));
    GError *failure = nullptr;
    // The registration lives as long as this program: it ends when the program does.
    const gpointer handle = polkit_agent_listener_register(listener,
        POLKIT_AGENT_REGISTER_FLAGS_NONE, subject, nullptr, nullptr, &failure);
    g_object_unref(subject);
    if (!handle) {
        if (error)
            *error = QString::fromUtf8(failure ? failure->message : "unknown error");
        g_clear_error(&failure);
        g_object_unref(listener);
        return false;
    }
    return true;
}
