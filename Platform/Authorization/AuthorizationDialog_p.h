// The administrator password dialog of the Authorization layer: asks the person at the console
// for an administrator's name and password, has sudo check them, says clearly when they are
// not accepted and lets the person try again or cancel. Modal; it is accepted only once sudo
// has accepted the password (and so holds its credential for this process).
//
// The name: sudo checks the password of the account that runs this program and no other, so
// the name field is filled with that account's login name. Another name is refused with a
// message saying whose password is needed; it counts as a failed attempt and sudo is not run.
//
// Widgets carry objectNames ("nameField", "passwordField", "okButton", "cancelButton",
// "messageLabel", "detailsLabel") and the dialog the property "failedAttempts" (attempts refused so far), so
// that end-to-end tests can answer it as a person would.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class SudoCredential;

class AuthorizationDialog : public QDialog {
    Q_OBJECT
    Q_PROPERTY(int failedAttempts READ failedAttempts)

public:
    // ACCOUNT: the login name whose password sudo checks. REQUESTEDFOR: the labels of the
    // request (the rights items' values), shown in "detailsLabel".
    AuthorizationDialog(const QString &account, const QStringList &requestedFor,
        QWidget *parent = nullptr);
    ~AuthorizationDialog() override;

    int failedAttempts() const { return m_failedAttempts; }

    static QString wrongPasswordMessage();
    // Shown instead of the dialog when this system has no way to grant the right (neither a
    // polkit authority nor sudo).
    static QString unavailableMessage();

public slots:
    void reject() override;

private:
    void submit();
    void checkFinished();
    void refuse(const QString &message);
    void setBusy(bool busy);

    QString m_account;
    QLineEdit *m_nameField;
    QLineEdit *m_passwordField;
    QLabel *m_messageLabel;
    QPushButton *m_okButton;
    QPushButton *m_cancelButton;
    QTimer *m_pollTimer;
    std::unique_ptr<SudoCredential> m_check;
    int m_failedAttempts = 0;
};
