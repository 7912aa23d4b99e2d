// CardPanel: the card column of the window. The card's header (the open/close button, the card
// file's path, the card box with its name, editable in place), the instructions while no card is
// open, and the card's song slots; and the commands on the open card that move no song: close it,
// rename it or a song, show details, clear a song or all of them (protected by a safety copy
// through the transfer controller), Verify the card.
#pragma once

#include <QModelIndex>
#include <QWidget>

#include <memory>

namespace ZovaZode {

class ActionRegistry;
class CardInstructions;
class CardSession;
class CardSongsView;
class SdCard;
class SdCardHeaderView;
class SongDetailView;
class TransferController;

class CardPanel : public QWidget
{
    Q_OBJECT

public:
    // Connects the card's commands in `actions` and registers the context menus' own.
    CardPanel(CardSession *session, TransferController *transfers, ActionRegistry *actions,
              QWidget *parent = nullptr);
    ~CardPanel() override;

    SdCardHeaderView *header() const { return m_header; }
    CardInstructions *instructions() const { return m_instructions; }
    CardSongsView *songsView() const { return m_songsView; }
    // The selected card slot, or -1.
    int selectedSong() const;

signals:
    // The selected slot changed, or the list was read anew (which drops the selection).
    void selectionChanged();

private:
    void setUpSongsView();
    void buildLayout();
    void connectSongs();
    void connectHeader();
    void registerActions(ActionRegistry *actions);
    void closeCard();
    void writeHeader(const QString &done);
    void clearSelectedSong();
    void clearAllSongs();
    void showSongDetails(const QModelIndex &index);
    void onSongSaved();

    CardSession *m_session;
    TransferController *m_transfers;
    std::shared_ptr<SdCard> m_card;
    SdCardHeaderView *m_header;
    CardInstructions *m_instructions;
    CardSongsView *m_songsView;
    SongDetailView *m_songDetails;
};

} // namespace ZovaZode
