// Verified transfers: the worker reads back what it wrote and compares it with the source. A
// stream that flips one byte on its way to the file stands for a card or disk that returns
// something else than it was given; verification must turn that into an error naming the place,
// remove a new library file, and report its progress as a second phase.
#include "support/cardimage.h"

#include "carddata/carddata.h"
#include "carddata/stream.h"
#include "transfer/songtransfer.h"
#include "transfer/songtransferworkerthread.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;
using Request = SongTransfer::Request;
using Endpoint = SongTransfer::Endpoint;

namespace {

constexpr int kWaitMs = 120000;
constexpr qint64 kFirstBlock = 1192;
constexpr qint64 kBlockAudio = 136840;

// Flips one byte of every write that covers `position` in files whose path ends with `suffix`.
class FlippingStream : public carddata::Stream
{
public:
    FlippingStream(std::unique_ptr<carddata::Stream> inner, qint64 position)
        : m_inner(std::move(inner)), m_target(position)
    {}
    bool seek(int64_t position) override
    {
        const bool done = m_inner->seek(position);
        if (done)
            m_position = position;
        return done;
    }
    size_t read(void *buffer, size_t size) override
    {
        const size_t count = m_inner->read(buffer, size);
        m_position += int64_t(count);
        return count;
    }
    size_t write(const void *buffer, size_t size) override
    {
        size_t count = 0;
        if (m_target >= m_position && m_target < m_position + int64_t(size)) {
            QByteArray changed(static_cast<const char *>(buffer), int(size));
            changed[int(m_target - m_position)] = char(changed[int(m_target - m_position)] ^ 0x10);
            count = m_inner->write(changed.constData(), size);
        } else {
            count = m_inner->write(buffer, size);
        }
        m_position += int64_t(count);
        return count;
    }
    int64_t size() override { return m_inner->size(); }
    bool flush() override { return m_inner->flush(); }
    bool commit() override { return m_inner->commit(); }
    bool close() override { return m_inner->close(); }

private:
    std::unique_ptr<carddata::Stream> m_inner;
    int64_t m_target;
    int64_t m_position = 0;
};

// `pattern`: the written file's name, with wildcards.
void corruptWrites(const QString &pattern, qint64 position)
{
    carddata::setStreamOpener([pattern, position](const std::string &path, carddata::OpenMode mode) {
        std::unique_ptr<carddata::Stream> stream = carddata::openFileStream(path, mode);
        const bool matches = QDir::match(pattern, QFileInfo(QFile::decodeName(path.c_str())).fileName());
        if (!stream || !matches || mode == carddata::OpenMode::Read)
            return stream;
        return std::unique_ptr<carddata::Stream>(
            std::make_unique<FlippingStream>(std::move(stream), position));
    });
}

enum class Kind { ArchiveCard, ArchiveSong, RestoreCard, RestoreSong };

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestTransferVerify : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void corruptedWriteIsCaught_data();
    void corruptedWriteIsCaught();

private:
    std::shared_ptr<Request> makeRequest(Kind kind) const;
    // Runs one request to its end; true when it finished, false on error.
    bool run(const std::shared_ptr<Request> &request, QVector<float> *fractions);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CardImage> m_card;
    QString m_library;
    QString m_cardArchive;
    QString m_songFile;
    std::unique_ptr<SongTransferWorkerThread> m_thread;
    std::unique_ptr<SongTransfer> m_transfer;
};

void TestTransferVerify::init()
{
    m_dir = std::make_unique<QTemporaryDir>(scratchFolderTemplate());
    QVERIFY(m_dir->isValid());
    m_library = m_dir->filePath(QStringLiteral("library"));
    QVERIFY(QDir().mkpath(m_library));
    m_card = std::make_unique<CardImage>(m_dir->path());
    m_card->create();
    for (int song = 0; song < 12; ++song)
        m_card->writeSong(song, sampleSong(song, 3));

    // The sources of the restores, made by the library before any fault is installed.
    m_cardArchive = m_dir->filePath(QStringLiteral("source.mlad"));
    m_songFile = m_dir->filePath(QStringLiteral("source.mlsd"));
    std::unique_ptr<SdCardHandle, SdCardHandleCloser> card(
        mlsdOpenSDCard(QFile::encodeName(m_card->path()).constData(), 0));
    QVERIFY(card);
    ArchiveHandle *archive = mlsdOpenArchiveW(m_cardArchive.toStdWString().c_str(), 1, 1);
    QVERIFY(archive);
    QCOMPARE(mlsdArchiveSDCard(card.get(), archive, nullptr), 0);
    QCOMPARE(mlsdCloseArchive(archive), 0);
    archive = mlsdOpenArchiveW(m_songFile.toStdWString().c_str(), 1, 1);
    QVERIFY(archive);
    QCOMPARE(mlsdArchiveSong(card.get(), archive, 10, nullptr), 0);
    QCOMPARE(mlsdCloseArchive(archive), 0);

    m_thread = std::make_unique<SongTransferWorkerThread>();
    m_thread->start();
    m_transfer = std::make_unique<SongTransfer>(m_thread->worker());
}

void TestTransferVerify::cleanup()
{
    m_thread.reset();
    m_transfer.reset();
    carddata::setStreamOpener(nullptr);
    m_card.reset();
    m_dir.reset();
}

