#pragma once

#include "tests/support/TestEnvironment.h"

#include <QString>

namespace Dravelin::Test {

// A file system of a few KiB (tmpfs) mounted on a fresh folder, to run writers into a full
// disk; unmounted when the object goes away. Mounting needs root: mounted() tells whether
// it worked, and tests skip otherwise.
class SmallFileSystem
{
public:
    explicit SmallFileSystem(int kib);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.file(name); }
    // Fills the file system with a file of its own until `bytesLeft` (whole pages) are free.
    bool leaveFree(long long bytesLeft);

private:
    TempDir m_dir;
    bool m_mounted = false;
};

}  // namespace Dravelin::Test
