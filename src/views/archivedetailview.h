// The card archive details window: where the archive lies and when it was made, its name and
// description to edit, and its songs drawn like the card's. Saving writes the name and
// description into the archive and renames the file after the new name.
#pragma once

#include <QDialog>
#include <QString>

class QAction;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;

namespace ZovaZode {

class LibraryFolder;
class SongDetailView;

class ArchiveDetailView : public QDialog
{
    Q_OBJECT

public:
    explicit ArchiveDetailView(QWidget *parent = nullptr);
    ~ArchiveDetailView() override;

    QString path() const { return m_path; }
    // Stores the path and fills the window from the archive; a new name renames the file within
    // `library` (the card library's folder), or within its own folder when that is empty.
    void setPath(const QString &path, const QString &library = QString());

    QSize sizeHint() const override;

    QLabel *locationLabel() const { return m_locationLabel; }
    QLabel *dateLabel() const { return m_dateLabel; }
    QLineEdit *nameEdit() const { return m_nameEdit; }
    QPlainTextEdit *descriptionEdit() const { return m_descriptionEdit; }
    QListWidget *songList() const { return m_songList; }
    QAction *detailsAction() const { return m_detailsAction; }
    QMenu *contextMenu() const { return m_contextMenu; }
    SongDetailView *songDetailView() const { return m_songDetailView; }
    QDialogButtonBox *buttonBox() const { return m_buttons; }

signals:
    void saved();

private:
    void refresh();
    void save();
    // Writes the name and description into the archive; false, having said why, when it cannot.
    bool writeDetails(const QString &name, const QString &description);
    // Renames the saved archive to `fileName` within `library`; a refusal is said, not undone.
    void renameFile(const LibraryFolder &library, const QString &fileName);
    void tellNotSaved(const QString &reason);
    void showSongDetails(int row);
    void showContextMenu(const QPoint &position);

    QString m_path;
    QString m_library;
    QLabel *m_locationLabel;
    QLabel *m_dateLabel;
    QLabel *m_sizeLabel;
    QLineEdit *m_nameEdit;
    QPlainTextEdit *m_descriptionEdit;
    QListWidget *m_songList;
    SongDetailView *m_songDetailView;
    QAction *m_detailsAction;
    QMenu *m_contextMenu;
    QDialogButtonBox *m_buttons;
};

} // namespace ZovaZode
