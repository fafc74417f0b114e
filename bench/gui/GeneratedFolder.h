#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QString>

#include <cstdio>

// The GUI benchmarks' folder of 20,000 files (10 patients, 2 studies, 10 series of 100 images of
// 128x128), made by the data generator beside the benchmark when missing; false when it cannot be.
inline bool ensureGeneratedFolder(const QString& folder, const QString& benchmarkPath)
{
    if (QFileInfo(folder).isDir())
        return true;
    const QString generator = QFileInfo(benchmarkPath).absolutePath() + "/../dravelin-gen-data";
    std::printf("generating %s ...\n", qPrintable(folder));
    return QProcess::execute(generator, {"folder", folder, "--patients", "10", "--studies", "2", "--series", "10",
                                         "--images", "100", "--size", "128"}) == 0;
}
