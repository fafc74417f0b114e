#include "host/app/AlgorithmDescriptor.h"

#include "host/app/AlgorithmUtils.h"

namespace Dravelin {

QString AlgorithmDescriptor::displayName() const
{
    return AlgorithmUtils::parseAlgorithmName(name);
}

QStringList AlgorithmDescriptor::menuPath() const
{
    QStringList path;
    AlgorithmUtils::parseAlgorithmName(name, &path);
    return path;
}

}  // namespace Dravelin
