#include "tests/support/CliRun.h"

#include <QProcess>

namespace Dravelin::Test {

CliResult runCli(const QStringList& args, int timeoutMs)
{
    QProcess process;
    process.start(QStringLiteral(DRAVELIN_CLI_EXE), args);
    CliResult result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

}  // namespace Dravelin::Test
