// dravelin-dicom: command-line access to the plug-in. This file only dispatches; each
// command lives in its own <Name>Command file.
#include "app/cli/CommandLine.h"
#include "app/cli/ConvertCommand.h"
#include "app/cli/DeidentifyCommand.h"
#include "app/cli/LoadCommand.h"
#include "app/cli/PacsFindCommand.h"
#include "app/cli/RtLabelMapCommand.h"
#include "app/cli/ScanCommand.h"
#include "app/cli/TreeCommand.h"
#include "app/cli/WebScanCommand.h"
#include "host/core/FileNameCodec.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/oflog/oflog.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

struct Command
{
    QString name;
    const char* summary;
    std::function<int(const QStringList&)> run;
};

const std::vector<Command>& commands()
{
    using namespace Dravelin::Cli;
    static const std::vector<Command> list = {
        {"scan", "list the series of a folder or a DICOMDIR file", runScanCommand},
        {"tree", "print every record field of the given files", runTreeCommand},
        {"load", "load a location string with its pixels and print its image sets", runLoadCommand},
        {"convert", "load a location and write it as DICOM with a chosen compression", runConvertCommand},
        {"pacs-find", "search a PACS (C-FIND)", runPacsFindCommand},
        {"web-scan", "search a DICOMweb server (QIDO-RS)", runWebScanCommand},
        {"deidentify", "write de-identified copies of a folder", runDeidentifyCommand},
        {"rt-labelmap", "fill an RT structure set on a volume's grid (NRRD, STL)", runRtLabelMapCommand},
    };
    return list;
}

void printHelp()
{
    QTextStream out(stdout);
    out << "usage: dravelin-dicom COMMAND [options] [arguments]\n"
           "       dravelin-dicom COMMAND --help    (or: dravelin-dicom help COMMAND)\n\n"
           "Commands:\n";
    for (const Command& c : commands())
        out << "  " << c.name.leftJustified(12) << c.summary << '\n';
    out << "\nOptions:\n"
           "  -h, --help  Show this help and exit.\n"
           "  --version   Show the version and exit.\n\n"
           "Exit status: 0 when everything was read; 1 for a partial result (some of the input could not\n"
           "be read, the rest was printed); 2 when nothing usable came of it (a bad command line, a\n"
           "missing or unusable input, an unreachable or refusing server).\n";
}

// Ends the process once a command is done, without static destructors and atexit handlers:
// DCMTK's data dictionary, Qt and the allocator take longer to tear down than a one-file scan
// takes to run, and none of them has anything left to write. Output streams are flushed first.
[[noreturn]] void exitNow(int status)
{
    std::fflush(nullptr);
    std::_Exit(status);
}

int usageError(const QString& message)
{
    QTextStream(stderr) << "dravelin-dicom: " << message << " (see 'dravelin-dicom --help')\n";
    return 2;
}

// Runs the command that `args` names (or prints the help or version); returns the exit status.
int dispatch(QStringList args)
{
    if (args.isEmpty())
        return usageError("a command is missing");
    QString first = args.takeFirst();
    // "help scan" is "scan --help".
    if (first == "help" && !args.isEmpty()) {
        first = args.takeFirst();
        args = QStringList{"--help"};
    }
    if (first == "--help" || first == "-h" || first == "help") {
        printHelp();
        return 0;
    }
    if (first == "--version") {
        QTextStream(stdout) << Dravelin::Cli::versionText() << '\n';
        return 0;
    }
    QStringList names;
    for (const Command& c : commands()) {
        if (c.name == first)
            return c.run(args);
        names << c.name;
    }
    const QString hint = Dravelin::Cli::closestMatchHint(first, names);
    const QString what = first.startsWith('-') ? "unknown option '" : "unknown command '";
    return usageError(what + first + "'" + (hint.isEmpty() ? QString() : "; " + hint));
}

}  // namespace

int main(int argc, char** argv)
{
    Dravelin::FileNameCodec::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(DRAVELIN_VERSION));
    // DCMTK's own warnings would interleave with the tool's output; files it cannot read
    // are reported by the commands themselves.
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
    exitNow(dispatch(QCoreApplication::arguments().mid(1)));
}
