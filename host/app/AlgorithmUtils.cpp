#include "host/app/AlgorithmUtils.h"

namespace Dravelin::AlgorithmUtils {

QString parseAlgorithmName(const QString& name, QStringList* menuPath)
{
    QStringList levels;
    for (const QString& level : name.split(QLatin1Char(';')))
        if (!level.trimmed().isEmpty())
            levels << level.trimmed();
    const QString last = levels.isEmpty() ? QString() : levels.takeLast();
    if (menuPath)
        *menuPath = levels;
    return last;
}

}  // namespace Dravelin::AlgorithmUtils
