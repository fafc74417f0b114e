#include "tests/support/PacsTestServer.h"

#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/network/HttpTransport.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QThread>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <set>
#include <vector>

extern char** environ;

namespace Dravelin::Test {

namespace {

int bindAnyPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

}  // namespace

int freeLoopbackPort()
{
    static std::mutex mutex;
    static std::set<int> handedOut;
    std::lock_guard<std::mutex> lock(mutex);
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int port = bindAnyPort();
        if (port > 0 && handedOut.insert(port).second)
            return port;
    }
    return 0;
}

QStringList pacsCorpusFiles()
{
    QStringList files{pydicomData("test_files/CT_small.dcm"), pydicomData("test_files/MR_small.dcm")};
    QStringList images;
    QDirIterator it(pydicomData("test_files/dicomdirtests"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        if (!name.startsWith("DICOMDIR") && !name.startsWith("README"))
            images << path;
    }
    images.sort();
    return files + images;
}

PacsTestServer::PacsTestServer(Kind kind, Options options) : m_kind(kind), m_options(std::move(options)) {}

PacsTestServer::~PacsTestServer()
{
    stop();
}

bool PacsTestServer::writeOrthancConfig(QStringList& arguments)
{
    const QString db = m_folder.path() + "/db";
    QDir().mkpath(db);
    const QString plugin = "/usr/share/orthanc/plugins/libOrthancDicomWeb.so";
    const bool web = m_options.httpEnabled;
    if (web && !QFile::exists(plugin)) {
        m_error = plugin + " (Debian package orthanc-dicomweb) is not installed";
        return false;
    }
    m_httpPort = m_options.httpEnabled ? freeLoopbackPort() : 0;
    const QString json =
        QString(R"({
  "Name" : "DravelinTestPacs",
  "StorageDirectory" : "%1", "IndexDirectory" : "%1",
  "Plugins" : [ %2 ],
  "HttpServerEnabled" : %3, "HttpPort" : %4, "RemoteAccessAllowed" : false,
  "AuthenticationEnabled" : false, "RegisteredUsers" : { },
  "WebDavEnabled" : false, "OrthancExplorerEnabled" : false,
  "DicomServerEnabled" : true, "DicomAet" : "%5", "DicomPort" : %6,
  "DicomCheckCalledAet" : %7,
  "DicomAlwaysAllowEcho" : true, "DicomAlwaysAllowStore" : true,
  "DicomAlwaysAllowFind" : false, "DicomAlwaysAllowGet" : false, "DicomAlwaysAllowMove" : false,
  "DicomCheckModalityHost" : true,
  "DicomModalities" : { "client" : [ "%8", "127.0.0.1", %9 ] },
  "DicomWeb" : { "Enable" : true, "Root" : "/dicom-web/", "EnableWado" : true, "WadoRoot" : "/wado", "Ssl" : false },
  "SyncStorageArea" : false, "SaveJobs" : false, "MetricsEnabled" : false, "StableAge" : 2
})")
            .arg(db, web ? "\"" + plugin + "\"" : QString(), m_options.httpEnabled ? "true" : "false")
            .arg(m_httpPort > 0 ? m_httpPort : 8042)
            .arg(QString::fromStdString(m_options.aeTitle))
            .arg(m_port)
            .arg(m_options.checkCalledAeTitle ? "true" : "false", QString::fromStdString(m_options.clientAeTitle))
            .arg(m_options.clientPort);
    const QString config = m_folder.path() + "/orthanc.json";
    arguments << "/usr/sbin/Orthanc"
              << "--logfile=" + m_folder.path() + "/orthanc.log" << config;
    return writeFile(config, json.toUtf8());
}

bool PacsTestServer::writeDcmqrscpConfig(QStringList& arguments)
{
    const QString store = m_folder.path() + "/store";
    QDir().mkpath(store);
    const QString cfg = QString(
                            "NetworkTCPPort = %1\nMaxPDUSize = 16384\nMaxAssociations = 16\n"
                            "HostTable BEGIN\nclient = (%2, 127.0.0.1, %3)\nHostTable END\n"
                            "VendorTable BEGIN\nVendorTable END\n"
                            "AETable BEGIN\n%4 %5 RW (200, 1024mb) ANY\nAETable END\n")
                            .arg(m_port)
                            .arg(QString::fromStdString(m_options.clientAeTitle))
                            .arg(m_options.clientPort)
                            .arg(QString::fromStdString(m_options.aeTitle), store);
    const QString config = m_folder.path() + "/dcmqrscp.cfg";
    arguments << "/usr/bin/dcmqrscp"
              << "-c" << config;
    return writeFile(config, cfg.toUtf8());
}

