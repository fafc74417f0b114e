#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;

namespace Dravelin {

namespace Filesystem {
class Url;
}
namespace Network {
class HttpAuthorizationProvider;
}

// Asks for a user name and password for a DICOMweb server.
class LoginDialog : public QDialog
{
    Q_OBJECT

public:
    LoginDialog(const QString& server, const QString& message, QWidget* parent = nullptr);

    QString userName() const;
    QString password() const;

    // A credential request for HttpAuthorizationProvider: the user information of the URL
    // answers the first request; otherwise (and after a refusal) the user is asked. False when
    // the user cancels.
    static bool askForCredentials(Network::HttpAuthorizationProvider& provider, const Filesystem::Url& url,
                                  const std::string& message);

private:
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
};

}  // namespace Dravelin
