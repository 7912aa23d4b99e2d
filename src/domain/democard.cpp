// DemoCard: builds the demo card data file through the card data library.
#include "domain/democard.h"

#include "carddata/carddata.h"
#include "domain/cardrecords.h"
#include "domain/defaultnames.h"
#include "domain/newfile.h"
#include "domain/sdcard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace ZovaZode {

namespace {

const char kPrefix[] = "Could not make the demo card: ";

// The pedal's sample format is not known to this program; the tone is written as 48 kHz mono
// 32-bit signed samples, which at worst plays back as the same pattern at another pitch.
constexpr int kSampleRate = 48000;
constexpr int kBytesPerSample = 4;
constexpr int kSamplesPerChunk = carddata::kAudioChunkSize / kBytesPerSample;
// Every demo bar lasts two seconds (four beats at 120 bpm, three at 90), so that a bar is a
// whole number of chunks and a recording is a bar repeated.
constexpr double kBarSeconds = 2.0;
constexpr int kChunksPerBar = int(kBarSeconds * kSampleRate) / kSamplesPerChunk;
static_assert(kChunksPerBar * kSamplesPerChunk == int(kBarSeconds * kSampleRate), "a bar is whole chunks");

// Word 197 of a loop record is carried, not understood; the pedal accepts 1 to 256.
constexpr int32_t kLoopWord197 = 128;

enum class State { Empty, Normal, Intense, Looper };

struct DemoPart
{
    State state = State::Empty;
    int genre = 0;
    int timeSlot = 0; // 0 is 4/4, 1 is 3/4
    int altTime = 0;
    int bassRaw = 0; // as stored: 1 and 3 select a bass mode, anything else none
    int bars = 0;
    int chunks = 0;    // recorded audio
    double root = 0.0; // Hz, first note of the recording
};

struct DemoSong
{
    QString name;
    QString description;
    int firstValue = 0;
    int thirdValue = -1;
    int fourthValue = 0;
    QVector<qint32> sequence;
    DemoPart parts[carddata::kPartCount];
};

DemoPart band(State state, int genre, int timeSlot, int bars, int bassRaw = 0, int altTime = 0)
{
    DemoPart part;
    part.state = state;
    part.genre = genre;
    part.timeSlot = timeSlot;
    part.bars = bars;
    part.bassRaw = bassRaw;
    part.altTime = altTime;
    return part;
}

DemoPart looper(int genre, int timeSlot, int bars, double root)
{
    DemoPart part = band(State::Looper, genre, timeSlot, bars);
    part.chunks = bars * kChunksPerBar;
    part.root = root;
    return part;
}

// Six songs that together use all twelve genres, both time signatures, the alternate time,
// every bass mode and every part state; the other slots hold what clearing leaves.
std::vector<DemoSong> demoSongs()
{
    std::vector<DemoSong> songs(carddata::kSongCount);
    const DemoPart empty;

    // Each: name, description, first, third and fourth value (carried, in their valid ranges),
    // sequence, parts as band(state, genre, time slot, bars, bass, alt time) or
    // looper(genre, time slot, bars, root note in Hz).
    songs[0] = {QStringLiteral("Sunrise Shuffle"),
                QStringLiteral("Warm-up groove in A: verse, fill, verse, then the loop over the chorus."),
                0,
                0,
                0,
                {0, 0, 1, 0, 2, 1},
                {band(State::Normal, 0, 0, 8, 1), band(State::Intense, 0, 0, 8, 3), looper(0, 0, 2, 220.0),
                 empty, empty}};
    songs[1] = {QStringLiteral("Waltz for Amber"),
                QStringLiteral("A ballad in three; the bridge moves to the alternate time."),
                1,
                3,
                1,
                {0, 1, 0, 2, 3},
                {band(State::Normal, 5, 1, 8, 1), band(State::Normal, 5, 1, 4, 0, 1), looper(5, 1, 2, 196.0),
                 band(State::Intense, 6, 1, 8, 3), empty}};
    songs[2] = {QStringLiteral("Delta Crossroads"),
                QStringLiteral("Twelve-bar blues in E with two looper layers on top."),
                2,
                5,
                2,
                {0, 3, 0, 4, 1, 0},
                {band(State::Normal, 2, 0, 12, 3), band(State::Intense, 2, 0, 12, 1), empty,
                 looper(2, 0, 2, 164.81), looper(3, 0, 1, 246.94)}};
    songs[3] = {QStringLiteral("Midnight Loop"),
                QStringLiteral("Looper only: a low pad and a pulse, no band."),
                3,
                -1,
                0,
                {0, 1},
                {looper(7, 0, 2, 130.81), looper(8, 0, 1, 261.63), empty, empty, empty}};
    songs[4] = {QStringLiteral("Backbeat Practice"),
                QStringLiteral("Every part a different style, for practising the changes."),
                4,
                11,
                1,
                {0, 1, 2, 3, 4},
                {band(State::Normal, 1, 0, 4, 1), band(State::Intense, 4, 0, 4, 3),
                 band(State::Normal, 9, 1, 4, 0), band(State::Intense, 10, 0, 4, 1, 1),
                 band(State::Normal, 11, 0, 4, 3)}};
    songs[5] = {QString::fromUtf8("Caf\xC3\xA9 Bossa"),
                QStringLiteral("A named song still waiting for its parts."),
                0,
                -1,
                0,
                {},
                {empty, empty, empty, empty, empty}};
    for (int song = 6; song < carddata::kSongCount; ++song)
        songs[song].name = defaultSongName(song);
    return songs;
}

// Benchmark songs: the first `recorded` parts all hold a recording of the longest length.
std::vector<DemoSong> fullSongs(int recorded)
{
    std::vector<DemoSong> songs = demoSongs();
    const State states[] = {State::Normal, State::Intense, State::Looper};
    for (int song = 0; song < carddata::kSongCount; ++song) {
        DemoSong &s = songs[size_t(song)];
        s.description = QStringLiteral("Benchmark song: every part holds a full-length recording.");
        s.sequence.clear();
        for (int part = 0; part < carddata::kPartCount; ++part) {
            const int linear = song * carddata::kPartCount + part;
            DemoPart &p = s.parts[part];
            p = DemoPart();
            if (linear >= recorded)
                continue;
            p = band(states[linear % 3], linear % 12, (linear / 3) % 2, 96, linear % 4);
            p.chunks = carddata::kMaxLooperChunks;
            p.root = 110.0 * std::pow(2.0, (linear % 24) / 12.0);
            s.sequence.append(part);
        }
    }
    return songs;
}

void putFloat(uint8_t *record, size_t offset, float value)
{
    uint32_t bits = 0;
    static_assert(sizeof bits == sizeof value, "IEEE-754 single precision");
    std::memcpy(&bits, &value, sizeof bits);
    localPutWord32(record, offset, bits);
}

void putInt(uint8_t *record, size_t offset, int32_t value)
{
    localPutWord32(record, offset, uint32_t(value));
}

double durationOf(const DemoPart &part)
{
    if (part.chunks > part.bars * kChunksPerBar)
        return double(part.chunks) * kSamplesPerChunk / kSampleRate;
    return part.bars * kBarSeconds;
}

PartRecord partRecord(const DemoPart &part)
{
    PartRecord record{};
    uint8_t *data = record.data();
    putInt(data, carddata::kPartGenreOffset, part.genre);
    if (part.state == State::Empty)
        return record;

    putInt(data, carddata::kPartInUseOffset, 1);
    // All four loop records are filled, so that whichever bank and time slot the pedal picks
    // it finds a valid loop; slot 0 is in 4/4 and slot 1 in 3/4.
    for (int bank = 0; bank < 2; ++bank) {
        for (int slot = 0; slot < 2; ++slot) {
            const size_t loop =
                carddata::kPartLoopRecordsOffset + 4 * carddata::kLoopRecordWords * size_t(2 * bank + slot);
            putInt(data, loop, part.bars);
            putInt(data, loop + 4, slot == 0 ? 4 : 3);
            putInt(data, loop + 4 * 197, kLoopWord197);
        }
    }
    putInt(data, carddata::kPartCountOffset, 1);
    putInt(data, carddata::kPartIntenseOffset, part.state == State::Intense ? 1 : 0);
    putInt(data, carddata::kPartBassModeOffset, part.bassRaw);
    for (int i = 0; i < carddata::kPartStyleTableWords; ++i)
        putInt(data, carddata::kPartStyleTableOffset + 4 * size_t(i), i % 12);
    putInt(data, carddata::kPartTimeSlotOffset, part.timeSlot);
    putInt(data, carddata::kPartAltTimeOffset, part.altTime);
    putFloat(data, carddata::kPartDurationOffset, float(durationOf(part)));
    putInt(data, carddata::kPartLooperFlagOffset, part.state == State::Looper ? 1 : 0);
    return record;
}

// One bar of a plucked major-pentatonic figure, a note per beat, each note fading to silence
// before the next so that the bar repeats without a click.
std::vector<uint8_t> barOfAudio(const DemoPart &part)
{
    static const double intervals[] = {1.0, 5.0 / 4.0, 3.0 / 2.0, 5.0 / 3.0};
    const int beats = part.timeSlot == 0 ? 4 : 3;
    const int samplesPerBeat = int(kBarSeconds * kSampleRate) / beats;
    std::vector<uint8_t> bar(size_t(kChunksPerBar) * carddata::kAudioChunkSize);
    const double twoPi = 2.0 * std::acos(-1.0);
    for (int i = 0; i < kChunksPerBar * kSamplesPerChunk; ++i) {
        const int beat = std::min(i / samplesPerBeat, beats - 1);
        const double t = double(i - beat * samplesPerBeat) / kSampleRate;
        const double length = double(samplesPerBeat) / kSampleRate;
        const double frequency = part.root * intervals[beat % 4];
        const double envelope =
            std::min(1.0, t / 0.005) * std::exp(-5.0 * t) * std::max(0.0, 1.0 - t / length);
        const double tone = std::sin(twoPi * frequency * t) + 0.3 * std::sin(twoPi * 2.0 * frequency * t);
        const double sample = 0.25 * envelope * tone / 1.3;
        localPutWord32(bar.data(), size_t(i) * kBytesPerSample,
                       uint32_t(int32_t(std::lround(sample * 2147483647.0))));
    }
    return bar;
}

SdCard::Error failure(const std::string &what)
{
    return SdCard::Error(kPrefix + what);
}
SdCard::Error libraryFailure()
{
    return failure(mlsdGetErrorString());
}

} // namespace

