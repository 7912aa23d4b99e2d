// The "Song Library" page: the song library folder as a tree of folders and song files, the
// folder's path with a button to choose another, in-place renaming, a context menu, dragging
// songs out and dropping card songs in. The librarian view connects the actions and reacts to
// deletion requests and selection changes.
#pragma once

#include <QModelIndex>
#include <QString>
#include <QWidget>

class QAction;
class QLabel;
class QMenu;
class QTreeView;

namespace ZovaZode {

class SortedLibraryModel;

class LibraryView : public QWidget
{
    Q_OBJECT

public:
    LibraryView(SortedLibraryModel *model, QWidget *parent = nullptr);
    ~LibraryView() override;

    QModelIndex selectedIndex() const;
    // The selection's path when it is a song file, else empty.
    QString selectedSongPath() const;
    void selectPath(const QString &path);
    void editName();

    QTreeView *treeView() const { return m_treeView; }
    QLabel *folderLabel() const { return m_folderLabel; }
    QMenu *contextMenu() const { return m_contextMenu; }
    QAction *editNameAction() const { return m_editNameAction; }
    QAction *detailsAction() const { return m_detailsAction; }
    QAction *transferAction() const { return m_transferAction; }
    QAction *deleteAction() const { return m_deleteAction; }

signals:
    void deleteRequest();
    void selectionChanged();

private:
    void changeFolder();
    void updateActions();
    void showContextMenu(const QPoint &position);

    SortedLibraryModel *m_model;
    QTreeView *m_treeView;
    QLabel *m_folderLabel;
    QAction *m_editNameAction;
    QAction *m_detailsAction;
    QAction *m_transferAction;
    QAction *m_deleteAction;
    QMenu *m_contextMenu;
};

} // namespace ZovaZode
