#include "host/app/AttributeText.h"

#include "host/properties/Parameter.h"
#include "host/properties/Properties.h"
#include "host/core/Log.h"

#include <QRegularExpression>

namespace Dravelin {

QMap<QString, QString> AttributeText::parse(const QString& text, bool* ok)
{
    QMap<QString, QString> result;
    const int n = text.size();
    int i = 0;
    auto skipSpaces = [&] {
        while (i < n && text[i].isSpace())
            ++i;
    };
    auto fail = [&](const QString& why) {
        Log::log(3, "Properties", "Invalid attribute text \"" + text + "\": " + why);
        if (ok)
            *ok = false;
        return result;
    };

    skipSpaces();
    while (i < n) {
        const int colon = text.indexOf(':', i);
        if (colon < 0)
            return fail(QStringLiteral("missing ':' after a key"));
        const QString key = text.mid(i, colon - i).trimmed();
        if (key.isEmpty())
            return fail(QStringLiteral("empty key"));
        i = colon + 1;
        skipSpaces();
        QString value;
        if (i < n && text[i] == '\'') {
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == '\'') {
                    if (i + 1 < n && text[i + 1] == '\'') {
                        value += '\'';
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                return fail(QStringLiteral("unterminated quote"));
            skipSpaces();
            if (i < n && text[i] != ',')
                return fail(QStringLiteral("text after a quoted value"));
        } else {
            const int comma = text.indexOf(',', i);
            const int end = comma < 0 ? n : comma;
            value = text.mid(i, end - i).trimmed();
            i = end;
        }
        result.insert(key, value);
        if (i < n)
            ++i;  // the comma
        skipSpaces();
    }
    if (ok)
        *ok = true;
    return result;
}

QString AttributeText::format(const QMap<QString, QString>& attributes)
{
    static const QRegularExpression bare(QStringLiteral("^[A-Za-z0-9_.+-]+$"));
    QStringList parts;
    for (auto it = attributes.begin(); it != attributes.end(); ++it) {
        QString value = it.value();
        if (!bare.match(value).hasMatch())
            value = "'" + value.replace("'", "''") + "'";
        parts << it.key() + ": " + value;
    }
    return parts.join(QStringLiteral(", "));
}

void AttributeText::apply(ParameterBase& parameter, const QString& text)
{
    const QMap<QString, QString> pairs = parse(text);
    for (auto it = pairs.begin(); it != pairs.end(); ++it)
        parameter.setAttribute(it.key(), it.value());
}

void AttributeText::apply(Properties& properties, const QString& parameterName, const QString& text)
{
    const QMap<QString, QString> pairs = parse(text);
    for (auto it = pairs.begin(); it != pairs.end(); ++it)
        properties.setParamAttribute(parameterName, it.key(), it.value());
}

}  // namespace Dravelin
