#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace Dravelin::Cli {

// Writes one JSON document to a file as it goes (no document tree in memory): a scan of
// 100,000 images would otherwise build a large QJsonDocument only to print it. Indented with
// two blanks; written in chunks of about 1 MiB.
class JsonWriter
{
public:
    explicit JsonWriter(std::FILE* file) : m_file(file) {}
    // Writes into text() instead of a file: the entries of an array open `depth` levels deep in
    // another writer, for entries() to insert there (so parts of one array can be written by
    // several threads).
    struct Entries
    {
        int depth;
    };
    explicit JsonWriter(Entries entries);
    ~JsonWriter() { finish(); }
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // Names the next value inside an object: one of this program's names, which need no escape.
    template <std::size_t N>
    JsonWriter& key(const char (&name)[N])
    {
        return plainKey(name, N - 1);
    }

    void value(const QString& text);
    void value(std::string_view utf8);
    void value(double number);
    void value(int number);
    void null();

    // Writes what is left and a final line feed (once).
    void finish();

    // How many objects and arrays are open.
    int depth() const { return static_cast<int>(m_hasEntries.size()); }
    // What a JsonWriter(Entries) wrote; empties it.
    std::string takeText() { return std::move(m_out); }
    // Appends entries written by a JsonWriter(Entries{depth()}) to the open array.
    void entries(const std::string& text);

private:
    JsonWriter& plainKey(const char* name, std::size_t size);
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
