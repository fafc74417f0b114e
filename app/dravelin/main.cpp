// dravelin: the desktop application. Loads the plug-ins of its plug-in folder, opens the
// locations given through the registry's DICOM reader, and shows them.
#include "app/dravelin/ApplicationRunner.h"
#include "host/app/GlobalSettings.h"
#include "host/core/FileNameCodec.h"

#include <QApplication>

int main(int argc, char** argv)
{
    Dravelin::FileNameCodec::install();
    Dravelin::GlobalSettings::useApplicationSettingsFile();
    QApplication::setApplicationDisplayName(QStringLiteral("Dravelin"));
    QApplication::setApplicationVersion(QStringLiteral(DRAVELIN_VERSION));
    QApplication application(argc, argv);
    return Dravelin::ApplicationRunner().run(application.arguments());
}
