#pragma once

#include <QString>
#include <QStringList>

namespace Dravelin::Test {

struct CliResult
{
    int exitCode = -1;  // -1: did not finish in time
    QString out;
    QString err;
};

// Runs `dravelin-dicom ARGS...` and collects its exit status and output.
CliResult runCli(const QStringList& args, int timeoutMs = 120000);

}  // namespace Dravelin::Test
