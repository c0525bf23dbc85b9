// The product's authentication agent (ZVAuthorizationAgent) started for this process when no
// agent of the session answers the polkit authority. One at most per process: it stays
// registered while the process may ask again, and ends when stop() closes its input or when
// this process ends (its input then closes too).
#pragma once

class PolkitAgentProcess {
public:
    // Starts the agent unless it runs already, and waits until it has registered (at most
    // 20 seconds). False when it is not installed, cannot ask anybody (no display and no
    // terminal) or the authority refused it.
    static bool ensureRunning();
    static void stop();
    // The agent's path: ZV_AUTHORIZATION_AGENT when set, otherwise beside this program,
    // otherwise the installed copy.
    static const char *path();
};
