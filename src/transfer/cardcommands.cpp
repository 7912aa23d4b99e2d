// CardCommands: submission, the safety-copy protocol, and the hand-on of each outcome.
#include "transfer/cardcommands.h"

#include "domain/cardcontent.h"
#include "domain/cardlock.h"
#include "domain/safetycopies.h"
#include "domain/sdcard.h"

#include <QDebug>
#include <QFileInfo>
#include <QScopeGuard>

namespace ZovaZode {

CardCommands::CardCommands(SongTransfer *transfer, QObject *parent) : QObject(parent), m_transfer(transfer)
{
    qRegisterMetaType<ZovaZode::CardCommands::Refusal>("ZovaZode::CardCommands::Refusal");
    connect(m_transfer, &SongTransfer::finished, this, &CardCommands::onFinished);
    connect(m_transfer, &SongTransfer::error, this, &CardCommands::onFailed);
}

CardCommands::~CardCommands() = default;

std::shared_ptr<CardCommands::Request>
CardCommands::submit(const Endpoint &source, const Endpoint &destination, const Options &options)
{
    auto request = std::make_shared<Request>();
    request->source = source;
    request->destination = destination;
    request->verify = options.verify;
    request->writeAll = options.writeAll;
    request->recordCard = options.recordCard;
    if (source.kind == Endpoint::Card || destination.kind == Endpoint::Card)
        request->cardLock = m_lending ? m_lending : m_held;
    // What the safety copy read of the card is true of it as long as no one has written it since:
    // the proof is the command's lock, held from the copy to this request without a gap.
    const Copied copied = std::exchange(m_copied, Copied());
    if (destination.kind == Endpoint::Card && copied.content && request->cardLock &&
        request->cardLock == copied.lock.lock() && request->cardLock->isExclusive() &&
        copied.content->describes(destination.path))
        request->knownCard = copied.content;
    return submitted(request);
}

std::shared_ptr<CardCommands::Request> CardCommands::checkArchive(const Endpoint &archive,
                                                                  const Endpoint &destination, bool force)
{
    auto request = std::make_shared<Request>();
    request->kind = Request::Kind::CheckArchive;
    request->source = archive;
    request->destination = destination;
    request->force = force;
    return submitted(request);
}

std::shared_ptr<CardCommands::Request> CardCommands::submitted(const std::shared_ptr<Request> &request)
{
    m_transfers[request.get()] = request;
    m_lastSubmitted = request.get();
    m_transfer->submit(request);
    return request;
}

std::shared_ptr<CardCommands::Request> CardCommands::protect(const SafetyPolicy &policy, const Target &target,
                                                             std::function<void()> operation)
{
    // The card is taken before anything else: a card that another program holds would refuse the
    // operation after its copy was made (a copy of a card that never changed, which the limit on
    // copies would count against a useful one), and nothing may slip in between the copy and the
    // operation. Asked without waiting, so that the window does not freeze.
    std::shared_ptr<CardLock> lock = m_held;
    try {
        if (!lock)
            lock = CardLock::forCommand(target.cardPath, 0);
    } catch (const SdCard::Busy &busy) {
        if (policy.enabled) {
            emit safetyCopyRefused(Refusal::Failed, QString::fromLocal8Bit(busy.what()));
            return nullptr;
        }
        // Without a copy to refuse, each step of the operation meets the busy card and says so.
    }
    if (!policy.enabled) {
        runUnder(lock, operation);
        return nullptr;
    }
    QString error;
    if (!SafetyCopies::ensureFolder(policy.library, &error)) {
        emit safetyCopyRefused(Refusal::NoFolder, error);
        return nullptr;
    }
    Target copied = target;
    if (copied.beforeCopy) {
        const CardLock::Use use(lock);
        copied.beforeCopy(copied);
    }
    // The name the question showed, unless another copy has taken it since.
    const QString path = !copied.copyPath.isEmpty() && !QFileInfo::exists(copied.copyPath)
                             ? copied.copyPath
                             : copyPathFor(policy, copied);
    qDebug() << "Transfer: Making a safety copy:" << path;
    m_lending = lock;
    auto copy = submit(Endpoint::card(copied.cardPath, copied.slot), Endpoint::archive(path),
                       Options{policy.verify, false, true});
    m_lending.reset();
    Undo undo;
    undo.what = copied.what;
    undo.copyPath = path;
    undo.cardPath = copied.cardPath;
    undo.slot = copied.slot;
    m_pending[copy.get()] = PendingOperation{policy, std::move(operation), undo, lock};
    return copy;
}

void CardCommands::runUnder(const std::shared_ptr<CardLock> &lock, const std::function<void()> &operation)
{
    const CardLock::Use use(lock);
    m_lending = lock;
    const auto lent = qScopeGuard([this] { m_lending.reset(); });
    operation();
}

QString CardCommands::copyPathFor(const SafetyPolicy &policy, const Target &target)
{
    return target.slot == Endpoint::WholeCard
               ? SafetyCopies::cardCopyPath(policy.library, target.cardName, target.occasion)
               : SafetyCopies::songCopyPath(policy.library, target.cardName, target.slot, target.songName,
                                            target.occasion);
}

namespace {

// The card's records now; empty when they cannot be read.
QVector<SdCard::RecordDigest> readRecords(const QString &cardPath)
{
    try {
        SdCard card;
        if (card.open(cardPath, 0))
            return card.recordsDigest();
    } catch (const SdCard::Error &error) {
        qWarning() << "Transfer: Could not read the card's records:" << error.what();
    }
    return {};
}

} // namespace

CardCommands::UndoBlock CardCommands::undoBlock(const QString &cardPath, QString *detail,
                                                UndoCheck check) const
{
    if (m_undo.copyPath.isEmpty())
        return UndoBlock::NothingDone;
    if (m_undo.cardPath != cardPath)
        return UndoBlock::OtherCard;
    // Unread, the records still tell when they could not be read as the operation ended.
    const QStringList changed = SdCard::changedRecords(
        m_undo.cardRecords, check == UndoCheck::ReadingCard ? readRecords(cardPath) : m_undo.cardRecords);
    if (!changed.isEmpty()) {
        if (detail)
            *detail = changed.join(QStringLiteral(", "));
        return UndoBlock::CardChanged;
    }
    if (!QFileInfo(m_undo.copyPath).isFile())
        return UndoBlock::CopyMissing;
    return UndoBlock::None;
}

std::shared_ptr<CardCommands::Request> CardCommands::undo(const QString &cardPath, UndoBlock *block,
                                                          QString *detail)
{
    UndoBlock why = UndoBlock::None;
    QString text;
    std::shared_ptr<CardLock> lock;
    try {
        lock = CardLock::forCommand(cardPath, 0);
        why = undoBlock(cardPath, &text);
    } catch (const SdCard::Busy &busy) {
        why = UndoBlock::CardBusy;
        text = QString::fromLocal8Bit(busy.what());
    }
    if (block)
        *block = why;
    if (detail)
        *detail = text;
    if (why != UndoBlock::None)
        return nullptr;
    const Undo undo = m_undo;
    m_undo = Undo();
    emit undoChanged();
    const bool wholeCard = undo.slot == Endpoint::WholeCard;
    m_lending = lock;
    const auto lent = qScopeGuard([this] { m_lending.reset(); });
    return submit(Endpoint::archive(undo.copyPath, wholeCard ? Endpoint::WholeCard : 0),
                  Endpoint::card(undo.cardPath, undo.slot));
}

void CardCommands::commitUndo()
{
    // Still under the command's lock: the records are the operation's, and no one else's.
    m_undo = m_armed;
    m_undo.cardRecords = readRecords(m_undo.cardPath);
    m_armed = Undo();
    m_armedRequest = nullptr;
    emit undoChanged();
}

void CardCommands::cancelTransfers()
{
    for (const auto &transfer : m_transfers)
        transfer.second->cancelled.store(true);
    // The commands waiting for their safety copy were confirmed before the user chose to stop.
    m_pending.clear();
}

std::shared_ptr<CardCommands::Request> CardCommands::kept(Request *request) const
{
    const auto found = m_transfers.find(request);
    return found == m_transfers.end() ? nullptr : found->second;
}

void CardCommands::forget(Request *request)
{
    if (m_transfers.erase(request) != 0 && m_transfers.empty())
        emit transfersDone();
}

void CardCommands::onFinished(Request *request)
{
    if (!request)
        return;
    // Kept alive until this report is handled: forgetting it may end the program.
    const std::shared_ptr<Request> keep = kept(request);
    const auto forgetLater = qScopeGuard([this, request] {
        request->cardLock.reset();
        forget(request);
    });
    endStep(request, true);
    if (!request->warnings.isEmpty())
        emit warned(request);
    if (!settleSafetyCopy(request, true))
        emit finished(request);
}

void CardCommands::onFailed(Request *request)
{
    const std::shared_ptr<Request> keep = kept(request);
    const auto forgetLater = qScopeGuard([this, request] {
        if (request)
            request->cardLock.reset();
        forget(request);
    });
    if (request)
        endStep(request, false);
    if (!request || !settleSafetyCopy(request, false))
        emit failed(request);
}

void CardCommands::endStep(Request *request, bool finished)
{
    // What failed half-way is what the copy undoes best.
    if (request == m_armedRequest)
        commitUndo();
    // A command's last step lets the card go as soon as its records are read, before anyone is
    // told: a box shown then must not hold up the requests queued behind it. A good safety copy
    // keeps it for the operation that follows.
    if (!finished || m_pending.find(request) == m_pending.end())
        request->cardLock.reset();
}

bool CardCommands::settleSafetyCopy(Request *request, bool finished)
{
    const auto pending = m_pending.find(request);
    if (pending == m_pending.end())
        return false;
    const PendingOperation waiting = std::move(pending->second);
    m_pending.erase(pending);
    if (!finished) {
        emit safetyCopyRefused(request->cancelled.load() ? Refusal::Cancelled : Refusal::Failed,
                               request->errorText);
        return true;
    }
    // A copy nobody checked is no reason to go on overwriting what it holds.
    if (request->verification == Request::Verification::Skipped) {
        emit safetyCopyRefused(Refusal::Unchecked, request->destination.path);
        return true;
    }
    emit safetyCopyMade(request);
    const int keep = waiting.policy.limit ? waiting.policy.limit() : SafetyCopies::DefaultLimit;
    const int removed = SafetyCopies::prune(waiting.policy.library, keep, request->destination.path);
    if (removed > 0)
        qDebug() << "Transfer: Removed" << removed << "old safety copies.";
    // An operation that submits a request is done when that request is; one that does not is
    // done when it returns.
    m_armed = waiting.undo;
    const Request *before = m_lastSubmitted;
    m_copied = Copied{request->cardContent, waiting.lock};
    runUnder(waiting.lock, waiting.operation);
    if (m_lastSubmitted != before)
        m_armedRequest = m_lastSubmitted;
    else
        commitUndo();
    return true;
}

} // namespace ZovaZode
