// The program's few settings that are not chosen elsewhere in the window: whether a safety copy
// is made before a command overwrites card data, how many of those copies are kept, and whether
// the program looks for a newer version of itself as it starts.
#pragma once

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QSpinBox;

namespace ZovaZode {

class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int MinimumLimit = 1;
    static constexpr int MaximumLimit = 1000;

    explicit SettingsDialog(QWidget *parent = nullptr);
    ~SettingsDialog() override;

    // Shows the stored values again, dropping unsaved changes.
    void load();
    // OK stores the values before the dialog closes. Keeping fewer safety copies than the folder
    // holds deletes the oldest at once, after a question (No leaves the dialog open).
    void accept() override;

    QCheckBox *safetyCopiesBox() const { return m_safetyCopiesBox; }
    QSpinBox *limitBox() const { return m_limitBox; }
    QCheckBox *updateCheckBox() const { return m_updateCheckBox; }
    QDialogButtonBox *buttonBox() const { return m_buttons; }

private:
    bool pruneCopies();

    QCheckBox *m_safetyCopiesBox;
    QSpinBox *m_limitBox;
    QCheckBox *m_updateCheckBox;
    QCheckBox *m_writeAllBox;
    QDialogButtonBox *m_buttons;
};

} // namespace ZovaZode
