// CardSession: the open card and what the window keeps around it through a session. It holds the
// card and its list of songs; opens a card file (Open Card, Recent Cards, a file the program was
// started with, a card whose volume is mounted: it opens itself when no card is open and is
// offered when one is) and names an unnamed card and its songs as it opens; and it keeps the
// status bar: the open card's summary, and the outcome of the last command, which every command
// reports through report().
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QWidget;

namespace ZovaZode {

class ActionRegistry;
class MountWatcher;
class SdCard;
class Settings;
class SongListModel;

class CardSession : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Done, Failed, Cancelled };

    // Registers Open Card, Recent Cards and the offer of a card that appeared in `actions`; boxes
    // and the file dialog open over `window`.
    CardSession(Settings &settings, ActionRegistry *actions, QWidget *window);
    ~CardSession() override;

    const std::shared_ptr<SdCard> &card() const { return m_card; }
    SongListModel *songs() const { return m_songs; }
    MountWatcher *mountWatcher() const { return m_mountWatcher; }
    QMenu *recentCardsMenu() const { return m_recentCardsMenu; }

    // While it says a transfer runs, no other card is opened.
    void setBusy(std::function<bool()> busy) { m_busy = std::move(busy); }

    // Asks for a card file, starting at the one opened last, else a mounted card, else in the
    // documents folder.
    void openCard();
    // Opens the card data file at `path` (for writing when it can); false when it failed, after
    // telling the user why. The card open before stays open when it fails.
    bool openCardFile(const QString &path);
    // Opens the demo card (DemoCard::defaultPath()), after making it when there is none.
    void openDemoCard();
    // Writes the card's edited header: the worker reads the header from the file.
    void flushCard();

    // A command's outcome for the status bar, where it stays until the next: `text` says what
    // was done or why it failed; a cancelled command says so itself.
    void report(Outcome outcome, const QString &text = QString());
    // What the status bar shows now: the last outcome reported.
    const QString &status() const { return m_status; }
    // The open card's summary for the status bar; empty with no card open.
    QString cardSummary() const;
    void updateSummary();

signals:
    void statusMessage(const QString &text);
    void cardSummaryChanged(const QString &summary);

private:
    QWidget *window() const;
    bool openForWriting(const QString &path);
    QString openFailure(const QString &path) const;
    void nameUnnamed();
    void updateRecentCards();
    void onCardAppeared(const QString &cardFile);
    void offer(const QString &cardFile);

    Settings &m_settings;
    std::shared_ptr<SdCard> m_card;
    SongListModel *m_songs;
    MountWatcher *m_mountWatcher;
    QMenu *m_recentCardsMenu;
    QAction *m_offerAction;
    QString m_offeredCard;
    QString m_status;
    std::function<bool()> m_busy;
};

} // namespace ZovaZode
