#include "AuthorizationDialog_p.h"

#include "SudoCredential_p.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>

AuthorizationDialog::AuthorizationDialog(
    const QString &account, const QStringList &requestedFor, QWidget *parent)
    : QDialog(parent), m_account(account)
{
    setObjectName("authorizationDialog");
    setWindowTitle(tr("Authenticate"));
    setModal(true);

    QString program = QCoreApplication::applicationName();
    if (program.isEmpty())
        program = tr("This program");
    auto *prompt = new QLabel(
        tr("%1 wants to make changes. Type an administrator's name and password to allow this.")
            .arg(program),
        this);
    prompt->setObjectName("promptLabel");
    prompt->setWordWrap(true);
    prompt->setTextFormat(Qt::PlainText);

    auto *details = new QLabel(this);
    details->setObjectName("detailsLabel");
    details->setWordWrap(true);
    details->setTextFormat(Qt::PlainText);
    if (!requestedFor.isEmpty())
        details->setText(tr("Requested for: %1").arg(requestedFor.join(", ")));
    details->setVisible(!requestedFor.isEmpty());

    m_nameField = new QLineEdit(account, this);
    m_nameField->setObjectName("nameField");
    m_passwordField = new QLineEdit(this);
    m_passwordField->setObjectName("passwordField");
    m_passwordField->setEchoMode(QLineEdit::Password);

    m_messageLabel = new QLabel(this);
    m_messageLabel->setObjectName("messageLabel");
    m_messageLabel->setWordWrap(true);
    m_messageLabel->setTextFormat(Qt::PlainText);
    m_messageLabel->setStyleSheet("color: #b00020;");

    auto *buttons = new QDialogButtonBox(this);
    m_cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    m_cancelButton->setObjectName("cancelButton");
    m_okButton = buttons->addButton(QDialogButtonBox::Ok);
    m_okButton->setObjectName("okButton");
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &AuthorizationDialog::submit);
    connect(m_cancelButton, &QPushButton::clicked, this, &AuthorizationDialog::reject);

    auto *form = new QFormLayout;
    form->addRow(tr("Name:"), m_nameField);
    form->addRow(tr("Password:"), m_passwordField);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(details);
    layout->addLayout(form);
    layout->addWidget(m_messageLabel);
    layout->addWidget(buttons);
    setMinimumWidth(380);

    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(50);
    connect(m_pollTimer, &QTimer::timeout, this, &AuthorizationDialog::checkFinished);

    m_passwordField->setFocus();
}

AuthorizationDialog::~AuthorizationDialog() = default;

QString AuthorizationDialog::wrongPasswordMessage()
{
    return tr("The password is wrong. Try again.");
}

QString AuthorizationDialog::unavailableMessage()
{
    return tr("Administrator rights cannot be obtained on this computer: it has neither a polkit "
              "authority nor sudo. Run the uninstaller as root (the administrator account).");
}

void AuthorizationDialog::submit()
{
    if (m_check)
        return;
    // Take the password out of the field first, so that whatever happens next the field
    // holds no copy; setText also empties the field's undo history.
    QString typed = m_passwordField->text();
    m_passwordField->setText(QString());
    QByteArray bytes = typed.toUtf8();
    if (!typed.isEmpty() && typed.isDetached())
        explicit_bzero(typed.data(), size_t(typed.size()) * sizeof(QChar));
    typed.clear();

    if (m_nameField->text().trimmed() != m_account) {
        explicit_bzero(bytes.data(), size_t(bytes.size()));
        refuse(tr("Only the password of %1, the account running this program, can be checked "
                  "here. Type %1 as the name and its password.").arg(m_account));
        return;
    }
    m_messageLabel->setText(tr("Checking the password…"));
    setBusy(true);
    m_check = std::make_unique<SudoCredential>(bytes);
    m_pollTimer->start();
}

void AuthorizationDialog::checkFinished()
{
    if (!m_check)
        return;
    const SudoCredential::Result result = m_check->poll();
    if (result == SudoCredential::Result::Running)
        return;
    m_pollTimer->stop();
    m_check.reset();
    setBusy(false);
    switch (result) {
    case SudoCredential::Result::Accepted:
        m_messageLabel->clear();
        accept();
        return;
    case SudoCredential::Result::NotPermitted:
        refuse(tr("%1 is not an administrator of this computer: sudo does not allow it to run "
                  "commands as root.").arg(m_account));
        return;
    case SudoCredential::Result::Failed:
        refuse(tr("The password could not be checked (sudo could not be run). Try again."));
        return;
    default:
        refuse(wrongPasswordMessage());
        return;
    }
}

void AuthorizationDialog::refuse(const QString &message)
{
    ++m_failedAttempts;
    m_messageLabel->setText(message);
    m_passwordField->setFocus();
}

void AuthorizationDialog::reject()
{
    m_pollTimer->stop();
    m_check.reset();
    QDialog::reject();
}

void AuthorizationDialog::setBusy(bool busy)
{
    m_nameField->setEnabled(!busy);
    m_passwordField->setEnabled(!busy);
    m_okButton->setEnabled(!busy);
}
