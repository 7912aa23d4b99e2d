// Shows the program's message boxes as modal QMessageBoxes. The window installs one at start;
// everything below the widgets only describes its boxes through the Notifier.
#pragma once

#include "domain/notifier.h"

namespace ZovaZode {

class MessageBoxNotifier : public Notifier
{
public:
    Button show(const Message &message) override;
};

} // namespace ZovaZode
