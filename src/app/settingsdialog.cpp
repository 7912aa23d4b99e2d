// SettingsDialog: the safety copy and update check settings, read from and stored in the
// configuration.
#include "app/settingsdialog.h"

#include "domain/configurationmanager.h"
#include "domain/notifier.h"
#include "domain/safetycopies.h"

#include <QCheckBox>
#include <QDebug>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace ZovaZode {

SettingsDialog::SettingsDialog(QWidget *parent)
    : QDialog(parent),
      m_safetyCopiesBox(new QCheckBox(tr("Make a safety copy before changing the card"), this)),
      m_limitBox(new QSpinBox(this)),
      m_updateCheckBox(new QCheckBox(tr("Check for updates when the program starts"), this)),
      m_writeAllBox(
          new QCheckBox(tr("Write every byte when restoring, also what the card holds already"), this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(tr("Settings"));
    m_limitBox->setRange(MinimumLimit, MaximumLimit);
    m_limitBox->setAccessibleName(tr("Number of safety copies to keep"));

    auto *explanation = new QLabel(tr("Before a command overwrites songs on the card, the program saves them "
                                      "to the \"Safety Copies\" folder of the card library. The Safety "
                                      "Copies page lists them and puts them back; Edit > Undo puts back "
                                      "the last one."),
                                   this);
    explanation->setWordWrap(true);

    auto *limitRow = new QHBoxLayout;
    // Indented under the check box it depends on.
    limitRow->setContentsMargins(24, 0, 0, 0);
    limitRow->addWidget(new QLabel(tr("Keep the newest"), this));
    limitRow->addWidget(m_limitBox);
    limitRow->addWidget(new QLabel(tr("safety copies"), this));
    limitRow->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addWidget(m_safetyCopiesBox);
    layout->addLayout(limitRow);
    layout->addWidget(explanation);
    layout->addSpacing(10);
    layout->addWidget(m_writeAllBox);
    layout->addWidget(m_updateCheckBox);
    layout->addStretch(1);
    layout->addWidget(m_buttons);

    connect(m_safetyCopiesBox, &QCheckBox::toggled, m_limitBox, &QSpinBox::setEnabled);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
    load();
    setMinimumWidth(420);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::load()
{
    const ConfigurationManager *configuration = ConfigurationManager::instance();
    const bool enabled = configuration ? configuration->safetyCopiesEnabled() : true;
    const int limit =
        configuration ? configuration->safetyCopyLimit() : ConfigurationManager::DefaultSafetyCopyLimit;
    m_safetyCopiesBox->setChecked(enabled);
    m_limitBox->setValue(limit);
    m_limitBox->setEnabled(enabled);
    m_updateCheckBox->setChecked(configuration ? configuration->checksForUpdatesAtStart() : true);
    m_writeAllBox->setChecked(configuration && configuration->writesEveryByte());
}

// The oldest copies beyond the newest to keep go now, not at the next copy: whoever lowers the
// number wants the room back. False when the user would rather keep them.
bool SettingsDialog::pruneCopies()
{
    const ConfigurationManager *configuration = ConfigurationManager::instance();
    const int keep = m_limitBox->value();
    if (!configuration || !m_safetyCopiesBox->isChecked() || keep >= configuration->safetyCopyLimit())
        return true;
    const QString library = configuration->cardLibraryLocation();
    const int held = SafetyCopies::list(library).size();
    if (held <= keep)
        return true;
    if (Notifier::ask(this, Notifier::Icon::Warning, windowTitle(),
                      tr("The Safety Copies folder holds %1 safety copies. Keeping the newest %2 deletes the "
                         "%3 oldest now.\n\nDelete them?")
                          .arg(held)
                          .arg(keep)
                          .arg(held - keep),
                      Notifier::Yes | Notifier::No) != Notifier::Yes)
        return false;
    qDebug() << "Settings: Removed" << SafetyCopies::prune(library, keep, QString()) << "safety copies.";
    return true;
}

void SettingsDialog::accept()
{
    if (!pruneCopies())
        return;
    if (ConfigurationManager *configuration = ConfigurationManager::instance()) {
        configuration->setSafetyCopiesEnabled(m_safetyCopiesBox->isChecked());
        configuration->setSafetyCopyLimit(m_limitBox->value());
        configuration->setChecksForUpdatesAtStart(m_updateCheckBox->isChecked());
        configuration->setWritesEveryByte(m_writeAllBox->isChecked());
    } else {
        qWarning() << "Settings: No configuration to store the settings in.";
    }
    QDialog::accept();
}

} // namespace ZovaZode
