// SongDetailView: filling the song details window from its song and saving edits back.
#include "views/songdetailview.h"

#include "domain/cardrecords.h"
#include "domain/notifier.h"
#include "domain/song.h"
#include "views/widgetutils.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

constexpr int kColumnCount = 10;
constexpr int kTitleGrowth = 4;
const QColor kReadOnlyBase(245, 245, 245);

QString genreName(int genre)
{
    static const char *const names[] = {"Blues", "RnB",     "Rock",    "Alt Rock", "Metal", "Pop",
                                        "E-Pop", "Hip Hop", "Country", "Folk",     "Latin", "Jazz"};
    if (genre < 0 || genre >= int(sizeof(names) / sizeof(names[0])))
        return QString();
    return QString::fromLatin1(names[genre]);
}

QString typeName(int state)
{
    switch (state) {
    case 1:
        return QStringLiteral("Normal");
    case 2:
        return QStringLiteral("Intense");
    case 3:
        return QStringLiteral("Looper");
    default:
        return QString();
    }
}

QString bassModeName(int bassMode)
{
    switch (bassMode) {
    case 1:
        return QStringLiteral("Root Riff");
    case 2:
        return QStringLiteral("Simple Root");
    default:
        return QStringLiteral("Active");
    }
}

QString timeName(int timeSignature)
{
    switch (timeSignature) {
    case 0:
        return QStringLiteral("4/4");
    case 1:
        return QStringLiteral("3/4");
    default:
        return QString();
    }
}

QTreeWidgetItem *partRow(int part, const PartInfo &info)
{
    auto *item = new QTreeWidgetItem;
    const int state = partState(info);
    item->setData(0, Qt::DisplayRole, part + 1);
    item->setText(1, typeName(state));
    if (info.isLooper) {
        for (int column = 2; column <= 8; ++column)
            item->setText(column, QStringLiteral("-"));
    } else {
        item->setText(2, genreName(info.genre));
        item->setText(3, QString::number(info.style + 1));
        item->setText(4, bassModeName(info.bassMode));
        item->setText(5, QString::number(double(info.tempo), 'f', 1) + QStringLiteral(" bpm"));
        item->setText(6, timeName(info.timeSignature));
        item->setText(7, info.altTime ? QStringLiteral("On") : QStringLiteral("Off"));
        item->setText(8, QString::number(info.bars));
    }
    item->setText(9, QString::number(double(info.duration), 'f', 1) + QStringLiteral(" s"));
    for (int column = 0; column < kColumnCount; ++column) {
        const bool numeric = column == 5 || column == 9;
        item->setTextAlignment(column, (numeric ? Qt::AlignRight : Qt::AlignHCenter) | Qt::AlignVCenter);
    }
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

QString creationTime(const QString &path)
{
    const QFileInfo info(path);
    // Not every file system records a birth time; the status change time is the nearest.
    QDateTime time = info.birthTime();
    if (!time.isValid())
        time = info.metadataChangeTime();
    if (!time.isValid())
        return QString();
    return QLocale().toString(time, QLocale::ShortFormat);
}

} // namespace

SongDetailView::SongDetailView(QWidget *parent)
    : QDialog(parent), m_song(new Song(this)), m_titleLabel(new QLabel(this)),
      m_pathHeading(WidgetUtils::boldLabel(QString(), this)), m_pathLabel(new QLabel(this)),
      m_dateLabel(new QLabel(this)), m_nameEdit(new QLineEdit(this)),
      m_descriptionEdit(new QPlainTextEdit(this)),
      m_buttons(new QDialogButtonBox(
          QDialogButtonBox::Save | QDialogButtonBox::Close | QDialogButtonBox::Cancel, this)),
      m_partsTable(new QTreeWidget(this))
{
    setObjectName(QStringLiteral("songDetailView"));
    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    m_pathHeading->setObjectName(QStringLiteral("pathHeading"));
    m_pathLabel->setObjectName(QStringLiteral("pathLabel"));
    m_dateLabel->setObjectName(QStringLiteral("dateLabel"));
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    m_descriptionEdit->setObjectName(QStringLiteral("descriptionEdit"));
    m_partsTable->setObjectName(QStringLiteral("partsTable"));

    QFont titleFont = m_titleLabel->font();
    titleFont.setPointSize(titleFont.pointSize() + kTitleGrowth);
    m_titleLabel->setFont(titleFont);
    m_pathLabel->setWordWrap(true);
    m_pathLabel->setMinimumWidth(100);
    m_pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    setUpPartsTable();

    auto *box = new QVBoxLayout;
    box->addWidget(m_titleLabel);
    box->addSpacing(15);
    box->addWidget(m_pathHeading);
    box->addWidget(m_pathLabel);
    box->addWidget(WidgetUtils::boldLabel(tr("Date of Storage:"), this));
    box->addWidget(m_dateLabel);
    box->addWidget(WidgetUtils::boldLabel(tr("Song Name:"), this));
    box->addWidget(m_nameEdit);
    box->addWidget(WidgetUtils::boldLabel(tr("Song Description:"), this));
    box->addWidget(m_descriptionEdit);
    box->addWidget(WidgetUtils::boldLabel(tr("Song Parts:"), this));
    box->addWidget(m_partsTable);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(box);
    layout->addWidget(m_buttons);

    connect(m_song, &Song::loaded, this, &SongDetailView::fill);
    connect(m_song, &Song::cleared, this, &SongDetailView::fill);
    connect(m_song, &Song::cleared, this, &SongDetailView::close);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &SongDetailView::reject);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &SongDetailView::save);

    setEditable(true);
}

