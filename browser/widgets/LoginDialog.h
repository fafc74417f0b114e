#pragma once

#include "browser/models/WebCredentials.h"

#include <QDialog>

#include <optional>
#include <string>

class QLabel;
class QLineEdit;

namespace Dravelin {

// Asks for a user name and password for a DICOMweb server.
class LoginDialog : public QDialog
{
    Q_OBJECT

public:
    LoginDialog(const QString& server, const QString& user, const QString& message, QWidget* parent = nullptr);

    QString userName() const;
    QString password() const;

    // WebCredentials' question to the user: nothing when the user cancels.
    static std::optional<WebCredentials::Login> ask(const std::string& server, const std::string& user,
                                                    const std::string& message);

private:
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
};

}  // namespace Dravelin
