#include "views/prompter.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>

namespace ZovaZode {
namespace {

class DialogPrompter final : public Prompter
{
public:
    QString openFile(QWidget *parent, const FileRequest &request) override
    {
        QFileDialog dialog(parent, request.title);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilter(request.nameFilter);
        dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Drives);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setViewMode(QFileDialog::List);
        const QFileInfo start(request.startPath);
        if (start.isDir()) {
            dialog.setDirectory(start.absoluteFilePath());
        } else {
            dialog.setDirectory(start.absolutePath());
            dialog.selectFile(start.fileName());
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().constFirst();
    }

    QString folder(QWidget *parent, const QString &caption, const QString &startPath) override
    {
        return QFileDialog::getExistingDirectory(parent, caption, startPath, QFileDialog::ShowDirsOnly);
    }

    bool text(QWidget *parent, const QString &title, const QString &label, QString *value) override
    {
        bool ok = false;
        const QString answer = QInputDialog::getText(parent, title, label, QLineEdit::Normal, *value, &ok);
        if (ok)
            *value = answer;
        return ok;
    }
};

Prompter *installedPrompter = nullptr;

} // namespace

Prompter::~Prompter() = default;

void Prompter::install(Prompter *prompter)
{
    installedPrompter = prompter;
}

Prompter *Prompter::current()
{
    static DialogPrompter dialogs;
    return installedPrompter ? installedPrompter : &dialogs;
}

} // namespace ZovaZode
