#include "tests/support/DataFixtures.h"

#include "host/data/SharedImageSet.h"

namespace Dravelin::Test {

std::unique_ptr<SharedImageSet> imageSet(PixelType type, int width, int height, int depth, const QString& name)
{
    auto set = std::make_unique<SharedImageSet>(std::make_unique<SharedImage>(type, width, height, depth));
    if (!name.isEmpty())
        set->setName(name);
    return set;
}

}  // namespace Dravelin::Test
