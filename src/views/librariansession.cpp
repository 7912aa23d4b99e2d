// LibrarianView: what the window keeps through a session. Undo puts back the safety copy of the
// last protected command; Recent Cards reopens a card file; a card whose volume is mounted opens
// itself when no card is open and is offered when one is; and the status bar sums up the open
// card and tells the last command's result.
#include "views/librarianview.h"

#include "domain/configurationmanager.h"
#include "domain/mountwatcher.h"
#include "domain/notifier.h"
#include "domain/sdcard.h"
#include "views/safetycopiesview.h"

#include <QAction>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace ZovaZode {

namespace {

QString volumeOf(const QString &cardFile)
{
    return QDir::toNativeSeparators(QFileInfo(cardFile).path());
}

// Why Undo cannot run, for its tool tip and its refusal.
QString undoBlockText(CardCommands::UndoBlock block, const QString &detail, bool writable)
{
    const ConfigurationManager *configuration = ConfigurationManager::instance();
    const bool copiesOff = configuration && !configuration->safetyCopiesEnabled();
    switch (block) {
    case CardCommands::UndoBlock::None:
        break;
    case CardCommands::UndoBlock::NothingDone:
        return !writable ? LibrarianView::tr("No card is open for changes.")
               : copiesOff
                   ? LibrarianView::tr("Safety copies are turned off in the settings, so there is no copy to "
                                       "undo with.")
                   : LibrarianView::tr("Nothing has been changed on this card in this session.");
    case CardCommands::UndoBlock::OtherCard:
        return LibrarianView::tr("The last change was made to another card.");
    case CardCommands::UndoBlock::CardChanged:
        return LibrarianView::
            tr("The card has changed since (%1), so its safety copy would undo more than the last change.")
                .arg(detail);
    case CardCommands::UndoBlock::CopyMissing:
        return LibrarianView::tr("The safety copy is no longer in the Safety Copies folder.");
    case CardCommands::UndoBlock::CardBusy:
        return detail;
    }
    return QString();
}

} // namespace

void LibrarianView::createSessionActions()
{
    m_undoAction = new QAction(tr("&Undo"), this);
    m_undoAction->setShortcut(QKeySequence::Undo);
    connect(m_undoAction, &QAction::triggered, this, &LibrarianView::undoLastCommand);
    connect(m_commands, &CardCommands::undoChanged, this, &LibrarianView::updateUndo);
    connect(m_card.get(), &SdCard::openStateChanged, this, &LibrarianView::updateUndo);

    m_recentCardsMenu = new QMenu(tr("Recen&t Cards"), this);
    connect(m_recentCardsMenu, &QMenu::aboutToShow, this, &LibrarianView::updateRecentCards);

    m_openOfferedCardAction = new QAction(this);
    m_openOfferedCardAction->setVisible(false);
    connect(m_openOfferedCardAction, &QAction::triggered, this, [this] {
        const QString card = m_offeredCard;
        m_openOfferedCardAction->setVisible(false);
        m_offeredCard.clear();
        if (!card.isEmpty() && !hasTransfers())
            openCardFile(card);
    });

    m_mountWatcher = new MountWatcher(this);
    connect(m_mountWatcher, &MountWatcher::cardAppeared, this, &LibrarianView::onCardAppeared);
    connect(m_mountWatcher, &MountWatcher::cardGone, this, [this](const QString &cardFile) {
        if (cardFile != m_offeredCard)
            return;
        m_offeredCard.clear();
        m_openOfferedCardAction->setVisible(false);
    });

    connect(m_card.get(), &SdCard::openStateChanged, this, &LibrarianView::updateSummary);
    updateRecentCards();
    updateUndo();
}

void LibrarianView::updateRecentCards()
{
    m_recentCardsMenu->clear();
    const ConfigurationManager *configuration = ConfigurationManager::instance();
    const QStringList cards = configuration ? configuration->recentCards() : QStringList();
    for (const QString &card : cards) {
        QAction *action = m_recentCardsMenu->addAction(QDir::toNativeSeparators(card));
        connect(action, &QAction::triggered, this, [this, card] {
            if (!hasTransfers())
                openCardFile(card);
        });
    }
    m_recentCardsMenu->setEnabled(!cards.isEmpty());
}

void LibrarianView::onCardAppeared(const QString &cardFile)
{
    if (hasTransfers() || m_card->path() == cardFile)
        return;
    if (!m_card->isOpen()) {
        if (openCardFile(cardFile))
            emit statusMessage(tr("Opened the card on %1.").arg(volumeOf(cardFile)));
        return;
    }
    m_offeredCard = cardFile;
    m_openOfferedCardAction->setText(tr("Open the card on %1").arg(volumeOf(cardFile)));
    m_openOfferedCardAction->setVisible(true);
    emit statusMessage(tr("A card is ready on %1.").arg(volumeOf(cardFile)));
}

void LibrarianView::updateUndo()
{
    const CardCommands::Undo &last = m_commands->lastUndo();
    // The card's records are read only when an undo could run: not while a transfer writes it.
    QString detail;
    const CardCommands::UndoBlock block = m_card->isWritable() && !hasTransfers()
                                              ? m_commands->undoBlock(m_card->path(), &detail)
                                              : CardCommands::UndoBlock::NothingDone;
    const bool can = block == CardCommands::UndoBlock::None && !hasTransfers();
    m_undoAction->setEnabled(can);
    m_undoAction->setText(can ? tr("&Undo \"%1\"").arg(last.what) : tr("&Undo"));
    m_undoAction->setToolTip(can ? tr("Put back the safety copy made before \"%1\".").arg(last.what)
                                 : undoBlockText(block, detail, m_card->isWritable()));
}

void LibrarianView::undoLastCommand()
{
    updateUndo();
    if (!m_undoAction->isEnabled()) {
        qDebug() << "Librarian: Nothing to undo:" << m_undoAction->toolTip();
        return;
    }
    const CardCommands::Undo last = m_commands->lastUndo();
    if (Notifier::ask(this, Notifier::Icon::Warning, tr("Undo"),
                      tr("Undo \"%1\"?\n\nThe card gets back what the safety copy \"%2\" holds.")
                          .arg(last.what, QFileInfo(last.copyPath).completeBaseName()),
                      Notifier::Cancel | Notifier::Ok) != Notifier::Ok)
        return;
    flushCard();
    // Judged again under the card's lock, which the undo keeps until the copy is back: the card
    // may have changed while the question was open.
    CardCommands::UndoBlock block = CardCommands::UndoBlock::None;
    QString detail;
    if (m_commands->undo(m_card->path(), &block, &detail)) {
        emit statusMessage(tr("Undoing \"%1\"...").arg(last.what));
        return;
    }
    const QString why = undoBlockText(block, detail, m_card->isWritable());
    Notifier::tell(this, Notifier::Icon::Warning, tr("Undo"), why);
    emit statusMessage(why);
    updateUndo();
}

QString LibrarianView::cardSummary() const
{
    if (!m_card->isOpen())
        return QString();
    try {
        const SdCard::Usage usage = m_card->usage();
        return tr("%1 of %2 songs in use, %3 looper parts recorded, %4 MB of looper audio")
            .arg(usage.songsInUse)
            .arg(SdCard::songCount())
            .arg(usage.looperParts)
            .arg(double(usage.looperBytes) / (1024.0 * 1024.0), 0, 'f', 1);
    } catch (const SdCard::Error &error) {
        qCritical() << "Librarian: Could not sum up the card:" << error.what();
        return QString();
    }
}

void LibrarianView::updateSummary()
{
    emit cardSummaryChanged(cardSummary());
}

} // namespace ZovaZode
