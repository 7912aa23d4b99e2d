// NewFile: a library file being made. It is written under its final name + ".partial", moved
// into place by commit() without ever replacing a file that appeared under the final name
// meanwhile, and removed unless committed.
#pragma once

#include <QString>

namespace ZovaZode {

// Declare it before the SongArchive that writes it, so that the archive is closed before the
// file is removed.
class NewFile
{
public:
    explicit NewFile(const QString &path);
    ~NewFile();
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    const QString &partialPath() const { return m_partialPath; }

    // Throws std::runtime_error when the file cannot take its name.
    void commit();

private:
    QString m_path;
    QString m_partialPath;
    bool m_committed = false;
};

} // namespace ZovaZode
