// LibraryPages: the window's pages of files. The card library (card archives) and the song library
// (song files), each a folder listed by its own model, its place remembered in the settings; and
// the card library's Safety Copies. Listing, renaming, details and deleting happen here; drops and
// the commands that copy to or from the card leave as requests.
#pragma once

#include "domain/filekinds.h"
#include "views/cardsession.h"

#include <QString>
#include <QTabWidget>

class QModelIndex;

namespace ZovaZode {

class ActionRegistry;
class ArchiveDetailView;
class LibraryFolderView;
class SafetyCopiesView;
class Settings;
class SongDetailView;
class SortedLibraryModel;
struct WindowState;

class LibraryPages : public QTabWidget
{
    Q_OBJECT

public:
    // Connects the library commands in `actions` and registers the context menus' own.
    LibraryPages(Settings &settings, ActionRegistry *actions, QWidget *parent = nullptr);
    ~LibraryPages() override;

    SortedLibraryModel *library(FileKind kind) const;
    LibraryFolderView *page(FileKind kind) const;
    SafetyCopiesView *safetyCopies() const { return m_safetyCopies; }
    // The library's folder, and the library file selected there (empty for a folder or none).
    QString folder(FileKind kind) const;
    QString selectedFile(FileKind kind) const;
    void showPage(FileKind kind);
    // What the pages add to the window's state.
    void describe(WindowState *state) const;

    // Shows a card archive or song file: selected on its page when it lies in its library,
    // else in its details dialog.
    void showFile(const QString &path);
    // A file being written is left out of its library until it is complete.
    void hideFile(FileKind kind, const QString &path);
    void revealFile(FileKind kind, const QString &path, bool reread);
    // Restore This Copy needs a card open for changes; its tool tip says so.
    void setCardWritable(bool writable);

signals:
    void selectionChanged();
    // A card, or card songs, dropped on a library folder.
    void cardArchiveRequest(const QString &dir);
    void songArchiveRequest(const QString &dir, const QList<int> &songs);
    // A card archive or a safety copy of the card to go onto the card; a safety copy of a song to
    // go back onto `slot`; a song file to go onto the selected slot.
    void cardRestoreRequest(const QString &path);
    void songRestoreRequest(int slot, const QString &path);
    void songCopyRequest(const QString &path);
    void verifyRequest(const QString &path);
    // How a rename or a delete on a page ended, for the status bar.
    void outcome(ZovaZode::CardSession::Outcome outcome, const QString &text);

private:
    LibraryFolderView *createPage(FileKind kind, const QString &folder);
    void registerActions(ActionRegistry *actions);
    void showDetails(FileKind kind, const QModelIndex &index);

    Settings &m_settings;
    LibraryFolderView *m_cardPage;
    LibraryFolderView *m_songPage;
    SafetyCopiesView *m_safetyCopies;
    ArchiveDetailView *m_archiveDetails;
    SongDetailView *m_songDetails;
};

} // namespace ZovaZode
