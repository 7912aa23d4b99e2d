// The list of the open card's song slots: a context menu of six song commands, the drag source
// for copying songs into the song library and the drop target for library songs.
#pragma once

#include <QListView>

class QAction;

namespace ZovaZode {

class CardSongsView : public QListView
{
    Q_OBJECT

public:
    explicit CardSongsView(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;

    // The card panel connects every action but "Edit Name...", which the view handles.
    QAction *editNameAction() const { return m_editNameAction; }
    QAction *detailsAction() const { return m_detailsAction; }
    QAction *copyToLibraryAction() const { return m_copyToLibraryAction; }
    QAction *overwriteAction() const { return m_overwriteAction; }
    QAction *clearAction() const { return m_clearAction; }
    QAction *clearAllAction() const { return m_clearAllAction; }

    void editName();

signals:
    void songDragStarted();

protected:
    void startDrag(Qt::DropActions supportedActions) override;

private:
    void updateActions();

    QAction *m_editNameAction;
    QAction *m_detailsAction;
    QAction *m_copyToLibraryAction;
    QAction *m_overwriteAction;
    QAction *m_clearAction;
    QAction *m_clearAllAction;
};

} // namespace ZovaZode
