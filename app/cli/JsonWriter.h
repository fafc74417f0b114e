#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
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
    void reserve(std::size_t bytes) { m_out.reserve(bytes); }
    // What a JsonWriter(Entries) wrote; empties it.
    std::string takeText()
    {
        std::string text(m_out.data(), m_out.size());
        m_out.clear();
        return text;
    }
    // Appends entries written by a JsonWriter(Entries{depth()}) to the open array.
    void entries(const std::string& text);

private:
    JsonWriter& plainKey(const char* name, std::size_t size);
    void beforeValue();
    void newline();
    void string(const char* utf8, std::size_t size);
    void flushIfLarge()
    {
        if (m_file && m_out.size() >= (1u << 20))
            flush();
    }
    void flush();

    // A growing byte buffer whose appends are a bounds check and a copy: std::string's resize
    // and append cost a hundred instructions each, and a scan's output makes millions of them.
    class Buffer
    {
    public:
        char* grow(std::size_t n)
        {
            if (m_capacity - m_size < n)
                expand(n);
            char* at = m_data.get() + m_size;
            m_size += n;
            return at;
        }
        void resize(std::size_t n)
        {
            if (n > m_size)
                grow(n - m_size);
            else
                m_size = n;
        }
        void append(const char* bytes, std::size_t n)
        {
            if (n > 0)
                std::memcpy(grow(n), bytes, n);
        }
        Buffer& operator+=(char c)
        {
            *grow(1) = c;
            return *this;
        }
        Buffer& operator+=(std::string_view text)
        {
            append(text.data(), text.size());
            return *this;
        }
        char* data() { return m_data.get(); }
        std::size_t size() const { return m_size; }
        void clear() { m_size = 0; }
        void reserve(std::size_t n)
        {
            if (n > m_size)
                expand(n - m_size);
        }

    private:
        void expand(std::size_t n);

        std::unique_ptr<char[]> m_data;
        std::size_t m_size = 0;
        std::size_t m_capacity = 0;
    };

    std::FILE* m_file;
    bool m_finished = false;
    Buffer m_out;
    std::string m_ascii;  // reused for ASCII texts
    struct NumberText
    {
        bool used = false;
        std::uint64_t bits = 0;
        std::string text;
    };
    std::array<NumberText, 509> m_numbers;
    // Per open container: whether it already holds an entry.
    std::vector<char> m_hasEntries;
    bool m_afterKey = false;
};

}  // namespace Dravelin::Cli
