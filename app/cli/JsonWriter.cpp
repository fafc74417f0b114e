#include "app/cli/JsonWriter.h"

#include <QLocale>

#include <cmath>

namespace Dravelin::Cli {

void JsonWriter::newline()
{
    m_out += '\n';
    m_out.append(2 * m_hasEntries.size(), ' ');
}

void JsonWriter::beforeValue()
{
    flushIfLarge();
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (m_hasEntries.empty())
        return;
    if (m_hasEntries.back())
        m_out += ',';
    m_hasEntries.back() = true;
    newline();
}

JsonWriter& JsonWriter::key(const char* name)
{
    beforeValue();
    string(QByteArray(name));
    m_out += ": ";
    m_afterKey = true;
    return *this;
}

void JsonWriter::beginObject()
{
    beforeValue();
    m_out += '{';
    m_hasEntries.push_back(false);
}

void JsonWriter::endObject()
{
    const bool hadEntries = m_hasEntries.back();
    m_hasEntries.pop_back();
    if (hadEntries)
        newline();
    m_out += '}';
}

void JsonWriter::beginArray()
{
    beforeValue();
    m_out += '[';
    m_hasEntries.push_back(false);
}

void JsonWriter::endArray()
{
    const bool hadEntries = m_hasEntries.back();
    m_hasEntries.pop_back();
    if (hadEntries)
        newline();
    m_out += ']';
}

void JsonWriter::string(const QByteArray& utf8)
{
    static const char hex[] = "0123456789abcdef";
    m_out += '"';
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': m_out += "\\\""; break;
            case '\\': m_out += "\\\\"; break;
            case '\n': m_out += "\\n"; break;
            case '\r': m_out += "\\r"; break;
            case '\t': m_out += "\\t"; break;
            default:
                if (u < 0x20) {
                    m_out += "\\u00";
                    m_out += hex[u >> 4];
                    m_out += hex[u & 0xF];
                } else {
                    m_out += c;  // UTF-8 passes through unchanged
                }
        }
    }
    m_out += '"';
}

void JsonWriter::value(const QString& text)
{
    beforeValue();
    string(text.toUtf8());
}

void JsonWriter::value(double number)
{
    beforeValue();
    if (!std::isfinite(number)) {  // JSON has no NaN or infinity
        m_out += "null";
        return;
    }
    m_out += QByteArray::number(number, 'g', QLocale::FloatingPointShortest).toStdString();
}

void JsonWriter::value(int number)
{
    beforeValue();
    m_out += std::to_string(number);
}

void JsonWriter::null()
{
    beforeValue();
    m_out += "null";
}

void JsonWriter::flushIfLarge()
{
    if (m_out.size() < (1u << 20))
        return;
    std::fwrite(m_out.data(), 1, m_out.size(), m_file);
    m_out.clear();
}

void JsonWriter::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_out += '\n';
    std::fwrite(m_out.data(), 1, m_out.size(), m_file);
    m_out.clear();
    std::fflush(m_file);
}

}  // namespace Dravelin::Cli