SongDetailView::~SongDetailView() = default;

void SongDetailView::setUpPartsTable()
{
    m_partsTable->setColumnCount(kColumnCount);
    m_partsTable->setHeaderLabels(
        {QStringLiteral("#"), QStringLiteral("Type"), QStringLiteral("Genre"), QStringLiteral("Style"),
         QStringLiteral("Bass Mode"), QStringLiteral("Tempo"), QStringLiteral("Time"),
         QStringLiteral("Alt. Time"), QStringLiteral("Bars"), QStringLiteral("Duration")});
    m_partsTable->setItemsExpandable(false);
    m_partsTable->setRootIsDecorated(false);
    m_partsTable->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_partsTable->header()->setDefaultAlignment(Qt::AlignCenter);
    m_partsTable->header()->setStretchLastSection(false);
}

QSize SongDetailView::sizeHint() const
{
    return QSize(600, 600);
}

void SongDetailView::setEditable(bool editable)
{
    m_editable = editable;
    m_buttons->button(QDialogButtonBox::Save)->setVisible(editable);
    m_buttons->button(QDialogButtonBox::Cancel)->setVisible(editable);
    m_buttons->button(QDialogButtonBox::Close)->setVisible(!editable);

    m_nameEdit->setReadOnly(!editable);
    m_descriptionEdit->setReadOnly(!editable);
    m_nameEdit->setFrame(editable);
    if (editable) {
        m_descriptionEdit->setFrameShape(QFrame::StyledPanel);
        m_descriptionEdit->setTextInteractionFlags(Qt::TextEditorInteraction);
        for (QWidget *widget : {static_cast<QWidget *>(m_nameEdit), static_cast<QWidget *>(m_descriptionEdit),
                                static_cast<QWidget *>(m_partsTable)})
            widget->setPalette(QPalette());
    } else {
        m_descriptionEdit->setFrameShape(QFrame::NoFrame);
        m_descriptionEdit->setTextInteractionFlags(Qt::TextBrowserInteraction);
        for (QWidget *widget : {static_cast<QWidget *>(m_nameEdit), static_cast<QWidget *>(m_descriptionEdit),
                                static_cast<QWidget *>(m_partsTable)}) {
            QPalette palette = widget->palette();
            palette.setColor(QPalette::All, QPalette::Base, kReadOnlyBase);
            widget->setPalette(palette);
        }
    }
}

void SongDetailView::fill()
{
    m_nameEdit->clearFocus();
    if (m_song->source() == SongSource::None) {
        m_titleLabel->clear();
        m_pathLabel->clear();
        m_dateLabel->clear();
        m_nameEdit->clear();
        m_descriptionEdit->clear();
        m_partsTable->clear();
        return;
    }

    const QString number = QString::number(m_song->index() + 1);
    switch (m_song->source()) {
    case SongSource::Card:
        m_titleLabel->setText(tr("Song #%1 From Card").arg(number));
        m_pathHeading->setText(tr("Card Path:"));
        break;
    case SongSource::CardArchive:
        m_titleLabel->setText(tr("Song #%1 From Archive").arg(number));
        m_pathHeading->setText(tr("Archive Path:"));
        break;
    default:
        m_titleLabel->setText(tr("Song From Library"));
        m_pathHeading->setText(tr("File Path:"));
        break;
    }
    m_pathLabel->setText(m_song->filePath());
    m_dateLabel->setText(creationTime(m_song->filePath()));
    m_nameEdit->setText(m_song->name());
    m_descriptionEdit->setPlainText(m_song->description());

    m_partsTable->clear();
    const QVector<PartInfo> parts = m_song->parts();
    for (int part = 0; part < parts.size(); ++part) {
        if (partState(parts.at(part)) != 0)
            m_partsTable->addTopLevelItem(partRow(part, parts.at(part)));
    }
}

void SongDetailView::save()
{
    if (!m_editable || m_song->source() == SongSource::None)
        return;
    m_song->songInfo().name = m_nameEdit->text();
    m_song->songInfo().description = m_descriptionEdit->toPlainText();
    if (m_song->save()) {
        accept();
        return;
    }
    Notifier::tell(this, Notifier::Icon::Critical, QString(),
                   QStringLiteral("An error occured when saving song data."));
}

} // namespace ZovaZode
