// Verified transfers through the worker: what a request writes is read back from its destination
// once committed. A stream that flips one byte on its way to the file stands for a card or disk
// that stores something else than it was given: the request must fail naming the place and
// leave no library file. A stop asked for while reading back leaves the result complete and
// kept, and the request says it was not checked.
#include "support/cardimage.h"

#include "carddata/carddata.h"
#include "carddata/stream.h"
#include "transfer/songtransfer.h"
#include "transfer/songtransferworkerthread.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;
using Request = SongTransfer::Request;
using Endpoint = SongTransfer::Endpoint;
using Verification = Request::Verification;

namespace {

constexpr int kWaitMs = 120000;
constexpr qint64 kFirstBlock = 1192;
constexpr qint64 kBlockAudio = 136840;

// Passes calls on; flips the byte at `flip` in what is written, and runs `onRead` before reads.
class TestStream : public carddata::Stream
{
public:
    TestStream(std::unique_ptr<carddata::Stream> inner, qint64 flip, std::function<void()> onRead)
        : m_inner(std::move(inner)), m_flip(flip), m_onRead(std::move(onRead))
    {}
    bool seek(int64_t position) override
    {
        m_position = position;
        return m_inner->seek(position);
    }
    size_t read(void *buffer, size_t size) override
    {
        if (m_onRead)
            m_onRead();
        const size_t count = m_inner->read(buffer, size);
        m_position += int64_t(count);
        return count;
    }
    size_t write(const void *buffer, size_t size) override
    {
        QByteArray bytes(static_cast<const char *>(buffer), int(size));
        if (m_flip >= m_position && m_flip < m_position + int64_t(size))
            bytes[int(m_flip - m_position)] = char(bytes[int(m_flip - m_position)] ^ 0x10);
        const size_t count = m_inner->write(bytes.constData(), size);
        m_position += int64_t(count);
        return count;
    }
    int64_t size() override { return m_inner->size(); }
    bool flush() override { return m_inner->flush(); }
    bool commit() override { return m_inner->commit(); }
    bool dropCache(int64_t position, int64_t size) override { return m_inner->dropCache(position, size); }
    bool close() override { return m_inner->close(); }

private:
    std::unique_ptr<carddata::Stream> m_inner;
    int64_t m_flip;
    int64_t m_position = 0;
    std::function<void()> m_onRead;
};

enum class Kind { ArchiveCard, ArchiveSong, RestoreCard, RestoreSong };

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestTransferVerify : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void verifiedTransfer_data();
    void verifiedTransfer();

private:
    std::shared_ptr<Request> makeRequest(Kind kind, const QString &name) const;

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

    // The sources of the restores, made before any fault is installed.
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

std::shared_ptr<Request> TestTransferVerify::makeRequest(Kind kind, const QString &name) const
{
    auto request = std::make_shared<Request>();
    request->verify = true;
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
    request->destination.name = name;
    return request;
}

void TestTransferVerify::verifiedTransfer_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("name");   // the destination's new name
    QTest::addColumn<qint64>("flipped"); // a byte changed on its way to the destination, or -1
    QTest::addColumn<bool>("stop");      // the user asks to stop once the read-back began
    QTest::addColumn<QString>("where");  // what the request reports as different
    const qint64 none = -1;
    // clang-format off
    QTest::newRow("archive card")           << Kind::ArchiveCard << ""        << none                                     << false << "";
    QTest::newRow("archive card, stopped")  << Kind::ArchiveCard << "Renamed" << none                                     << true  << "";
    QTest::newRow("archive card audio")     << Kind::ArchiveCard << ""        << kFirstBlock + kBlockAudio + 100          << false << "song 1, part 1, looper audio at byte 0";
    QTest::newRow("archive card prefs")     << Kind::ArchiveCard << ""        << qint64(680 + 30)                         << false << "user preferences";
    QTest::newRow("renamed song")           << Kind::ArchiveSong << "Encore"  << none                                     << false << "";
    QTest::newRow("renamed song data")      << Kind::ArchiveSong << "Encore"  << kFirstBlock + 136 + 4                    << false << "song 3, song data";
    QTest::newRow("song audio")             << Kind::ArchiveSong << ""        << kFirstBlock + kBlockAudio + 30000        << false << "song 3, part 2, looper audio at byte 0";
    QTest::newRow("restore card")           << Kind::RestoreCard << ""        << none                                     << false << "";
    QTest::newRow("restore card, stopped")  << Kind::RestoreCard << ""        << none                                     << true  << "";
    QTest::newRow("restore card looper")    << Kind::RestoreCard << ""        << CardImage::looperPosition(4, 1) + 20     << false << "song 5, part 2, looper record";
    QTest::newRow("restore song part")      << Kind::RestoreSong << ""        << CardImage::partDataPosition(7, 3) + 7    << false << "song 8, part 4, part data";
    QTest::newRow("restore song audio")     << Kind::RestoreSong << ""        << CardImage::audioPosition(7, 1) + 40959   << false << "song 8, part 2, looper audio at byte 0";
    QTest::newRow("restore song, stopped")  << Kind::RestoreSong << ""        << none                                     << true  << "";
    // clang-format on
}

