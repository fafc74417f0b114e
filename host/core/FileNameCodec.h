#pragma once

#include <QString>
#include <QTextCodec>

#include <string>

namespace Dravelin {

// The locale codec for UTF-8 systems that keeps every file name: bytes that are not UTF-8
// decode to U+DC80..U+DCFF and encode back to the same byte, so QFile::decodeName and
// QFile::encodeName round-trip any name the file system hands out (Qt's own UTF-8 codec
// turns them into U+FFFD, and such a file can then never be opened again).
//
// Paths kept in std::string are file system bytes (QFile::encodeName); text meant for people
// goes through escaped(), which shows a byte that is not UTF-8 as "\xE9".
class FileNameCodec : public QTextCodec
{
public:
    // Makes this the codec for the locale when the locale's codec is UTF-8. Idempotent.
    static void install();

    // The bytes that are not UTF-8 written as \xHH; valid text is returned unchanged.
    static std::string escaped(const std::string& bytes);
    // U+DC80..U+DCFF (bytes kept by this codec) written as \xHH.
    static QString escaped(const QString& text);

    QByteArray name() const override;
    int mibEnum() const override;

protected:
    QString convertToUnicode(const char* in, int length, ConverterState* state) const override;
    QByteArray convertFromUnicode(const QChar* in, int length, ConverterState* state) const override;
};

}  // namespace Dravelin
