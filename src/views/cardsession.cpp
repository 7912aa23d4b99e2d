// CardSession: opening cards, the cards that appear on mounted volumes, Recent Cards, and the
// status bar's texts.
#include "views/cardsession.h"

#include "domain/cardlock.h"
#include "domain/defaultnames.h"
#include "domain/error.h"
#include "domain/democard.h"
#include "domain/mountwatcher.h"
#include "domain/notifier.h"
#include "domain/sdcard.h"
#include "domain/settings.h"
#include "domain/sizetext.h"
#include "models/songlistmodel.h"
#include "views/actionregistry.h"
#include "views/prompter.h"

#include <QAction>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>
#include <QStandardPaths>
#include <QWidget>

namespace ZovaZode {

namespace {

QString volumeOf(const QString &cardFile)
{
    return QDir::toNativeSeparators(QFileInfo(cardFile).path());
}

} // namespace

CardSession::CardSession(Settings &settings, ActionRegistry *actions, QWidget *window)
    : QObject(window), m_settings(settings), m_card(std::make_shared<SdCard>()),
      m_songs(new SongListModel(m_card, this)), m_mountWatcher(new MountWatcher(this)),
      m_recentCardsMenu(new QMenu(tr("Recen&t Cards"), window)), m_offerAction(new QAction(this))
{
    connect(actions->action(QStringLiteral("OpenCard")), &QAction::triggered, this, &CardSession::openCard);
    actions->add(QStringLiteral("RecentCards"), m_recentCardsMenu->menuAction());
    connect(m_recentCardsMenu, &QMenu::aboutToShow, this, &CardSession::updateRecentCards);

    actions->add(QStringLiteral("OpenOfferedCard"), m_offerAction);
    m_offerAction->setVisible(false);
    connect(m_offerAction, &QAction::triggered, this, [this] {
        const QString card = m_offeredCard;
        offer(QString());
        if (!card.isEmpty() && !m_busy())
            openCardFile(card);
    });
    connect(m_mountWatcher, &MountWatcher::cardAppeared, this, &CardSession::onCardAppeared);
    connect(m_mountWatcher, &MountWatcher::cardGone, this, [this](const QString &cardFile) {
        if (cardFile == m_offeredCard)
            offer(QString());
    });
    connect(m_card.get(), &SdCard::openStateChanged, this, &CardSession::updateSummary);
    connect(m_card.get(), &SdCard::ejected, this,
            [this] { report(Outcome::Failed, tr("The card was ejected, so it was closed.")); });
    m_busy = [] { return false; };
    updateRecentCards();
}

CardSession::~CardSession() = default;

QWidget *CardSession::window() const
{
    return static_cast<QWidget *>(parent());
}

void CardSession::openCard()
{
    // Where the user went last, the card chosen there selected; while that folder is gone (its
    // card taken out), the card in the reader; else the documents folder, where the demo card is.
    QString start = m_settings.sdCardLocation();
    if (start.isEmpty() || !QFileInfo(start).dir().exists())
        start = m_mountWatcher->cardFiles().value(0);
    if (start.isEmpty())
        start = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);

    Prompter::FileRequest request;
    request.title = tr("Open Morv+ Card Data");
    request.startPath = start;
    request.nameFilter = tr("Morv+ Card Data (ZOVAZODE.DAT)");
    const QString path = Prompter::current()->openFile(window(), request);
    if (path.isEmpty())
        report(Outcome::Cancelled);
    else
        openCardFile(path);
}

bool CardSession::openCardFile(const QString &path)
{
    QString failure;
    try {
        if (!openForWriting(path))
            failure = openFailure(path);
    } catch (const SdCard::Error &error) {
        // Opening writes the header of a card that was open before; the new card is not open then.
        qCritical() << "Librarian: Could not open card:" << error.what();
        failure = QString::fromUtf8(error.what());
    }
    if (!failure.isEmpty()) {
        const QString text = tr("Failed to open the card.") + QStringLiteral("\n\n") + failure;
        Notifier::tell(window(), Notifier::Icon::Critical, tr("Open Morv+ Card"), text);
        report(Outcome::Failed, text);
        return false;
    }
    m_settings.setSdCardLocation(path);
    m_settings.addRecentCard(path);
    updateRecentCards();
    nameUnnamed();
    m_songs->reload();
    updateSummary();
    report(Outcome::Done,
           (m_card->isWritable() ? tr("Opened the card on %1.") : tr("Opened the card on %1, read-only."))
               .arg(volumeOf(path)));
    return true;
}

// Opens `path` for writing when it can, else to read; false when it opened in neither way.
bool CardSession::openForWriting(const QString &path)
{
    if (!m_card->open(path, 1)) {
        if (!m_card->open(path, 0))
            return false;
        Notifier::tell(window(), Notifier::Icon::Warning, tr("Open Morv+ Card"),
                       tr("The SD card appears to be write protected.\n\nModifications to the card have been "
                          "disabled."));
        return true;
    }
    if (CardLock::canLock(path))
        return true;
    // Two programs writing one card at once would mix their songs; only the user knows whether
    // another one could.
    const bool allowed =
        Notifier::ask(window(), Notifier::Icon::Warning, tr("Open Morv+ Card"),
                      tr("The card cannot be locked where it is stored, so another program could change it "
                         "at the same time as this one.\n\nAllow changes to the card without the lock?"),
                      Notifier::Yes | Notifier::No) == Notifier::Yes;
    CardLock::setWritingWithoutLock(allowed);
    return allowed || m_card->open(path, 0);
}

