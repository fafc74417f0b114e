// dravelin-dicom: command-line access to the plug-in. This file only dispatches; each
// command lives in its own <Name>Command file.
#include "app/cli/DeidentifyCommand.h"
#include "app/cli/LoadCommand.h"
#include "app/cli/PacsFindCommand.h"
#include "app/cli/ScanCommand.h"
#include "app/cli/TreeCommand.h"
#include "app/cli/WebScanCommand.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/oflog/oflog.h>

#include <functional>
#include <map>

namespace {

int usage(const std::map<QString, std::function<int(const QStringList&)>>& commands)
{
    QTextStream err(stderr);
    err << "usage: dravelin-dicom COMMAND ARGS...\ncommands:";
    for (const auto& entry : commands)
        err << ' ' << entry.first;
    err << '\n';
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // DCMTK's own warnings would interleave with the tool's output; files it cannot read
    // are reported by the commands themselves.
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);

    const std::map<QString, std::function<int(const QStringList&)>> commands = {
        {QStringLiteral("deidentify"), Dravelin::Cli::runDeidentifyCommand},
        {QStringLiteral("load"), Dravelin::Cli::runLoadCommand},
        {QStringLiteral("pacs-find"), Dravelin::Cli::runPacsFindCommand},
        {QStringLiteral("scan"), Dravelin::Cli::runScanCommand},
        {QStringLiteral("tree"), Dravelin::Cli::runTreeCommand},
        {QStringLiteral("web-scan"), Dravelin::Cli::runWebScanCommand},
    };
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usage(commands);
    const auto command = commands.find(args.takeFirst());
    if (command == commands.end())
        return usage(commands);
    return command->second(args);
}
