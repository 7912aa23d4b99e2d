// WidgetUtils: bold headings, centred captions, where a detail dialog appears, pictures, and the
// desktop's URL opener.
#include "views/widgetutils.h"

#include "domain/notifier.h"

#include <QAbstractItemView>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimer>
#include <QWidget>

namespace ZovaZode::WidgetUtils {

namespace {

constexpr int kScreenMargin = 10;
constexpr int kBoldWeight = 75;

std::function<bool(const QUrl &)> &urlOpener()
{
    static std::function<bool(const QUrl &)> opener;
    return opener;
}

} // namespace

bool openUrl(const QUrl &url)
{
    return urlOpener() ? urlOpener()(url) : QDesktopServices::openUrl(url);
}

void setUrlOpener(std::function<bool(const QUrl &)> opener)
{
    urlOpener() = std::move(opener);
}

QLabel *boldLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    makeBold(label);
    return label;
}

void makeBold(QLabel *label)
{
    QFont font = label->font();
    font.setWeight(kBoldWeight);
    label->setFont(font);
}

QLabel *centredCaption(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

void showCentred(QWidget *widget)
{
    if (!widget)
        return;
    QWidget *parent = widget->parentWidget();
    QScreen *screen = (parent ? parent : widget)->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();

    // A window that was never shown has no platform window yet, and so no frame; creating it
    // first makes the frame part of the placement.
    if (widget->isWindow())
        widget->winId();
    QRect frame = widget->frameGeometry();
    frame.moveCenter(parent ? parent->window()->frameGeometry().center() : available.center());

    if (!available.isNull()) {
        const int right = available.x() + available.width() - kScreenMargin;
        const int bottom = available.y() + available.height() - kScreenMargin;
        if (frame.x() + frame.width() > right)
            frame.moveLeft(right - frame.width());
        if (frame.y() + frame.height() > bottom)
            frame.moveTop(bottom - frame.height());
        // Top and left come last so that a dialog larger than the screen keeps its title bar
        // and its left edge reachable.
        if (frame.y() < available.y() + kScreenMargin)
            frame.moveTop(available.y() + kScreenMargin);
        if (frame.x() < available.x() + kScreenMargin)
            frame.moveLeft(available.x() + kScreenMargin);
    }

    widget->move(frame.topLeft());
    widget->show();
}

void refuseName(QAbstractItemView *view, const QModelIndex &index, const QString &typed,
                const QString &refusal)
{
    const QPersistentModelIndex item(index);
    // Once the editor that holds the refused name has closed. The box has no parent: it must not
    // wait for the view.
    QTimer::singleShot(0, view, [view, item, typed, refusal] {
        Notifier::inform(nullptr, refusal);
        if (!item.isValid())
            return;
        view->setCurrentIndex(item);
        view->edit(item);
        if (auto *editor = qobject_cast<QLineEdit *>(view->indexWidget(item))) {
            editor->setText(typed);
            editor->selectAll();
        }
    });
}

QPixmap picture(const QString &svg, QSize size, const QColor &tint)
{
    QSvgRenderer renderer(svg);
    const QSize drawn = renderer.defaultSize();
    if (!renderer.isValid() || drawn.isEmpty())
        return QPixmap();
    if (size.width() <= 0)
        size.setWidth(qRound(qreal(drawn.width()) * size.height() / drawn.height()));
    if (size.height() <= 0)
        size.setHeight(qRound(qreal(drawn.height()) * size.width() / drawn.width()));

    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    if (tint.isValid()) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), tint);
    }
    painter.end();
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

} // namespace ZovaZode::WidgetUtils
