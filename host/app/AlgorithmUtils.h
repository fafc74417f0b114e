#pragma once

#include <QString>
#include <QStringList>

namespace Dravelin::AlgorithmUtils {

// Algorithm and controller names are menu paths with levels separated by ";"
// ("Tools;DICOM Editor"). Returns the last level, trimmed (the display name), and puts the
// levels before it, trimmed and without empty ones, into `menuPath` when given.
QString parseAlgorithmName(const QString& name, QStringList* menuPath = nullptr);

}  // namespace Dravelin::AlgorithmUtils
