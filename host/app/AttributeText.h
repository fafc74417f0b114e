#pragma once

#include <QMap>
#include <QString>

namespace Dravelin {

class ParameterBase;
class Properties;

// Parameter attributes written as one text, as parameter declarations give them:
//
//   label: 'PACS Server Port', min: 1, max: 32768
//
// Comma-separated `key: value` pairs; a value is a bare word or number, or a text in single
// quotes (a quote inside is doubled: 'it''s'). Editors read these keys:
//   label    the text shown next to the editor (the parameter name when absent)
//   tooltip  help shown when hovering
//   min, max limits of int and double parameters
//   decimals digits after the point of double parameters
//   values   the choices of an enumeration, separated by '|' ('None|JPEG|JPEG 2000'); a text
//            parameter holds the chosen text, an int parameter its index
class AttributeText
{
public:
    // The pairs of `text`; on a syntax error the pairs read so far, `ok` false and the error logged.
    static QMap<QString, QString> parse(const QString& text, bool* ok = nullptr);
    // The text form of `attributes` (values quoted when needed), in key order.
    static QString format(const QMap<QString, QString>& attributes);

    // Sets every pair of `text` as an attribute of the parameter.
    static void apply(ParameterBase& parameter, const QString& text);
    static void apply(Properties& properties, const QString& parameterName, const QString& text);
};

}  // namespace Dravelin
