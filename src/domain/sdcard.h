// One open card data file: its header (name and description) in memory, its song and part
// records as SongInfo and PartInfo, clearing songs, and noticing when the card is pulled.
// Every failure of the card data library becomes an SdCard::Error.
#pragma once

#include "carddata/carddata.h"
#include "domain/cardrecords.h"
#include "domain/verification.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <exception>
#include <memory>
#include <string>

namespace ZovaZode {

class SongArchive;

class SdCard : public QObject, public std::enable_shared_from_this<SdCard>
{
    Q_OBJECT
    Q_PROPERTY(QString path READ path NOTIFY pathChanged)
    Q_PROPERTY(bool isOpen READ isOpen)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString description READ description WRITE setDescription NOTIFY descriptionChanged)

public:
    class Error : public std::exception
    {
    public:
        explicit Error(std::string message) : m_message(std::move(message)) {}
        const char *what() const noexcept override { return m_message.c_str(); }

    private:
        std::string m_message;
    };

    explicit SdCard(QObject *parent = nullptr);
    ~SdCard() override;

    // writable: 1 opens for writing, anything else for reading only.
    bool open(const QString &path, int writable);

    bool isOpen() const;
    bool isWritable() const;
    QString path() const;

    QString name() const;
    QString description() const;
    void setName(const QString &name);
    void setDescription(const QString &description);

    void writeHeader();
    void flush();
    // Re-reads the header after another SdCard object wrote the same card.
    void refresh();

    SongInfo songInfo(int song) const;
    PartInfo partInfo(int song, int part) const;
    void setSongInfo(int song, const SongInfo &info);
    void clearSong(int song, const QString &name);

    static int songCount();
    static bool testWritable(const QString &path);

    // Verification of what this object writes to the card. recordWrites() keeps a digest of every
    // write from now until the card is opened again (nothing when no card is open);
    // verifyWrites(), once the card is closed and so committed, reads each written range back
    // from the card with its cached pages dropped. songCount: 12 to report progress song by song,
    // 0 for one figure. False when `progress` asked to stop; throws "Verification failed: ...".
    void recordWrites();
    bool verifyWrites(int songCount, const VerifyProgress &progress) const;

public slots:
    void close();

signals:
    void opened();
    void closed();
    void openStateChanged(bool isOpen);
    void pathChanged(QString path);
    void nameChanged(QString name);
    void descriptionChanged(QString description);

private slots:
    void checkEjected();

private:
    friend class SongArchive;

    void requireOpen() const;
    void commit(const char *prefix);
    // Drops the handle without writing and tells everyone the card is closed.
    void releaseHandle();

    QString m_path;
    std::unique_ptr<SdCardHandle, SdCardHandleCloser> m_handle;
    // What recordWrites() keeps; it outlives the handle so that the card can be closed first.
    std::shared_ptr<carddata::WriteDigest> m_digest;
    QString m_digestPath;
    CardMemoryMap m_digestMap{};
    QTimer m_timer;
};

} // namespace ZovaZode
