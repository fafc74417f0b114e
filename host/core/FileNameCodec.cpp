#include "host/core/FileNameCodec.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace Dravelin {

namespace {

constexpr char16_t EscapeBase = 0xDC00;  // U+DC80..U+DCFF stand for the bytes 0x80..0xFF

// Length of the valid UTF-8 sequence at `in`, 0 when it is invalid, -1 when it is cut short
// by the end of the input. Overlong forms and encoded surrogates are invalid.
int sequenceLength(const unsigned char* in, int length, char32_t& code)
{
    const unsigned char lead = in[0];
    int size = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    for (int i = 1; i < size; ++i) {
        if (i >= length)
            return -1;
        if ((in[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (in[i] & 0x3F);
        // Reject as soon as the prefix decides it, so a cut-short sequence is never wrongly held back.
        if (i == 1 && ((size == 3 && code < 0x20) || (size == 3 && code >= 0x360 && code < 0x380) ||
                       (size == 4 && (code < 0x10 || code > 0x10F))))
            return 0;
    }
    return size;
}

}  // namespace

void FileNameCodec::install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (QTextCodec::codecForLocale()->mibEnum() != 106)
            return;
        // Registered with Qt, which owns every codec until the end of the process.
        QTextCodec::setCodecForLocale(new FileNameCodec);
    });
}

std::string FileNameCodec::escaped(const std::string& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string result;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const int length = static_cast<int>(bytes.size());
    for (int i = 0; i < length;) {
        char32_t code = 0;
        const int size = sequenceLength(in + i, length - i, code);
        if (size > 0) {
            result.append(bytes, std::size_t(i), std::size_t(size));
            i += size;
        } else {
            result += "\\x";
            result += hex[in[i] >> 4];
            result += hex[in[i] & 0x0F];
            ++i;
        }
    }
    return result;
}

QString FileNameCodec::escaped(const QString& text)
{
    QString result;
    for (const QChar c : text) {
        if (c.unicode() >= EscapeBase + 0x80 && c.unicode() <= EscapeBase + 0xFF)
            result += QStringLiteral("\\x") + QString::number(c.unicode() - EscapeBase, 16).toUpper();
        else
            result += c;
    }
    return result;
}

QByteArray FileNameCodec::name() const
{
    return QByteArrayLiteral("UTF-8-FileNames");
}

int FileNameCodec::mibEnum() const
{
    // Private range: not a registered character set of its own.
    return -1106;
}

QString FileNameCodec::convertToUnicode(const char* in, int length, ConverterState* state) const
{
    // A sequence cut by the end of one chunk waits in the state for the next.
    QByteArray pending;
    if (state && state->remainingChars > 0) {
        pending = QByteArray(reinterpret_cast<const char*>(state->state_data), state->remainingChars);
        pending.append(in, length);
        in = pending.constData();
        length = pending.size();
        state->remainingChars = 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(in);
    // Most names are ASCII, which reads as Latin-1 (a folder scan decodes one per file).
    if (std::all_of(bytes, bytes + length, [](unsigned char c) { return c < 0x80; }))
        return QString::fromLatin1(in, length);
    QString result;
    result.reserve(length);
    for (int i = 0; i < length;) {
        char32_t code = 0;
        const int size = sequenceLength(bytes + i, length - i, code);
        if (size == -1 && state) {
            state->remainingChars = length - i;
            std::memcpy(state->state_data, bytes + i, std::size_t(length - i));
            break;
        }
        if (size <= 0) {
            result += QChar(char16_t(EscapeBase + bytes[i]));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            result += QChar(QChar::highSurrogate(code));
            result += QChar(QChar::lowSurrogate(code));
        } else {
            result += QChar(char16_t(code));
        }
        i += size;
    }
    return result;
}

QByteArray FileNameCodec::convertFromUnicode(const QChar* in, int length, ConverterState* state) const
{
    QByteArray result;
    result.reserve(length * 3);
    QChar high;
    if (state && state->remainingChars > 0) {
        high = QChar(char16_t(state->state_data[0]));
        state->remainingChars = 0;
    }
    auto append = [&result](char32_t code) {
        if (code < 0x80) {
            result += char(code);
        } else if (code < 0x800) {
            result += char(0xC0 | (code >> 6));
            result += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            result += char(0xE0 | (code >> 12));
            result += char(0x80 | ((code >> 6) & 0x3F));
            result += char(0x80 | (code & 0x3F));
        } else {
            result += char(0xF0 | (code >> 18));
            result += char(0x80 | ((code >> 12) & 0x3F));
            result += char(0x80 | ((code >> 6) & 0x3F));
            result += char(0x80 | (code & 0x3F));
        }
    };
    for (int i = 0; i < length; ++i) {
        const QChar c = in[i];
        if (!high.isNull()) {
            if (c.isLowSurrogate()) {
                append(QChar::surrogateToUcs4(high, c));
                high = QChar();
                continue;
            }
            result += '?';
            high = QChar();
        }
        if (c.isHighSurrogate()) {
            high = c;
        } else if (c.unicode() >= EscapeBase + 0x80 && c.unicode() <= EscapeBase + 0xFF) {
            result += char(c.unicode() - EscapeBase);
        } else if (c.isLowSurrogate()) {
            result += '?';
        } else {
            append(c.unicode());
        }
    }
    if (!high.isNull()) {
        if (state) {
            state->state_data[0] = high.unicode();
            state->remainingChars = 1;
        } else {
            result += '?';
        }
    }
    return result;
}

}  // namespace Dravelin
