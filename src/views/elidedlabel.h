// A one-line label for a path: it shows as much as its width allows, cut in the middle with an
// ellipsis so that both the start and the file name stay readable, and carries the whole text
// in its tool tip. It asks for no width of its own, so a long path never widens the window.
#pragma once

#include <QLabel>

namespace ZovaZode {

class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    // Sets the text (text() keeps it whole) and the tool tip.
    void setFullText(const QString &text);
    // The text as it is drawn at the label's present width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace ZovaZode
