// The polkit authentication agent of one process: registered for that process only (where
// there is no login session, as in containers and CI, and so that a desktop's own agent for the
// session is left alone), it answers the authority's requests by asking the person which
// administrator identity authenticates and its password, in a window (AgentDialog) or on the
// controlling terminal. The password goes only to polkit's own setuid checker, never to the
// program that asked for the right.
#pragma once

#include <QString>
#include <sys/types.h>

class AgentListener {
public:
    enum class Prompt { Window, Terminal };

    // Registers the agent for the process PID with PROMPT as its way of asking. False, with
    // the reason in *ERROR, when the authority refuses it or cannot be reached.
    static bool registerForProcess(pid_t pid, Prompt prompt, QString *error);
};
