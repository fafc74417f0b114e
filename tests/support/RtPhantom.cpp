#include "tests/support/RtPhantom.h"

#include "host/data/DataGroup.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>

namespace Dravelin::Test {

QString rtPhantomDir()
{
    static TempDir* dir = [] {
        auto* d = new TempDir;  // lives for the whole test process
        runGenerator({QStringLiteral("rtstruct"), d->path()});
        return d;
    }();
    return dir->path();
}

RtPhantom loadRtPhantom()
{
    RtPhantom p;
    p.ct = readDicom(QDir(rtPhantomDir()).filePath("ct"));
    p.volume = p.ct.getImage(2);
    p.structureSet = readDicom(QDir(rtPhantomDir()).filePath("rtstruct.dcm"));
    for (Data* d : p.structureSet.getAll())
        if (auto* group = dynamic_cast<DataGroup*>(d))
            for (Data* child : group->descendants())
                if (auto* cloud = dynamic_cast<PointCloud*>(child);
                    cloud && cloud->hasComponent<Dicom::RTStructureDataComponent>())
                    p.structures.push_back(cloud);
    return p;
}

}  // namespace Dravelin::Test