bool PacsTestServer::start()
{
    if (isRunning())
        return true;
    m_port = freeLoopbackPort();
    if (m_options.clientPort == 0)
        m_options.clientPort = freeLoopbackPort();
    QStringList arguments;
    const bool written = m_kind == Kind::Orthanc ? writeOrthancConfig(arguments) : writeDcmqrscpConfig(arguments);
    if (!written || m_port == 0) {
        if (m_error.isEmpty())
            m_error = "cannot write the server configuration in " + m_folder.path();
        return false;
    }
    if (!QFile::exists(arguments.first())) {
        m_error = arguments.first() + " is not installed";
        return false;
    }

    // Without TCP_NODELAY Debian's DCMTK (and Orthanc, built on it) delays every message.
    std::vector<std::string> env{"TCP_NODELAY=1"};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("TCP_NODELAY=", 0) != 0)
            env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args;
    for (const QString& a : arguments)
        args.push_back(a.toStdString());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // The server dies with the test process, also when that crashes or is killed: a forked
    // child asks for SIGKILL at its parent's death before it becomes the server. Between fork
    // and exec only async-signal-safe calls.
    const std::string output = (m_folder.path() + "/server.out").toStdString();
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    const int rc = m_pid > 0 ? 0 : errno;
    if (rc != 0) {
        m_pid = -1;
        m_error = "cannot start " + arguments.first();
        return false;
    }
    return waitUntilReady();
}

DicomPacsConfiguration PacsTestServer::clientConfiguration(bool useCGet) const
{
    DicomPacsConfiguration config("127.0.0.1", m_port, m_options.aeTitle, useCGet);
    config.ownAeTitle = m_options.clientAeTitle;
    config.ownPort = m_options.clientPort;
    return config;
}

bool PacsTestServer::waitUntilReady()
{
    DicomPacsConfiguration config = clientConfiguration();
    config.connectTimeoutSeconds = 1;
    config.dimseTimeoutSeconds = 5;
    DicomPacsCommunication pacs(config);
    pacs.setErrorHandler([](const Dicom::Error&) {});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!isRunning()) {
            QFile out(m_folder.path() + "/server.out");
            out.open(QIODevice::ReadOnly);
            m_error = "the server exited during start-up: " + QString::fromUtf8(out.readAll().right(2000));
            return false;
        }
        if (pacs.sendEchoRequest() && httpAnswers())
            return true;
        QThread::msleep(100);
    }
    m_error = "the server did not answer C-ECHO (and HTTP, when enabled) within 30 s";
    stop();
    return false;
}

// Orthanc opens its HTTP port after its DICOM port.
bool PacsTestServer::httpAnswers() const
{
    if (!m_options.httpEnabled)
        return true;
    Network::HttpTransport http;
    http.setTimeouts(2000, 2000);
    const auto answer = http.get(Filesystem::Url(dicomWebUrl() + "/studies"), {});
    const auto* response = std::get_if<Network::HttpResponse>(&answer);
    return response && response->status == Network::HttpStatus::Ok;
}

bool PacsTestServer::isRunning() const
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    return ::waitpid(m_pid, &status, WNOHANG) == 0;
}

void PacsTestServer::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

int PacsTestServer::store(const QStringList& files)
{
    std::vector<std::shared_ptr<DcmDataset>> datasets;
    for (const QString& path : files) {
        DcmFileFormat file;
        if (file.loadFile(path.toStdString().c_str()).good())
            datasets.emplace_back(file.getAndRemoveDataset());
    }
    DicomPacsCommunication pacs(clientConfiguration());
    int failures = 0;
    pacs.setErrorHandler([&failures](const Dicom::Error&) { ++failures; });
    if (!pacs.sendStoreRequest(datasets) && failures == 0)
        return 0;
    return static_cast<int>(datasets.size()) - failures;
}

bool PacsTestServer::startWithCorpus()
{
    if (!start())
        return false;
    const int stored = store(pacsCorpusFiles());
    if (stored != 83)
        m_error = QString("%1 of the 83 corpus files stored").arg(stored);
    return stored == 83;
}

}  // namespace Dravelin::Test
