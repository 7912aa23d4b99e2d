// Small helpers of the window's widgets, in one place: bold headings, captions and where a
// detail dialog appears.
#pragma once

#include <QString>

class QLabel;
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

} // namespace ZovaZode::WidgetUtils
