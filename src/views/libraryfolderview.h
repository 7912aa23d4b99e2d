// One page of a library: the library folder as a tree of folders and library files, the folder's
// path with a button to choose another, in-place renaming, a context menu, dragging files out
// and dropping card data in, and deleting an item. The card library page lists card archives, the
// song library page song files; which one a page is follows from its model's library kind. The
// library pages connect the actions and react to selection changes.
#pragma once

#include "views/cardsession.h"
#include "views/elidedlabel.h"

#include <QModelIndex>
#include <QString>
#include <QWidget>

class QAction;
class QLabel;
class QMenu;
class QTreeView;

namespace ZovaZode {

class SortedLibraryModel;

class LibraryFolderView : public QWidget
{
    Q_OBJECT

public:
    // `transferText`: the context menu's command that copies the selected file onto the card.
    LibraryFolderView(SortedLibraryModel *model, const QString &transferText, QWidget *parent = nullptr);
    ~LibraryFolderView() override;

    QModelIndex selectedIndex() const;
    // The selection's path when it is a file of this library (a card archive, a song file), else empty.
    QString selectedFilePath() const;
    // The selection's path when it is a file, a damaged one too (what Verify looks into), else empty.
    QString selectedAnyFilePath() const;
    void selectPath(const QString &path);
    void editName();
    // Asks, then deletes the selected item (a folder with all it holds, a link as a link) through
    // LibraryFolder; refuses with the reason what is no longer inside the library.
    void deleteSelectedItem();

    SortedLibraryModel *model() const { return m_model; }
    QTreeView *treeView() const { return m_treeView; }
    ElidedLabel *folderLabel() const { return m_folderLabel; }
    QMenu *contextMenu() const { return m_contextMenu; }
    QAction *editNameAction() const { return m_editNameAction; }
    QAction *detailsAction() const { return m_detailsAction; }
    QAction *transferAction() const { return m_transferAction; }
    QAction *deleteAction() const { return m_deleteAction; }

signals:
    void deleteRequest();
    void selectionChanged();
    // How a rename or a delete on the page ended, for the status bar.
    void outcome(ZovaZode::CardSession::Outcome outcome, const QString &text);

private:
    void setUpTree();
    void layOut();
    bool isCardLibrary() const;
    bool isLibraryFile(const QModelIndex &index) const;
    void changeFolder();
    void updateActions();
    void showContextMenu(const QPoint &position);

    SortedLibraryModel *m_model;
    QTreeView *m_treeView;
    ElidedLabel *m_folderLabel;
    QAction *m_editNameAction;
    QAction *m_detailsAction;
    QAction *m_transferAction;
    QAction *m_deleteAction;
    QMenu *m_contextMenu;
};

} // namespace ZovaZode
