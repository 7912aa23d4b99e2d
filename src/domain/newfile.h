// NewFile: a library file (or a demo card) being made. It is written under a temporary name of
// its own beside its final name ("NAME.mlad.<random>.partial", which the library views do not list), held
// under an exclusive flock(2) while it is made, moved into place by commit() without ever
// replacing a file that appeared under the final name meanwhile, and removed unless committed.
//
// A program killed while making one leaves the temporary file behind; removeAbandoned() finds
// such files by their lock: a file whose maker still runs is locked.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace ZovaZode {

class SongArchive;

// Declare it before the SongArchive that writes it, so that the archive is closed before the
// file is removed.
class NewFile
{
public:
    // A temporary file younger than this may not have been locked by its maker yet.
    static constexpr int YoungSeconds = 60;
    // The temporary name adds "." + 8 random characters + ".partial" to the final name.
    static constexpr int TemporarySuffixBytes = 17;

    explicit NewFile(const QString &path);
    ~NewFile();
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    const QString &path() const { return m_path; }
    const QString &partialPath() const { return m_partialPath; }

    // Creates the archive under the temporary name (exclusively: never over an existing file or
    // link) and locks it. Throws SongArchive::Error; when the system refused the file, the
    // text names the file and the reason.
    std::unique_ptr<SongArchive> createArchive();
    // Creates an empty file under the temporary name (exclusively) and locks it, for a writer of
    // its own; false with `error` ("<temporary path>: <reason>") when the system refused it.
    bool create(QString *error);

    // Throws std::runtime_error when the file cannot take its name.
    void commit();

    // Removes the temporary files that no running transfer owns from `folder` and, down to
    // `depth` levels, from its sub-folders, never following a link; logs and returns each path
    // removed. Files younger than YoungSeconds are left alone.
    static QStringList removeAbandoned(const QString &folder, int depth);
    // Whether a file name has the form of a temporary library file, of this version or an older one.
    static bool isTemporaryName(const QString &fileName);

private:
    void lock();

    QString m_path;
    QString m_partialPath;
    int m_lock = -1;
    bool m_created = false;
    bool m_committed = false;
};

} // namespace ZovaZode
