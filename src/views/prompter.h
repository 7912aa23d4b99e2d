// The one door through which the window asks the user for a file, a folder or a line of text.
// The real prompter shows the Qt dialogs; tests install one that answers from a prepared list,
// so every command that asks something can run headless.
#pragma once

#include <QString>

class QWidget;

namespace ZovaZode {

class Prompter
{
public:
    struct FileRequest
    {
        QString title;
        QString startPath;  // folder to start in, or a file to pre-select
        QString nameFilter; // e.g. "Morv+ Card Data (ZOVAZODE.DAT)"
    };

    virtual ~Prompter();

    // An existing file, or an empty string when the user cancelled.
    virtual QString openFile(QWidget *parent, const FileRequest &request) = 0;
    // An existing folder, or an empty string when the user cancelled.
    virtual QString folder(QWidget *parent, const QString &caption, const QString &startPath) = 0;
    // A line of text; false when the user cancelled. `value` holds the proposal on entry.
    virtual bool text(QWidget *parent, const QString &title, const QString &label, QString *value) = 0;

    // The prompter is not owned; nullptr restores the Qt dialogs.
    static void install(Prompter *prompter);
    // The installed prompter, or the one that shows the Qt dialogs.
    static Prompter *current();
};

} // namespace ZovaZode
