#include "AgentDialog.h"

#include <QComboBox>
#include <algorithm>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <pwd.h>
#include <unistd.h>

AgentDialog::AgentDialog(const QString &message, const QStringList &identities)
{
    setWindowTitle(tr("Authenticate"));
    auto *messageLabel = new QLabel(message);
    messageLabel->setObjectName("messageLabel");
    messageLabel->setWordWrap(true);
    m_identityBox = new QComboBox;
    m_identityBox->setObjectName("identityBox");
    m_identityBox->addItems(identities);
    // The person at the console is most often an administrator: their own identity comes
    // first, as in the desktops' agents; otherwise polkit's order stands.
    if (const passwd *own = ::getpwuid(::getuid()))
        m_identityBox->setCurrentIndex(std::max(0, int(identities.indexOf(QString::fromLocal8Bit(own->pw_name)))));
    m_passwordField = new QLineEdit;
    m_passwordField->setObjectName("passwordField");
    m_passwordField->setEchoMode(QLineEdit::Password);
    m_errorLabel = new QLabel;
    m_errorLabel->setObjectName("errorLabel");
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_okButton = buttons->button(QDialogButtonBox::Ok);
    m_okButton->setObjectName("okButton");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancelButton");

    auto *form = new QFormLayout;
    form->addRow(tr("Administrator:"), m_identityBox);
    form->addRow(tr("Password:"), m_passwordField);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(messageLabel);
    layout->addLayout(form);
    layout->addWidget(m_errorLabel);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &AgentDialog::submit);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_passwordField->setFocus();
}

void AgentDialog::refuse()
{
    m_errorLabel->setText(tr("Sorry, that password was not accepted. Please try again."));
    m_passwordField->clear();
    m_passwordField->setEnabled(true);
    m_identityBox->setEnabled(true);
    m_okButton->setEnabled(true);
    m_passwordField->setFocus();
}

void AgentDialog::submit()
{
    QByteArray password = m_passwordField->text().toUtf8();
    m_passwordField->clear();
    m_errorLabel->clear();
    m_passwordField->setEnabled(false);
    m_identityBox->setEnabled(false);
    m_okButton->setEnabled(false);
    Q_EMIT submitted(m_identityBox->currentIndex(), password);
    password.fill('\0');
}
