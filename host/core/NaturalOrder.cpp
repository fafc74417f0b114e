#include "host/core/NaturalOrder.h"

#include <QLocale>

namespace Dravelin {

QCollator naturalOrderCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    return collator;
}

}  // namespace Dravelin