DemoCard::DemoCard(bool full, int recordedParts)
    : m_full(full), m_recordedParts(std::max(0, std::min(recordedParts, kPartsOnCard)))
{}

qint64 DemoCard::audioBytes() const
{
    qint64 bytes = 0;
    for (const DemoSong &song : m_full ? fullSongs(m_recordedParts) : demoSongs())
        for (const DemoPart &part : song.parts)
            bytes += qint64(part.chunks) * carddata::kAudioChunkSize;
    return bytes;
}

QString DemoCard::defaultPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("Morv+ Demo Card/ZOVAZODE.DAT"));
}

QString DemoCard::cardName()
{
    return QStringLiteral("Morv+ Demo Card");
}

QString DemoCard::cardDescription()
{
    return QStringLiteral("Songs to try Morv Manager with: band parts in every state, sequences and looper "
                          "recordings.");
}

namespace {

// Writes the header and the user preferences of the card being made.
void writeHeader(SdCardHandle *card)
{
    encodeCardText(DemoCard::cardName(), card->header.data() + carddata::kCardHeaderNameOffset,
                   carddata::kTextNameSize);
    encodeCardText(DemoCard::cardDescription(), card->header.data() + carddata::kCardHeaderDescriptionOffset,
                   carddata::kTextDescriptionSize);
    if (mlsdSendHeaderToSDCard(card->file.get(), &card->memoryMap, card->header.data()) != 0)
        throw libraryFailure();
    std::array<uint8_t, carddata::kUserPrefsSize> prefs{};
    putInt(prefs.data(), 4, 1);
    putInt(prefs.data(), 12, 1);
    putInt(prefs.data(), 16, 0);
    if (mlsdSendUserPrefsToSDCard(card->file.get(), &card->memoryMap, prefs.data()) != 0)
        throw libraryFailure();
}

void writeSongRecord(SdCardHandle *card, int song, const DemoSong &demo)
{
    SongInfo info;
    info.name = demo.name;
    info.description = demo.description;
    info.firstValue = demo.firstValue;
    info.sequence = demo.sequence;
    info.thirdValue = demo.thirdValue;
    info.fourthValue = demo.fourthValue;
    SongRecord songRecord{};
    songInfoToRecord(info, songRecord);
    if (mlsdSendUISongDataToSDCard(card->file.get(), &card->memoryMap, song, songRecord.data()) != 0)
        throw libraryFailure();
}

// The part's record and its looper part data: the memory manager's slot and payload.
void writePartRecords(SdCardHandle *card, int song, int part, const DemoPart &demoPart)
{
    const PartRecord record = partRecord(demoPart);
    if (mlsdSendUIPartToSDCard(card->file.get(), &card->memoryMap, song, part, record.data()) != 0)
        throw libraryFailure();

    PartSlot &slot = card->memoryManager->partTable[size_t(song)][size_t(part)];
    uint32_t *payload = lmmPartPayload(card->memoryManager, song, part);
    if (!payload)
        throw failure("out of memory for the looper part data.");
    std::fill(payload, payload + card->memoryManager->payloadWordsPerPart, 0u);
    if (demoPart.chunks > 0) {
        slot.state = 0;
        slot.length = demoPart.chunks;
        slot.auxiliary = 0;
        // What the pedal keeps in the payload is not known to this program. One bit per
        // recorded chunk fits its size (a bit for every chunk of both audio areas) and
        // gives the checksum real words to cover.
        for (int chunk = 0; chunk < demoPart.chunks; ++chunk)
            payload[chunk / 32] |= 1u << (chunk % 32);
    } else {
        lmmMarkPartEmpty(card->memoryManager, song, part);
        slot.length = 0;
        slot.auxiliary = -1;
    }
    if (lmmSaveLooperPartData(card->memoryManager, song, part) != 0)
        throw failure("error writing the looper part data of song " + std::to_string(song + 1) + ", part " +
                      std::to_string(part + 1) + ".");
}

// The part's looper audio, a bar repeated; false when `progress` asked to stop.
bool writePartAudio(SdCardHandle *card, int song, int part, const DemoPart &demoPart,
                    const std::function<bool(qint64)> &progress)
{
    if (demoPart.chunks == 0)
        return true;
    const std::vector<uint8_t> bar = barOfAudio(demoPart);
    carddata::Stream *file = card->file.get();
    if (!file->seek(mlsdAudioPosition(&card->memoryMap, song, part)))
        throw failure("error seeking to the looper audio of song " + std::to_string(song + 1) + ".");
    for (int written = 0; written < demoPart.chunks;) {
        const int chunks = std::min(kChunksPerBar, demoPart.chunks - written);
        const size_t bytes = size_t(chunks) * carddata::kAudioChunkSize;
        if (file->write(bar.data(), bytes) != bytes)
            throw failure("error writing the looper audio of song " + std::to_string(song + 1) + ".");
        written += chunks;
        if (progress(qint64(bytes)))
            return false;
    }
    return true;
}

} // namespace

