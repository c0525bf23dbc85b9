// The wizard controller: three pages (welcome, uninstall, completion) in one window, the
// confirmation alert, the progress display, and the uninstall procedure itself.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;
class QWidget;
class NSProgressIndicator;
class ZVUninstallProcedure;

class ZVUninstaller : public QObject {
    Q_OBJECT
public:
    explicit ZVUninstaller(QObject *parent = nullptr);

    // Outlets, set by the main interface when it is loaded.
    QLabel *tabTitle = nullptr;
    QStackedWidget *tabView = nullptr;               // pages: 0 welcome, 1 uninstall, 2 completion
    NSProgressIndicator *uninstallationProgress = nullptr;
    QPushButton *previousButton = nullptr;
    QPushButton *nextButton = nullptr;
    QWidget *imagesMatrix = nullptr;                 // three image cells, one per page
    QLabel *uninstallProgressText = nullptr;
    QWidget *uninstallPaneBox1 = nullptr;            // uninstall page before the uninstall
    QWidget *uninstallPaneBox2 = nullptr;            // uninstall page while it runs
    QTimer *displayTimer = nullptr;                  // never set
    QLabel *versionField = nullptr;
    QLabel *mApplicationNameField = nullptr;
    QLabel *mPaneBox1TextField = nullptr;
    QLabel *mPaneBox2TextField = nullptr;
    QLabel *mPaneBox3TextField = nullptr;

    // The image cell of the step indicator at ROW (0 to 2); null for another row or column.
    QLabel *cellAtRowColumn(int row, int column) const;

    // Preparation once the interface is loaded: front, key window, background, version,
    // then updateUI.
    void awakeFromNib();
    // Sets every control for the selected page and redisplays the window.
    void updateUI();
    // One progress step of 8.0, its text ("%lf") and a redisplay.
    void increamentProgress();
    void displayTimerFireMethod(QTimer *timer);

    // The configured product name, and whether it is exactly "Tavrin for Mac".
    QString applicationName() const;
    bool isTavrinApplication() const;

    // The uninstall: runs ZVUninstallProcedure (rights for seven entries, then the fixed
    // sequence of stops, removals, login item removals, the stop-request marker and the
    // schedule resets, with 17 progress steps) with this wizard's progress, completion page
    // and buttons, then redisplays. A refused authorization changes nothing but re-enabling
    // the two buttons.
    void executeUninstallerScript();
    // Steps 9/24 and 20/23 of the procedure on their own (see ZVUninstallProcedure).
    void removeLoginItems();
    void resetInProgressSchedulesState();

    // Not called by the uninstall: stop the executors and tunnels of backups, and run an
    // AppleScript source (true when it produced a result).
    void killInteractiveBackupRsyncExcutables();
    void killScheduleBackupRsyncExcutables();
    bool executeAppleScriptCommand(const QString &source);

    // Receives one line for every external action of the procedure, in order (for tests):
    // "authenticate E1|E2|...", "unsetenv TMPDIR", "system CMD", "stop NAME", "remove PATH",
    // "removeLoginItems", "marker PATH", "sleep 1", "reset", "progress VALUE",
    // "selectNextTabViewItem", "enableButtons".
    std::function<void(const QString &)> stepObserver;

    // The alert's message key: the text names brand Tavrin whatever the brand.
    static const QString &kAlertMessageKey;

public slots:
    void nextScreen(QObject *sender = nullptr);
    void previousScreen(QObject *sender = nullptr);

private:
    ZVUninstallProcedure procedure();
    void note(const QString &step) const;
    void redisplay();
};
