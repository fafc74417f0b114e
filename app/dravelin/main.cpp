// dravelin: the desktop application. Loads the plug-ins of its plug-in folder, opens the
// locations given through the registry's DICOM reader, and shows them.
#include "app/dravelin/ApplicationRunner.h"
#include "host/app/GlobalSettings.h"
#include "host/core/FileNameCodec.h"

#include <QApplication>

#include <cstring>

namespace {

// Options that only print need no display: without one they run on the offscreen platform
// instead of aborting in QApplication.
void printWithoutDisplay(int argc, char** argv)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    for (int i = 1; i < argc; ++i)
        for (const char* option : {"--list-plugins", "--help", "-h", "--version"})
            if (std::strcmp(argv[i], option) == 0) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
                return;
            }
}

}  // namespace

int main(int argc, char** argv)
{
    printWithoutDisplay(argc, argv);
    Dravelin::FileNameCodec::install();
    Dravelin::GlobalSettings::useApplicationSettingsFile();
    QApplication::setApplicationDisplayName(QStringLiteral("Dravelin"));
    QApplication::setApplicationVersion(QStringLiteral(DRAVELIN_VERSION));
    QApplication application(argc, argv);
    return Dravelin::ApplicationRunner().run(application.arguments());
}