std::shared_ptr<Request> TestTransferVerify::makeRequest(Kind kind) const
{
    auto request = std::make_shared<Request>();
    const auto set = [](Endpoint &endpoint, qint32 endpointKind, const QString &path, qint32 song) {
        endpoint.kind = endpointKind;
        endpoint.path = path;
        endpoint.song = song;
    };
    switch (kind) {
    case Kind::ArchiveCard:
        set(request->source, Endpoint::Card, m_card->path(), Endpoint::WholeCard);
        set(request->destination, Endpoint::ArchiveFile, m_library + QStringLiteral("/copy.mlad"),
            Endpoint::WholeCard);
        break;
    case Kind::ArchiveSong:
        set(request->source, Endpoint::Card, m_card->path(), 2);
        set(request->destination, Endpoint::ArchiveFile, m_library + QStringLiteral("/copy.mlsd"), -1);
        break;
    case Kind::RestoreCard:
        set(request->source, Endpoint::ArchiveFile, m_cardArchive, Endpoint::WholeCard);
        set(request->destination, Endpoint::Card, m_card->path(), Endpoint::WholeCard);
        break;
    case Kind::RestoreSong:
        set(request->source, Endpoint::ArchiveFile, m_songFile, 0);
        set(request->destination, Endpoint::Card, m_card->path(), 7);
        break;
    }
    return request;
}

bool TestTransferVerify::run(const std::shared_ptr<Request> &request, QVector<float> *fractions)
{
    QSignalSpy finished(m_transfer.get(), &SongTransfer::finished);
    QSignalSpy failed(m_transfer.get(), &SongTransfer::error);
    const QMetaObject::Connection connection =
        connect(m_transfer.get(), &SongTransfer::progress, this,
                [fractions](int, float fraction, Request *) { fractions->append(fraction); });
    m_transfer->submit(request);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(finished.count() + failed.count() == 1, kWaitMs); }();
    disconnect(connection);
    return finished.count() == 1;
}

void TestTransferVerify::corruptedWriteIsCaught_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("corrupted");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QString>("where");

    // clang-format off
    QTest::newRow("archive card audio")  << Kind::ArchiveCard << "copy.mlad.*.partial" << kFirstBlock + kBlockAudio + 100        << "song 1, part 1, looper audio at byte 100";
    QTest::newRow("archive card prefs")  << Kind::ArchiveCard << "copy.mlad.*.partial" << qint64(680 + 30)                       << "user preferences";
    QTest::newRow("archive song data")   << Kind::ArchiveSong << "copy.mlsd.*.partial" << kFirstBlock + 136 + 300                << "song 3, song data";
    QTest::newRow("archive song audio")  << Kind::ArchiveSong << "copy.mlsd.*.partial" << kFirstBlock + kBlockAudio + 30000      << "song 3, part 2, looper audio at byte 4,400";
    QTest::newRow("restore card looper") << Kind::RestoreCard << "ZOVAZODE.DAT"      << CardImage::looperPosition(4, 1) + 20   << "song 5, part 2, looper record";
    QTest::newRow("restore card audio")  << Kind::RestoreCard << "ZOVAZODE.DAT"      << CardImage::audioPosition(6, 0) + 1000  << "song 7, part 1, looper audio at byte 1,000";
    QTest::newRow("restore song part")   << Kind::RestoreSong << "ZOVAZODE.DAT"      << CardImage::partDataPosition(7, 3) + 7  << "song 8, part 4, part data";
    QTest::newRow("restore song audio")  << Kind::RestoreSong << "ZOVAZODE.DAT"      << CardImage::audioPosition(7, 1) + 40959 << "song 8, part 2, looper audio at byte 40,959";
    // clang-format on
}

void TestTransferVerify::corruptedWriteIsCaught()
{
    QFETCH(Kind, kind);
    QFETCH(QString, corrupted);
    QFETCH(qint64, position);
    QFETCH(QString, where);
    const bool newFile = kind == Kind::ArchiveCard || kind == Kind::ArchiveSong;

    // Unverified, the fault goes unnoticed: the test really injects one.
    corruptWrites(corrupted, position);
    auto unverified = makeRequest(kind);
    QVector<float> fractions;
    QVERIFY(run(unverified, &fractions));
    QCOMPARE(unverified->phase.load(), 0);
    for (int i = 1; i < fractions.size(); ++i)
        QVERIFY2(fractions[i] >= fractions[i - 1], "the progress of one phase never goes back");
    if (newFile) {
        QVERIFY(QFile::remove(makeRequest(kind)->destination.path));
    }

    // Without the fault, verification passes and reports a second phase.
    carddata::setStreamOpener(nullptr);
    if (!newFile)
        m_card->create();
    auto clean = makeRequest(kind);
    clean->verify = true;
    fractions.clear();
    QVERIFY2(run(clean, &fractions), qPrintable(clean->errorText));
    QCOMPARE(clean->phase.load(), 1);
    int restarts = 0;
    for (int i = 1; i < fractions.size(); ++i)
        restarts += fractions[i] < fractions[i - 1] ? 1 : 0;
    QCOMPARE(restarts, 1);
    if (newFile) {
        QVERIFY(QFile::remove(clean->destination.path));
    }

    // With it, the request fails with the place, and no library file is left.
    corruptWrites(corrupted, position);
    auto verified = makeRequest(kind);
    verified->verify = true;
    fractions.clear();
    QVERIFY(!run(verified, &fractions));
    QCOMPARE(verified->errorText,
             QStringLiteral("Verification failed: ") + where + " differs from the original.");
    QCOMPARE(verified->phase.load(), 1);
    QCOMPARE(QDir(m_library).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(TestTransferVerify)
#include "tst_transferverify.moc"