// Why the file at `path` did not open as a card, in words rather than the library's.
QString CardSession::openFailure(const QString &path) const
{
    const QFileInfo file(path);
    const QString name = QDir::toNativeSeparators(path);
    if (!file.exists())
        return tr("The file %1 does not exist.").arg(name);
    if (file.isDir())
        return tr("%1 is a folder, not a card data file.").arg(name);
    if (!file.isReadable())
        return tr("You do not have permission to read %1.").arg(name);
    if (file.size() != SdCard::FileSize) {
        QLocale grouped = QLocale::c();
        grouped.setNumberOptions(QLocale::DefaultNumberOptions);
        return tr("%1 is not a card data file: it is %2 bytes long, a card data file %3.")
            .arg(name, grouped.toString(file.size()), grouped.toString(SdCard::FileSize));
    }
    return tr("%1 cannot be read as a card data file: %2").arg(name, userText(m_card->openError()));
}

void CardSession::openDemoCard()
{
    if (m_busy())
        return;
    const QString path = DemoCard::defaultPath();
    const bool make = !QFileInfo::exists(path);
    if (make) {
        try {
            QDir().mkpath(QFileInfo(path).path());
            DemoCard().write(path);
        } catch (const SdCard::Error &error) {
            qCritical() << "Librarian: Could not make the demo card:" << error.what();
            Notifier::tell(window(), Notifier::Icon::Critical, tr("Make a Demo Card"),
                           QString::fromUtf8(error.what()));
            report(Outcome::Failed, tr("Could not make the demo card."));
            return;
        }
    }
    if (openCardFile(path))
        report(Outcome::Done,
               make ? tr("Made the demo card %1 and opened it.").arg(QDir::toNativeSeparators(path))
                    : tr("Opened the demo card %1.").arg(QDir::toNativeSeparators(path)));
}

void CardSession::nameUnnamed()
{
    for (int song = 0; song < SdCard::songCount(); ++song) {
        try {
            SongInfo info = m_card->songInfo(song);
            if (info.name.isEmpty()) {
                qDebug() << "Writing default name to card song: " << song;
                info.name = defaultSongName(song);
                m_card->setSongInfo(song, info);
            }
        } catch (const SdCard::Error &error) {
            qCritical() << "Error ensuring song" << song << "on card has a name:" << error.what();
        }
    }
    if (m_card->name().isEmpty()) {
        qDebug() << "Writing default card name";
        m_card->setName(defaultCardName());
    }
}

void CardSession::flushCard()
{
    // A header that cannot be written leaves the file the older name, which is no reason to refuse
    // the command that reads it.
    try {
        m_card->flush();
    } catch (const SdCard::Error &error) {
        qCritical() << "Librarian: Could not write card header:" << error.what();
    }
}

void CardSession::updateRecentCards()
{
    m_recentCardsMenu->clear();
    const QStringList cards = m_settings.recentCards();
    for (const QString &card : cards) {
        QAction *action = m_recentCardsMenu->addAction(QDir::toNativeSeparators(card));
        connect(action, &QAction::triggered, this, [this, card] {
            if (!m_busy())
                openCardFile(card);
        });
    }
    m_recentCardsMenu->setEnabled(!cards.isEmpty());
}

void CardSession::onCardAppeared(const QString &cardFile)
{
    if (m_busy() || m_card->path() == cardFile)
        return;
    if (!m_card->isOpen()) {
        openCardFile(cardFile);
        return;
    }
    offer(cardFile);
    report(Outcome::Done, tr("A card is ready on %1.").arg(volumeOf(cardFile)));
}

// Shows the action that opens `cardFile`; hides it when empty.
void CardSession::offer(const QString &cardFile)
{
    m_offeredCard = cardFile;
    if (!cardFile.isEmpty())
        m_offerAction->setText(tr("Open the card on %1").arg(volumeOf(cardFile)));
    m_offerAction->setVisible(!cardFile.isEmpty());
}

void CardSession::report(Outcome outcome, const QString &text)
{
    // One line: a box's text keeps its paragraphs, the status bar runs them together.
    m_status = outcome == Outcome::Cancelled && text.isEmpty() ? tr("Cancelled.") : text.simplified();
    emit statusMessage(m_status);
}

QString CardSession::cardSummary() const
{
    if (!m_card->isOpen())
        return QString();
    try {
        const SdCard::Usage usage = m_card->usage();
        return tr("%1 of %2 songs in use, %3 looper parts recorded, %4 of looper audio")
            .arg(usage.songsInUse)
            .arg(SdCard::songCount())
            .arg(usage.looperParts)
            .arg(megabytesText(usage.looperBytes));
    } catch (const SdCard::Error &error) {
        qCritical() << "Librarian: Could not sum up the card:" << error.what();
        return QString();
    }
}

void CardSession::updateSummary()
{
    emit cardSummaryChanged(cardSummary());
}

} // namespace ZovaZode
