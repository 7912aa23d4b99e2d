// NewFile: a library file (or a demo card) being made. It is written under a temporary name of
// its own beside its final name ("NAME.mlad.<random>.partial", which the library views do not
// list), held open and under an exclusive flock(2) while it is made, and moved into place by
// commit(): the file held, never whatever holds its temporary name by then, into the folder
// held open since it was created, never replacing a file that appeared under the final name
// meanwhile. Unless committed, it is removed, and only if its temporary name still holds it.
//
// A program killed while making one leaves the temporary file behind; removeAbandoned() finds
// such files by their whole name, their first bytes and their lock: a file whose maker still
// runs is locked.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace carddata {
class Stream;
}

namespace ZovaZode {

class SongArchive;

// Declare it before the SongArchive that writes it, so that the archive is closed before the
// file is removed.
class NewFile
{
public:
    // A temporary file younger than this may not have been locked by its maker yet.
    static constexpr int YoungSeconds = 60;
    // The temporary name adds "." + RandomPartLength characters of RandomPartAlphabet +
    // ".partial" to the final name. Consonants only, so that the random part never spells a
    // word, a version or a date that a person might put in a file name of their own.
    static constexpr const char *RandomPartAlphabet = "bcdfghjklmnpqrstvwxz";
    static constexpr int RandomPartLength = 8;
    static constexpr int TemporarySuffixBytes = 1 + RandomPartLength + 8;

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
    // The same, written through the card data library's stream (which commits it as it commits an
    // archive); null with `error` as above.
    std::unique_ptr<carddata::Stream> createStream(QString *error);

    // Moves the file written into place. Throws std::runtime_error, and moves nothing, when the
    // file cannot take its name, or when its temporary name or its folder no longer holds the
    // file that was written (someone who can write the folder replaced it). A file already under
    // the final name is kept (the move fails) unless `existing` says to replace it.
    enum class Existing { Keep, Replace };
    void commit(Existing existing = Existing::Keep);

    // Removes the temporary files that no running transfer owns from `folder` and, down to
    // `depth` levels, from its sub-folders, never following a link; logs and returns each path
    // removed. Only plain files with one name, a whole name of the temporary form, and content
    // that is empty or begins as what the name says it is (isAbandonedContent) are removed;
    // files younger than YoungSeconds are left alone.
    static QStringList removeAbandoned(const QString &folder, int depth);
    // Whether a whole file name is a temporary name this program gives (an archive's, a song
    // file's, the record of how one was made, or a demo card's).
    static bool isTemporaryName(const QString &fileName);
    // Whether the first bytes of the temporary file `fileName` are those of a file this program
    // was making: nothing, the archive's or card's own ID, or zeros (an archive's header is
    // written when it is closed); a record's own first line.
    static bool isAbandonedContent(const QString &fileName, const QByteArray &firstBytes);
    // How many first bytes isAbandonedContent() wants.
    static constexpr int FirstBytes = 680;

private:
    // Opens the folder the file is made in; 0 or the errno value of the failure.
    int openFolder();
    // Holds the file just created under the temporary name as `fd` and locks it.
    void hold(int fd);
    // Holds the file that its path's creation just made; false when the path holds another.
    bool holdCreated();

    QString m_path;
    QString m_partialPath;
    // The folder, as it was when the file was created, and the file written.
    int m_folder = -1;
    int m_file = -1;
    bool m_created = false;
    bool m_committed = false;
};

} // namespace ZovaZode
