#pragma once

#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "tests/support/TestEnvironment.h"

#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <memory>
#include <string>

namespace Dravelin::Test {

// A free TCP port on 127.0.0.1 (bound to port 0 and released; never the same port twice
// within one process).
int freeLoopbackPort();

// The 83 uncompressed images of the pydicom corpus the PACS tests load:
// CT_small.dcm, MR_small.dcm and the images of dicomdirtests/ (5 patients, 9 studies,
// 16 series).
QStringList pacsCorpusFiles();

// A real PACS (Debian's Orthanc, or DCMTK's dcmqrscp) on free loopback ports, in a
// temporary folder, started as a child process and killed by its PID.
// The one client it grants query/retrieve to is `clientAeTitle`, whose C-MOVE destination
// is 127.0.0.1:`clientPort`.
class PacsTestServer
{
public:
    enum class Kind { Orthanc, Dcmqrscp };

    struct Options
    {
        std::string aeTitle = "TESTPACS";
        std::string clientAeTitle = "DRAVELINTEST";
        int clientPort = 0;               // 0: a free port is chosen
        bool checkCalledAeTitle = false;  // Orthanc only; dcmqrscp always checks it
        bool httpEnabled = false;         // Orthanc only: REST + DICOMweb on httpPort(), ready at start
        static Options withDicomWeb()
        {
            Options options;
            options.httpEnabled = true;
            return options;
        }
    };

    explicit PacsTestServer(Kind kind) : PacsTestServer(kind, Options()) {}
    PacsTestServer(Kind kind, Options options);
    ~PacsTestServer();
    PacsTestServer(const PacsTestServer&) = delete;
    PacsTestServer& operator=(const PacsTestServer&) = delete;

    // Starts the server and waits (up to 30 s) until it answers C-ECHO. False with a
    // message in errorText() when it did not come up.
    bool start();
    // SIGKILL, then reaps the process. Safe to call twice.
    void stop();
    bool isRunning() const;

    // Sends the files by C-STORE (through DicomPacsCommunication); the number stored.
    int store(const QStringList& files);
    // start() and store(pacsCorpusFiles()) of all 83 files; false with errorText() otherwise.
    bool startWithCorpus();

    pid_t pid() const { return m_pid; }
    int port() const { return m_port; }
    int httpPort() const { return m_httpPort; }
    // "http://127.0.0.1:HTTPPORT/dicom-web"
    std::string dicomWebUrl() const { return "http://127.0.0.1:" + std::to_string(m_httpPort) + "/dicom-web"; }
    const Options& options() const { return m_options; }
    // The server as its one client reaches it (by C-GET, or by C-MOVE to clientPort).
    DicomPacsConfiguration clientConfiguration(bool useCGet = true) const;
    QString errorText() const { return m_error; }

private:
    bool writeOrthancConfig(QStringList& arguments);
    bool writeDcmqrscpConfig(QStringList& arguments);
    bool waitUntilReady();
    bool httpAnswers() const;

    Kind m_kind;
    Options m_options;
    TempDir m_folder;
    pid_t m_pid = -1;
    int m_port = 0;
    int m_httpPort = 0;
    QString m_error;
};

}  // namespace Dravelin::Test
