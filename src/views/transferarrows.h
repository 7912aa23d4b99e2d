// The column between the card and the libraries: an arrow towards the card library with "Drag to
// Archive" and "Drag to Restore", and one towards the song library with "Drag to Copy". They show
// while a card is open, the one of the library page shown drawn active; pressing one brings its
// library to the front.
#pragma once

#include <QWidget>

class QLabel;

namespace ZovaZode {

class TransferIndicator;

class TransferArrows : public QWidget
{
    Q_OBJECT

public:
    explicit TransferArrows(QWidget *parent = nullptr);

    TransferIndicator *cardLibraryIndicator() const { return m_cardLibrary; }
    TransferIndicator *songLibraryIndicator() const { return m_songLibrary; }

    void setState(bool cardOpen, bool cardLibraryPage, bool songLibraryPage);

protected:
    // A new palette (a theme switched while the program runs) redraws the arrows.
    void changeEvent(QEvent *event) override;

private:
    void draw();

    TransferIndicator *m_cardLibrary;
    TransferIndicator *m_songLibrary;
    QLabel *m_cardLibraryArrow;
    QLabel *m_songLibraryArrow;
};

} // namespace ZovaZode
