// Library folders for the library model, view and dialog tests: card archives and song files
// built byte by byte in a temporary folder, readers of what ended up in them, a library model
// waiting for its folder to load, and a log recorder for the retry counts.
#pragma once

#include "domain/songarchive.h"
#include "models/librarydatamodel.h"
#include "models/sortedlibrarymodel.h"
#include "support/archivebuilder.h"
#include "support/cardimage.h"
#include "support/records.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <type_traits>

namespace ZovaZode::TestSupport {

// A part record whose partState is `state`: 0 empty, 1 normal, 2 intense, 3 looper.
inline QByteArray partWithState(int state, quint32 seed)
{
    PartFields fields;
    fields.inUse = state == 0 ? 0 : 1;
    fields.count = state == 0 ? 0 : 3;
    fields.intense = state == 2 ? 1 : 0;
    fields.looperFlag = state == 3 ? 1 : 0;
    fields.seed = seed;
    return partData(fields);
}

inline SongRecords namedSong(int song, const QByteArray &name, const QByteArray &description = "A song",
                             const QVector<int> &states = {0, 0, 0, 0, 0})
{
    SongRecords records = emptySong(song, 1);
    SongFields fields;
    fields.name = name;
    fields.description = description;
    fields.seed = quint32(song) + 7;
    records.song = songData(fields);
    for (int part = 0; part < 5; ++part)
        records.parts[part] = partWithState(states.value(part), quint32(song * 5 + part));
    return records;
}

inline QByteArray textField(const QByteArray &text, int size)
{
    QByteArray field(size, '\0');
    putText(field, 0, size, text);
    return field;
}

// A card archive; with 12 songs and user prefs it is complete.
inline void writeArchive(const QString &path, const QByteArray &name,
                         const QByteArray &description = "An archive", int songs = 12, bool userPrefs = true)
{
    ArchiveBuilder builder;
    builder.setNameField(textField(name, 128));
    builder.setDescriptionField(textField(description, 384));
    if (userPrefs)
        builder.setUserPrefs(TestSupport::userPrefs());
    for (int song = 0; song < songs; ++song)
        builder.addSong(namedSong(song, "Song " + QByteArray::number(song + 1)));
    builder.write(path);
}

// A song file holding one song (none when `name` is null).
inline void writeSongFile(const QString &path, const QByteArray &name,
                          const QByteArray &description = "A song")
{
    ArchiveBuilder builder;
    if (!name.isNull())
        builder.addSong(namedSong(0, name, description));
    builder.write(path);
}

inline void writeGarbage(const QString &path, const QByteArray &bytes = "not an archive")
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// What is stored inside a file: the archive's name for ".mlad", the first song's for ".mlsd".
inline QString storedName(const QString &path)
{
    SongArchive archive(path, 0, 0);
    if (path.endsWith(QLatin1String(".mlsd")))
        return archive.songInfo(0).name;
    return archive.name();
}

inline QString storedDescription(const QString &path)
{
    SongArchive archive(path, 0, 0);
    if (path.endsWith(QLatin1String(".mlsd")))
        return archive.songInfo(0).description;
    return archive.description();
}

inline QStringList fileNames(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// One library item record of the drag formats, laid out by hand: type, then the path as a
// byte count and UTF-16 code units, all big-endian.
inline QByteArray itemRecord(qint32 type, const QString &path)
{
    QByteArray bytes;
    auto put32 = [&bytes](quint32 value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.append(char((value >> shift) & 0xff));
    };
    put32(quint32(type));
    put32(quint32(path.size() * 2));
    for (const QChar c : path) {
        bytes.append(char(c.unicode() >> 8));
        bytes.append(char(c.unicode() & 0xff));
    }
    return bytes;
}

// Sets the root path and waits until the file system model has listed the folder (it gathers
// in its own thread).
template<typename Model> void openLibrary(Model &model, const QString &folder, int rows)
{
    LibraryDataModel *library = nullptr;
    if constexpr (std::is_same_v<Model, LibraryDataModel>)
        library = &model;
    else
        library = model.libraryModel();
    QSignalSpy loaded(library->fileSystemModel(), &QFileSystemModel::directoryLoaded);
    model.setRootPath(folder);
    QTRY_VERIFY(loaded.count() > 0);
    QTRY_COMPARE(model.rowCount(model.index(folder)), rows);
}

// Records the log lines written while it lives, and passes them on.
class LogRecorder
{
public:
    LogRecorder()
    {
        s_lines = &m_lines;
        m_previous = qInstallMessageHandler(&LogRecorder::handle);
        s_previous = m_previous;
    }
    ~LogRecorder()
    {
        qInstallMessageHandler(m_previous);
        s_lines = nullptr;
    }

    int count(const QString &start, const QString &containing = QString()) const
    {
        int n = 0;
        for (const QString &line : m_lines)
            n += line.startsWith(start) && line.contains(containing) ? 1 : 0;
        return n;
    }
    const QStringList &lines() const { return m_lines; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (s_lines)
            s_lines->append(message);
        if (type != QtDebugMsg && s_previous)
            s_previous(type, context, message);
    }

    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
    static inline QStringList *s_lines = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
};

} // namespace ZovaZode::TestSupport
