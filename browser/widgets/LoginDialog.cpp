#include "browser/widgets/LoginDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace Dravelin {

LoginDialog::LoginDialog(const QString& server, const QString& user, const QString& message, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Login"));
    auto* layout = new QFormLayout(this);
    layout->addRow(new QLabel(tr("The server %1 requires a login.").arg(server)));
    if (!message.isEmpty()) {
        auto* warning = new QLabel(message);
        warning->setStyleSheet(QStringLiteral("color: #b00020;"));
        layout->addRow(warning);
    }
    m_userEdit = new QLineEdit(user);
    m_passwordEdit = new QLineEdit;
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    layout->addRow(tr("User name:"), m_userEdit);
    layout->addRow(tr("Password:"), m_passwordEdit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addRow(buttons);
}

QString LoginDialog::userName() const
{
    return m_userEdit->text();
}

QString LoginDialog::password() const
{
    return m_passwordEdit->text();
}

std::optional<WebCredentials::Login> LoginDialog::ask(const std::string& server, const std::string& user,
                                                      const std::string& message)
{
    LoginDialog dialog(QString::fromStdString(server), QString::fromStdString(user), QString::fromStdString(message),
                       QApplication::activeWindow());
    dialog.setObjectName(QStringLiteral("LoginDialog"));
    if (!user.empty())
        dialog.m_passwordEdit->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return WebCredentials::Login{dialog.userName().toStdString(), dialog.password().toStdString()};
}

}  // namespace Dravelin

#include "moc_LoginDialog.cpp"