void TestTransferVerify::verifiedTransfer()
{
    QFETCH(Kind, kind);
    QFETCH(QString, name);
    QFETCH(qint64, flipped);
    QFETCH(bool, stop);
    QFETCH(QString, where);

    const auto request = makeRequest(kind, name);
    const bool toCard = request->destination.kind == Endpoint::Card;
    // A new file is written under its name plus a temporary suffix until it is complete.
    const QString destination = QFileInfo(request->destination.path).fileName();
    const QString pattern = toCard ? destination : destination + QStringLiteral(".*.partial");
    Request *raw = request.get();
    carddata::setStreamOpener([=](const std::string &path, carddata::OpenMode mode) {
        std::unique_ptr<carddata::Stream> stream = carddata::openFileStream(path, mode);
        if (!stream || !QDir::match(pattern, QFileInfo(QFile::decodeName(path.c_str())).fileName()))
            return stream;
        const bool reading = mode == carddata::OpenMode::Read;
        std::function<void()> onRead;
        if (reading && stop)
            onRead = [raw] { raw->cancelled = true; };
        return std::unique_ptr<carddata::Stream>(
            std::make_unique<TestStream>(std::move(stream), reading ? -1 : flipped, onRead));
    });

    QSignalSpy finished(m_transfer.get(), &SongTransfer::finished);
    QSignalSpy failed(m_transfer.get(), &SongTransfer::error);
    QVector<float> fractions;
    connect(m_transfer.get(), &SongTransfer::progress, this,
            [&fractions](int, float fraction, Request *) { fractions.append(fraction); });
    m_transfer->submit(request);
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() + failed.count() == 1, kWaitMs);
    QCOMPARE(request->phase.load(), 1);
    const QStringList files = QDir(m_library).entryList(QDir::Files | QDir::Hidden);

    if (!where.isEmpty()) {
        QCOMPARE(failed.count(), 1);
        QCOMPARE(request->errorText, "Verification failed: " + where + " differs from the original.");
        QCOMPARE(request->verification, Verification::NotAsked);
        QCOMPARE(files, QStringList());
        return;
    }
    QVERIFY2(finished.count() == 1, qPrintable(request->errorText));
    QCOMPARE(request->verification, stop ? Verification::Skipped : Verification::Passed);
    // The read-back starts the bar again, once.
    int restarts = 0;
    for (int i = 1; i < fractions.size(); ++i)
        restarts += fractions[i] < fractions[i - 1] ? 1 : 0;
    QCOMPARE(restarts, stop ? 0 : 1);
    // Stopped or not, the result is complete and kept under its name.
    QCOMPARE(files, toCard ? QStringList() : QStringList{QFileInfo(request->destination.path).fileName()});
}

QTEST_MAIN(TestTransferVerify)
#include "tst_transferverify.moc"
