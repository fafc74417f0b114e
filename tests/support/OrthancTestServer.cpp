#include "tests/support/OrthancTestServer.h"

#include "host/network/HttpTransport.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace Dravelin::Test {

namespace {

const char* const OrthancBinary = "/usr/sbin/Orthanc";
const char* const DicomWebPlugin = "/usr/share/orthanc/plugins/libOrthancDicomWeb.so";

// A port nobody listens on right now. Orthanc binds all interfaces, so check those.
int freePort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(probe);
    return port;
}

QString configText(const QString& dir, int httpPort, int dicomPort, const std::string& user,
                   const std::string& password)
{
    const bool auth = !user.empty() && !password.empty();
    const QString users =
        auth ? QString("{ \"%1\" : \"%2\" }").arg(QString::fromStdString(user), QString::fromStdString(password))
             : QString("{ }");
    return QString(R"({
  "Name" : "DravelinTestOrthanc",
  "StorageDirectory" : "%1/db",
  "IndexDirectory" : "%1/db",
  "Plugins" : [ "%2" ],
  "HttpServerEnabled" : true,
  "HttpPort" : %3,
  "RemoteAccessAllowed" : false,
  "AuthenticationEnabled" : %5,
  "RegisteredUsers" : %6,
  "HttpDescribeErrors" : true,
  "WebDavEnabled" : false,
  "OrthancExplorerEnabled" : false,
  "DicomServerEnabled" : true,
  "DicomAet" : "ORTHANC",
  "DicomPort" : %4,
  "DicomCheckCalledAet" : false,
  "DicomAlwaysAllowEcho" : true,
  "DicomAlwaysAllowStore" : true,
  "DicomAlwaysAllowFind" : false,
  "DicomAlwaysAllowGet" : false,
  "DicomAlwaysAllowMove" : false,
  "DicomCheckModalityHost" : true,
  "DicomModalities" : { },
  "DicomWeb" : { "Enable" : true, "Root" : "/dicom-web/", "EnableWado" : true, "WadoRoot" : "/wado", "Ssl" : false },
  "SyncStorageArea" : false,
  "SaveJobs" : false,
  "MetricsEnabled" : false,
  "StableAge" : 2
}
)")
        .arg(dir, DicomWebPlugin)
        .arg(httpPort)
        .arg(dicomPort)
        .arg(auth ? "true" : "false", users);
}

}  // namespace

OrthancTestServer::OrthancTestServer(std::string user, std::string password)
    : m_user(std::move(user)), m_password(std::move(password))
{
}

OrthancTestServer::~OrthancTestServer()
{
    stop();
}

bool OrthancTestServer::isInstalled()
{
    return QFileInfo(OrthancBinary).isExecutable() && QFileInfo::exists(DicomWebPlugin);
}

std::string OrthancTestServer::dicomWebUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_httpPort) + "/dicom-web";
}

bool OrthancTestServer::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

bool OrthancTestServer::start(QString* error)
{
    if (!isInstalled()) {
        if (error)
            *error = "Orthanc with its DICOMweb plug-in is not installed";
        return false;
    }
    // Another test (ctest -j) may take a port between the probe and Orthanc's bind.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce(error))
            return true;
        stop();
    }
    return false;
}

bool OrthancTestServer::startOnce(QString* error)
{
    m_dir = std::make_unique<TempDir>();
    QDir().mkpath(m_dir->file("db"));
    m_httpPort = freePort();
    m_dicomPort = freePort();
    if (m_httpPort == 0 || m_dicomPort == 0 || m_httpPort == m_dicomPort) {
        if (error)
            *error = "no free port";
        return false;
    }
    QFile config(m_dir->file("orthanc.json"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(configText(m_dir->path(), m_httpPort, m_dicomPort, m_user, m_password).toUtf8());
    config.close();

    m_process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TCP_NODELAY", "1");
    m_process->setProcessEnvironment(environment);
    m_process->setWorkingDirectory(m_dir->path());
    m_process->setStandardOutputFile(m_dir->file("orthanc.out"));
    m_process->setStandardErrorFile(m_dir->file("orthanc.out"), QIODevice::Append);
    m_process->start(OrthancBinary, {"--logfile=" + m_dir->file("orthanc.log"), config.fileName()});
    if (!m_process->waitForStarted(10000)) {
        if (error)
            *error = "Orthanc did not start: " + m_process->errorString();
        return false;
    }

    Network::HttpTransport http;
    http.setTimeouts(2000, 2000);
    Filesystem::Url probe("http://127.0.0.1:" + std::to_string(m_httpPort) + "/system");
    if (!m_user.empty()) {
        auto provider = std::make_shared<Network::HttpAuthorizationProvider>();
        provider->setBasic(m_user, m_password);
        http.setAuthorizationProvider(provider);
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000) {
        if (m_process->state() != QProcess::Running)
            break;
        auto answer = http.get(probe, {});
        if (auto* response = std::get_if<Network::HttpResponse>(&answer);
            response && response->status == Network::HttpStatus::Ok)
            return true;
        QThread::msleep(100);
    }
    if (error) {
        QFile log(m_dir->file("orthanc.log"));
        log.open(QIODevice::ReadOnly);
        *error = "Orthanc did not become ready: " + QString::fromUtf8(log.readAll().right(2000));
    }
    return false;
}

void OrthancTestServer::stop()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        // The archive is thrown away, so there is nothing to shut down cleanly.
        m_process->kill();
        m_process->waitForFinished(10000);
    }
    m_process.reset();
    m_dir.reset();
}

bool OrthancTestServer::store(const QStringList& files, QString* error)
{
    // Batches keep the command line short; each is one association.
    constexpr int Batch = 500;
    for (int first = 0; first < files.size(); first += Batch) {
        QProcess storescu;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TCP_NODELAY", "1");
        storescu.setProcessEnvironment(environment);
        storescu.setProcessChannelMode(QProcess::MergedChannels);
        QStringList args = {"-aet", "DRAVELINTEST", "-aec", "ORTHANC", "127.0.0.1", QString::number(m_dicomPort)};
        args += files.mid(first, Batch);
        storescu.start("storescu", args);
        if (!storescu.waitForFinished(600000) || storescu.exitStatus() != QProcess::NormalExit ||
            storescu.exitCode() != 0) {
            if (error)
                *error = "storescu failed: " + QString::fromUtf8(storescu.readAll().right(2000));
            return false;
        }
    }
    return true;
}

QStringList OrthancTestServer::pydicomCorpus()
{
    QStringList files = {pydicomData("test_files/CT_small.dcm"), pydicomData("test_files/MR_small.dcm")};
    QStringList images;
    QDirIterator it(pydicomData("test_files/dicomdirtests"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = QFileInfo(path).fileName();
        if (!name.startsWith("DICOMDIR") && !name.startsWith("README"))
            images << path;
    }
    std::sort(images.begin(), images.end());
    return files + images;
}

}  // namespace Dravelin::Test
