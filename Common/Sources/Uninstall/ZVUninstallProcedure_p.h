// The uninstall: one fixed sequence of 32 steps over the configured values
// (ZVConfiguredValues), run by the wizard (ZVUninstaller::executeUninstallerScript) and by
// `zvtool uninstall run`, and described without acting by `zvtool uninstall plan`.
//
// Steps, in order: 1 rights for the authorization list; 2 "TMPDIR" removed from the
// environment; 3-4 the unload command lines; 5-6 stops; 7-8 removals; 9 login items; 10
// removal; 11 stop; 12 stop-request marker and a 1-second pause; 13-17 removals; 18-19 stops;
// 20 schedule reset; 21-22 stops; 23 schedule reset; 24 login items; 25-28 removals; 29-30
// stops; 31 next page; 32 buttons enabled. Steps 5-16 and 24-28 each end with one progress
// step (17 in all). Which key a step acts on is read from the table: the entries whose
// steps hold the step's number and whose uses match the step's action.
//
// A refused authorization skips steps 2 to 31; after a granted one every step runs whatever
// the outcome of the others. Values are looked up with ZVLocalizedString.
#pragma once

#include "ZVConfiguredValues_p.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class ZVUninstallProcedure {
public:
    enum class Action {
        Authenticate, UnsetEnvironment, RunCommand, Stop, Remove, RemoveLoginItems,
        WriteMarker, ResetSchedules, NextPage, EnableButtons,
    };
    struct Step {
        int number;
        Action action;
        bool progress;  // followed by one progress step
    };
    // One value a step acts on, as the uninstall would use it now.
    struct Target {
        QString key;     // null for a fixed value (the authorization list's tool entries)
        QString value;   // path, process name, command line or authorization entry
    };
    // A step with its targets: what `plan` returns and what a report is made of.
    struct PlannedStep {
        Step step;
        QList<Target> targets;
    };
    // What one step did, for reports; made only when stepFinished is set.
    struct Outcome {
        Outcome(Target target, QString outcome, QList<qint32> stopped = {})
            : target(std::move(target)), outcome(std::move(outcome)), stopped(std::move(stopped)) {}
        Target target;
        QString outcome;   // "removed", "was absent", "failed: REASON", "N processes stopped", ...
        QList<qint32> stopped;  // for a stop: the ids of the processes it stopped
    };
    struct StepReport {
        Step step;
        QList<Outcome> outcomes;
        qint64 microseconds = 0;
    };

    explicit ZVUninstallProcedure(const ZVConfiguredValues &values = ZVConfiguredValues::standard());

    // The 32 steps in order.
    static const QList<Step> &steps();
    // "authenticate", "remove", ... as reports name an action.
    static QString actionName(Action action);

    // Every step with what it would act on, as the configured values stand now. Changes
    // nothing.
    QList<PlannedStep> plan() const;
    // Runs the steps; false when the authorization was refused (then only step 32 ran).
    bool run();

    // Hooks. authorize defaults to ZVAuthentication::authenticate (which may ask the user);
    // the others default to doing nothing.
    std::function<bool(const QStringList &)> authorize;
    std::function<void()> increamentProgress;        // one progress step
    std::function<void()> selectNextTabViewItem;     // step 31
    std::function<void()> enableButtons;             // step 32
    // One line per external action, in order: "authenticate E1|E2|...", "unsetenv TMPDIR",
    // "system CMD", "stop NAME", "remove PATH", "removeLoginItems", "marker PATH", "sleep 1",
    // "reset", "selectNextTabViewItem", "enableButtons".
    std::function<void(const QString &)> stepObserver;
    // Called after each step with its outcomes; setting it makes the procedure look before
    // and after each action (existence of paths, listed processes), which costs listings.
    std::function<void(const StepReport &)> stepFinished;

    // Step 9 and 24: removes the login items of the configured application and monitor
    // paths; the results of the removals, in that order.
    QList<bool> removeLoginItems();
    // Steps 20 and 23: reads the schedule list file and sets every record in progress to
    // none. When a record changed, the list is stored again under "Schedules", so that the
    // product, if installed again, does not find schedules stuck in progress; an unreadable
    // or damaged file is left as it is. The number of records reset, or -1 without a list.
    int resetInProgressSchedulesState();

    // The schedule records in progress in the schedule list file, which steps 20 and 23
    // would reset; -1 without a readable list. Changes nothing.
    int schedulesInProgress() const;

private:
    QString scheduleListPath() const;
    QList<Target> targets(const Step &step) const;
    QString valueOf(const ZVConfiguredValues::Entry &entry) const;
    void note(const QString &line) const;
    QList<Outcome> perform(const Step &step, const QList<Target> &targets, bool *granted);
    QString remove(const QString &path, bool look);
    Outcome stop(const Target &target, bool look);

    ZVConfiguredValues m_values;
    QStringList m_removalArguments;
    bool m_aloneOnTheMachine = true;  // this run holds the one-uninstall-at-a-time lock
};
