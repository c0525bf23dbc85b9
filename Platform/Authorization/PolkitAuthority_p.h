// The polkit authority on the system bus, as the Authorization layer asks it about the
// administrator's right of this process: the right "system.privilege.admin" is the product's
// action "com.quillmarsh.uninstaller.privilege-admin" (auth_admin_keep), checked for this
// process (a unix-process subject: pid, start time, uid).
#pragma once

#include <QString>

class PolkitAuthority {
public:
    static const char *actionId();

    // True when an authority owns its name on the system bus now (and the program has its
    // application object, which QtDBus needs).
    static bool isAvailable();

    enum class Answer {
        Granted,      // held: implicitly, or by a kept authorization
        Challenge,    // needs an authentication that no agent performed (none registered)
        Dismissed,    // the person cancelled the agent's dialog
        Refused,      // not allowed, or the authority failed
    };
    struct Result {
        Answer answer = Answer::Refused;
        // The kept authorization behind a Granted answer, when there is one.
        QString temporaryAuthorizationId;
    };

    // Asks whether this process holds the right. With INTERACTIVE the authority may have an
    // agent ask the person; the call then waits for the answer, running timers and painting
    // but taking no user input of this process meanwhile.
    static Result check(bool interactive);

    // Revokes this process's kept authorization of the action, if there is one; true when
    // none is left. polkit revokes only within a login session: outside one (no logind, as in
    // containers and CI) the authorization is kept for this process alone and ends with it,
    // or after polkit's five minutes; until then it is given up here: a check without
    // interaction no longer counts it, while a request that may ask is granted by it again
    // without asking (this process's administrator authenticated minutes ago).
    static bool revokeKeptAuthorization();
};
