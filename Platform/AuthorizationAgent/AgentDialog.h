// The agent's window: says what the program asks for, lets the person choose which
// administrator authenticates and type that administrator's password. It only collects them;
// the listener hands the password to polkit's own checker and reports back here.
//
// Widgets carry objectNames ("messageLabel", "identityBox", "passwordField", "errorLabel",
// "okButton", "cancelButton") so that tests can answer it as a person would.
#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class AgentDialog : public QDialog {
    Q_OBJECT

public:
    AgentDialog(const QString &message, const QStringList &identities);

    // After a refused password: says so, empties the field and lets the person try again.
    void refuse();

Q_SIGNALS:
    // IDENTITY: the index of the chosen identity in the list given.
    void submitted(int identity, const QByteArray &password);

private:
    void submit();

    QComboBox *m_identityBox;
    QLineEdit *m_passwordField;
    QLabel *m_errorLabel;
    QPushButton *m_okButton;
};
