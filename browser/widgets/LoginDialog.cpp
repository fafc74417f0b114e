#include "browser/widgets/LoginDialog.h"

#include "host/core/Url.h"
#include "host/network/HttpAuthorizationProvider.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace Dravelin {

LoginDialog::LoginDialog(const QString& server, const QString& message, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Login"));
    auto* layout = new QFormLayout(this);
    layout->addRow(new QLabel(tr("The server %1 requires a login.").arg(server)));
    if (!message.isEmpty()) {
        auto* warning = new QLabel(message);
        warning->setStyleSheet(QStringLiteral("color: #b00020;"));
        layout->addRow(warning);
    }
    m_userEdit = new QLineEdit;
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

bool LoginDialog::askForCredentials(Network::HttpAuthorizationProvider& provider, const Filesystem::Url& url,
                                    const std::string& message)
{
    // Credentials written into the URL are tried once; a refusal asks the user, so that wrong
    // ones cannot make the scan repeat forever.
    if (message.empty() && !url.userName().empty()) {
        provider.setBasic(url.userName(), url.password());
        return true;
    }
    if (message.empty() && provider.hasCredentials())
        return true;
    LoginDialog dialog(
        QString::fromStdString(url.string(Filesystem::Url::RemoveUserInfo | Filesystem::Url::RemoveQuery)),
        QString::fromStdString(message));
    dialog.setObjectName(QStringLiteral("LoginDialog"));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    provider.setBasic(dialog.userName().toStdString(), dialog.password().toStdString());
    return true;
}

}  // namespace Dravelin

#include "moc_LoginDialog.cpp"
