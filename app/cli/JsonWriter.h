#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace Dravelin::Cli {

// Writes one JSON document to a file as it goes (no document tree in memory): a scan of
// 100,000 images would otherwise build a large QJsonDocument only to print it. Indented with
// two blanks; written in chunks of about 1 MiB.
class JsonWriter
{
public:
    explicit JsonWriter(std::FILE* file) : m_file(file) {}
    ~JsonWriter() { finish(); }
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // Names the next value inside an object.
    JsonWriter& key(const char* name);

    void value(const QString& text);
    void value(double number);
    void value(int number);
    void null();

    // Writes what is left and a final line feed (once).
    void finish();

private:
    void beforeValue();
    void newline();
    void string(const char* utf8, std::size_t size);
    void flushIfLarge();

    std::FILE* m_file;
    bool m_finished = false;
    std::string m_out;
    std::string m_ascii;  // reused for ASCII texts
    struct NumberText
    {
        bool used = false;
        std::uint64_t bits = 0;
        std::string text;
    };
    std::array<NumberText, 509> m_numbers;
    // Per open container: whether it already holds an entry.
    std::vector<bool> m_hasEntries;
    bool m_afterKey = false;
};

}  // namespace Dravelin::Cli
