#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

namespace Dravelin::Test {

class TempDir;

// A throw-away Orthanc with its DICOMweb plug-in (Debian packages orthanc, orthanc-dicomweb),
// serving HTTP and DIMSE on free ports of this machine, its archive in a temporary folder.
// Clients only ever talk to 127.0.0.1; Orthanc itself refuses remote HTTP clients. The
// process is ended by its own PID when the object goes away.
class OrthancTestServer
{
public:
    // Both set: HTTP basic authentication with this one user.
    OrthancTestServer(std::string user = {}, std::string password = {});
    ~OrthancTestServer();
    OrthancTestServer(const OrthancTestServer&) = delete;
    OrthancTestServer& operator=(const OrthancTestServer&) = delete;

    // True when the Orthanc binary and the DICOMweb plug-in are installed.
    static bool isInstalled();

    // Starts and waits until HTTP answers; retries on other ports when one was taken meanwhile.
    bool start(QString* error = nullptr);
    void stop();
    bool isRunning() const;

    int httpPort() const { return m_httpPort; }
    int dicomPort() const { return m_dicomPort; }
    // "http://127.0.0.1:PORT/dicom-web"
    std::string dicomWebUrl() const;
    std::string aeTitle() const { return "ORTHANC"; }

    // Stores the files through C-STORE (one association); true when storescu succeeded.
    bool store(const QStringList& files, QString* error = nullptr);

    // The 83 images of Debian's pydicom corpus that load as 5 patients, 9 studies, 16 series:
    // CT_small.dcm, MR_small.dcm and the images of dicomdirtests/.
    static QStringList pydicomCorpus();

private:
    bool startOnce(QString* error);

    std::string m_user;
    std::string m_password;
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    int m_httpPort = 0;
    int m_dicomPort = 0;
};

}  // namespace Dravelin::Test
