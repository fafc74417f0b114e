#include "host/properties/ListParameter.h"

#include <QStringList>

namespace Dravelin::ParameterStorage {

QString fromIntList(const std::vector<int>& values)
{
    QStringList pieces;
    for (int v : values)
        pieces << QString::number(v);
    return pieces.join(QLatin1Char(','));
}

bool toIntList(const QString& text, std::vector<int>& out)
{
    std::vector<int> values;
    for (const QString& piece : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString trimmed = piece.trimmed();
        if (trimmed.isEmpty())
            continue;
        bool ok = false;
        const int v = trimmed.toInt(&ok);
        if (!ok)
            return false;
        values.push_back(v);
    }
    out = std::move(values);
    return true;
}

}  // namespace Dravelin::ParameterStorage
