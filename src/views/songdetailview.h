// The song details window: where a song comes from, its name and description (editable when
// its source can be written) and a table of its parts in the pedal's own words.
#pragma once

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTreeWidget;

namespace ZovaZode {

class Song;

class SongDetailView : public QDialog
{
    Q_OBJECT

public:
    explicit SongDetailView(QWidget *parent = nullptr);
    ~SongDetailView() override;

    Song *song() const { return m_song; }
    bool isEditable() const { return m_editable; }
    void setEditable(bool editable);

    QSize sizeHint() const override;

private:
    void setUpPartsTable();
    void fill();
    void save();

    Song *m_song;
    QLabel *m_titleLabel;
    QLabel *m_pathHeading;
    QLabel *m_pathLabel;
    QLabel *m_dateLabel;
    QLineEdit *m_nameEdit;
    QPlainTextEdit *m_descriptionEdit;
    QDialogButtonBox *m_buttons;
    QTreeWidget *m_partsTable;
    bool m_editable = false;
};

} // namespace ZovaZode
