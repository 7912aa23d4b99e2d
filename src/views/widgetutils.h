// Small helpers of the window's widgets, in one place: bold headings, captions, where a detail
// dialog appears, pictures drawn from SVGs, and addresses handed to the desktop.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

#include <functional>

class QAbstractItemView;
class QLabel;
class QModelIndex;
class QUrl;
class QWidget;

namespace ZovaZode::WidgetUtils {

// A label whose text is set in bold, as the headings of the dialogs are.
QLabel *boldLabel(const QString &text, QWidget *parent);
void makeBold(QLabel *label);

// A label with its text centred.
QLabel *centredCaption(const QString &text, QWidget *parent);

// Centres the widget's frame on its parent's window (on the screen without a parent), keeps it
// 10 pixels inside the screen's available area, and shows it without blocking.
void showCentred(QWidget *widget);

// Says why the name `typed` in the editor of `index` was refused, then opens that editor again
// with the name selected: the user corrects it instead of typing it anew, and the keyboard stays
// where the user was typing rather than falling to the next control.
void refuseName(QAbstractItemView *view, const QModelIndex &index, const QString &typed,
                const QString &refusal);

// The SVG drawn at a logical size with as many pixels as the sharpest screen shows, so it stays
// sharp at 1.5x and 2x. A zero width or height follows the drawing's aspect ratio. A valid tint
// paints the whole drawing in that one colour (edges keep their smoothing), so a one-colour
// picture can follow the palette.
QPixmap picture(const QString &svg, QSize size, const QColor &tint = QColor());

// Hands an address to the desktop (a folder to its file manager, a PDF to its viewer); true when
// the desktop took it. Tests put an opener of their own in place (an empty one restores the
// desktop's, QDesktopServices::openUrl).
bool openUrl(const QUrl &url);
void setUrlOpener(std::function<bool(const QUrl &)> opener);

} // namespace ZovaZode::WidgetUtils
