#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace Dravelin {

// The application's command line:
//   dravelin [LOCATION...] [--plugin-dir DIR] [--run ID] [--screenshot FILE.png] [--list-plugins]
// Kept apart from main() so that tests can run it in-process.
class ApplicationRunner
{
public:
    // The folder searched for plug-ins without --plugin-dir: "plugins" next to the executable.
    static QString defaultPluginDir();

    // Runs the application (the event loop, unless --list-plugins or an argument error ends it
    // first) and returns the exit status: 0 success, 1 when a screenshot could not be written,
    // 2 for unusable arguments.
    int run(const QStringList& arguments, std::FILE* out = stdout, std::FILE* err = stderr);
};

}  // namespace Dravelin
