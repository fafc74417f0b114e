#include "app/cli/JsonWriter.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace Dravelin::Cli {

JsonWriter::JsonWriter(Entries entries) : m_file(nullptr), m_finished(true)
{
    m_hasEntries.assign(static_cast<std::size_t>(entries.depth), true);
    if (!m_hasEntries.empty())
        m_hasEntries.back() = false;
}

void JsonWriter::entries(const std::string& text)
{
    if (text.empty())
        return;
    if (m_hasEntries.back())
        m_out += ',';
    m_hasEntries.back() = true;
    if (!m_file) {
        m_out += text;
        return;
    }
    // Written as it is: copying parts of hundreds of KiB into the buffer cost more than the writing.
    std::fwrite(m_out.data(), 1, m_out.size(), m_file);
    m_out.clear();
    std::fwrite(text.data(), 1, text.size(), m_file);
}

void JsonWriter::Buffer::expand(std::size_t n)
{
    const std::size_t capacity = std::max({2 * m_capacity, m_size + n, std::size_t(4096)});
    std::unique_ptr<char[]> data(new char[capacity]);
    if (m_size > 0)
        std::memcpy(data.get(), m_data.get(), m_size);
    m_data = std::move(data);
    m_capacity = capacity;
}

void JsonWriter::newline()
{
    const std::size_t indent = 2 * m_hasEntries.size();
    char* out = m_out.grow(1 + indent);
    *out++ = '\n';
    std::memset(out, ' ', indent);
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

// One growth of the buffer per key, separator and indent included: a scan writes twenty keys
// per image.
JsonWriter& JsonWriter::plainKey(const char* name, std::size_t size)
{
    char* out = nullptr;
    if (m_afterKey || m_hasEntries.empty()) {
        beforeValue();
        out = m_out.grow(size + 4);
    } else {
        flushIfLarge();
        const bool comma = m_hasEntries.back();
        m_hasEntries.back() = true;
        const std::size_t indent = 2 * m_hasEntries.size();
        out = m_out.grow(std::size_t(comma) + 1 + indent + size + 4);
        if (comma)
            *out++ = ',';
        *out++ = '\n';
        std::memset(out, ' ', indent);
        out += indent;
    }
    *out++ = '"';
    std::memcpy(out, name, size);
    std::memcpy(out + size, "\": ", 3);
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

void JsonWriter::string(const char* utf8, std::size_t size)
{
    static const char hex[] = "0123456789abcdef";
    m_out += '"';
    // Runs that need no escape are copied whole.
    const auto plain = [](char c) { return c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20; };
    for (std::size_t i = 0; i < size;) {
        std::size_t end = i;
        while (end < size && plain(utf8[end]))
            ++end;
        m_out.append(utf8 + i, end - i);
        if (end == size)
            break;
        i = end + 1;
        const char c = utf8[end];
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': m_out += "\\\""; break;
            case '\\': m_out += "\\\\"; break;
            case '\n': m_out += "\\n"; break;
            case '\r': m_out += "\\r"; break;
            case '\t': m_out += "\\t"; break;
            default:  // the other control characters
                m_out += "\\u00";
                m_out += hex[u >> 4];
                m_out += hex[u & 0xF];
        }
    }
    m_out += '"';
}

void JsonWriter::value(const QString& text)
{
    beforeValue();
    const QChar* chars = text.constData();
    const int size = text.size();
    // Most texts are printable ASCII without quotes: copied as they are, in one pass.
    const std::size_t start = m_out.size();
    m_out.resize(start + std::size_t(size) + 2);
    char* out = m_out.data() + start;
    *out++ = '"';
    int i = 0;
    for (; i < size; ++i) {
        const ushort u = chars[i].unicode();
        if (u >= 0x80 || u < 0x20 || u == '"' || u == '\\')
            break;
        out[i] = char(u);
    }
    if (i == size) {
        out[i] = '"';
        return;
    }
    m_out.resize(start);
    // ASCII with escapes: written without a UTF-8 copy first.
    if (std::all_of(chars, chars + size, [](QChar c) { return c.unicode() < 0x80; })) {
        m_ascii.resize(static_cast<std::size_t>(size));
        std::transform(chars, chars + size, m_ascii.begin(), [](QChar c) { return static_cast<char>(c.unicode()); });
        string(m_ascii.data(), m_ascii.size());
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

void JsonWriter::value(std::string_view utf8)
{
    beforeValue();
    string(utf8.data(), utf8.size());
}

void JsonWriter::value(double number)
{
    beforeValue();
    if (!std::isfinite(number)) {  // JSON has no NaN or infinity
        m_out += "null";
        return;
    }
    // Coordinates repeat from image to image: their text is remembered.
    std::uint64_t bits = 0;
    std::memcpy(&bits, &number, sizeof bits);
    NumberText& cached = m_numbers[(bits ^ bits >> 29 ^ bits >> 47) % m_numbers.size()];
    if (!cached.used || cached.bits != bits) {
        const QByteArray text = QByteArray::number(number, 'g', QLocale::FloatingPointShortest);
        cached.used = true;
        cached.bits = bits;
        cached.text.assign(text.constData(), static_cast<std::size_t>(text.size()));
    }
    m_out += cached.text;
}

void JsonWriter::value(int number)
{
    beforeValue();
    char text[16];
    const auto end = std::to_chars(text, text + sizeof text, number).ptr;
    m_out.append(text, std::size_t(end - text));
}

void JsonWriter::null()
{
    beforeValue();
    m_out += "null";
}

void JsonWriter::flush()
{
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
