// Placement of the detail dialogs: centred on the main window, kept inside the screen.
#pragma once

class QWidget;

namespace ZovaZode {

// Centres the widget's frame on its parent's window (on the screen without a parent), keeps it
// 10 pixels inside the screen's available area, and shows it without blocking.
void showCentred(QWidget *widget);

} // namespace ZovaZode
