// CardCommands: submission, the safety-copy protocol, and the hand-on of each outcome.
#include "transfer/cardcommands.h"

#include "domain/configurationmanager.h"
#include "domain/safetycopies.h"

#include <QDebug>
#include <QScopeGuard>

namespace ZovaZode {

CardCommands::SafetyPolicy CardCommands::SafetyPolicy::fromConfiguration(const QString &library)
{
    const ConfigurationManager *configuration = ConfigurationManager::instance();
    SafetyPolicy policy;
    policy.enabled = !configuration || configuration->safetyCopiesEnabled();
    policy.library = library;
    policy.limit = [] {
        const ConfigurationManager *configuration = ConfigurationManager::instance();
        return configuration ? configuration->safetyCopyLimit()
                             : ConfigurationManager::DefaultSafetyCopyLimit;
    };
    return policy;
}

CardCommands::CardCommands(SongTransfer *transfer, QObject *parent) : QObject(parent), m_transfer(transfer)
{
    qRegisterMetaType<ZovaZode::CardCommands::Refusal>("ZovaZode::CardCommands::Refusal");
    connect(m_transfer, &SongTransfer::finished, this, &CardCommands::onFinished);
    connect(m_transfer, &SongTransfer::error, this, &CardCommands::onFailed);
}

CardCommands::~CardCommands() = default;

std::shared_ptr<CardCommands::Request> CardCommands::submit(const Endpoint &source,
                                                            const Endpoint &destination, bool verify)
{
    auto request = std::make_shared<Request>();
    request->source = source;
    request->destination = destination;
    request->verify = verify;
    m_transfers[request.get()] = request;
    m_transfer->submit(request);
    return request;
}

std::shared_ptr<CardCommands::Request> CardCommands::protect(const SafetyPolicy &policy, const Target &target,
                                                             std::function<void()> operation)
{
    if (!policy.enabled) {
        operation();
        return nullptr;
    }
    QString error;
    if (!SafetyCopies::ensureFolder(policy.library, &error)) {
        emit safetyCopyRefused(Refusal::NoFolder, error);
        return nullptr;
    }
    Target copied = target;
    if (copied.beforeCopy)
        copied.beforeCopy(copied);
    const QString path = copied.slot == Endpoint::WholeCard
                             ? SafetyCopies::cardCopyPath(policy.library, copied.cardName, copied.occasion)
                             : SafetyCopies::songCopyPath(policy.library, copied.cardName, copied.slot,
                                                          copied.songName, copied.occasion);
    qDebug() << "Transfer: Making a safety copy:" << path;
    auto copy = submit(Endpoint::card(copied.cardPath, copied.slot), Endpoint::archive(path), policy.verify);
    m_pending[copy.get()] = PendingOperation{policy, std::move(operation)};
    return copy;
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
    const auto forgetLater = qScopeGuard([this, request] { forget(request); });
    if (!request->warnings.isEmpty())
        emit warned(request);
    if (!settleSafetyCopy(request, true))
        emit finished(request);
}

void CardCommands::onFailed(Request *request)
{
    const std::shared_ptr<Request> keep = kept(request);
    const auto forgetLater = qScopeGuard([this, request] { forget(request); });
    if (!request || !settleSafetyCopy(request, false))
        emit failed(request);
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
    const int keep =
        waiting.policy.limit ? waiting.policy.limit() : ConfigurationManager::DefaultSafetyCopyLimit;
    const int removed = SafetyCopies::prune(waiting.policy.library, keep);
    if (removed > 0)
        qDebug() << "Transfer: Removed" << removed << "old safety copies.";
    waiting.operation();
    return true;
}

} // namespace ZovaZode