bool DemoCard::write(const QString &path, const Progress &progress) const
{
    const QFileInfo target(path);
    if (target.exists() || target.isSymLink())
        throw failure(QFile::encodeName(path).toStdString() + " already exists.");

    NewFile newFile(path);
    const QString partialPath = newFile.partialPath();
    QString error;
    if (!newFile.create(&error))
        throw failure(QFile::encodeName(error).toStdString());
    {
        // The library opens only a file that already carries the card's ID; everything else,
        // the header included, goes through the library below.
        QFile file(partialPath);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(carddata::kCardFileSize) ||
            file.write("MLSD", 4) != 4 || !file.flush())
            throw failure(QFile::encodeName(partialPath).toStdString() + ": " +
                          file.errorString().toLocal8Bit().toStdString());
    }

    std::unique_ptr<SdCardHandle, SdCardHandleCloser> card(
        mlsdOpenSDCard(QFile::encodeName(partialPath).constData(), 1));
    if (!card)
        throw libraryFailure();
    writeHeader(card.get());
    const std::vector<DemoSong> songs = m_full ? fullSongs(m_recordedParts) : demoSongs();
    const qint64 total = audioBytes();
    qint64 done = 0;
    const auto wrote = [&done, total, &progress](qint64 bytes) {
        done += bytes;
        return progress && progress(done, total);
    };
    for (int song = 0; song < carddata::kSongCount; ++song) {
        writeSongRecord(card.get(), song, songs[size_t(song)]);
        for (int part = 0; part < carddata::kPartCount; ++part) {
            writePartRecords(card.get(), song, part, songs[size_t(song)].parts[part]);
            if (!writePartAudio(card.get(), song, part, songs[size_t(song)].parts[part], wrote))
                return false;
        }
    }

    if (mlsdCommitSDCard(card.get()) != 0)
        throw libraryFailure();
    card.reset();
    try {
        newFile.commit();
    } catch (const std::exception &) {
        throw failure("could not name the new card " + QFile::encodeName(path).toStdString() + ".");
    }
    return true;
}

} // namespace ZovaZode
