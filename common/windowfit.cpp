#include "common/windowfit.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace station {

namespace {

QRect roomFor(const QRect &available)
{
    return available.marginsRemoved(kFrameAllowance);
}

QScreen *screenOf(QWidget *window, QScreen *screen)
{
    if (screen)
        return screen;
    if (QScreen *own = window->screen())
        return own;
    return QGuiApplication::primaryScreen();
}

void centre(QWidget *window, const QRect &available)
{
    const QSize outer = window->size().grownBy(kFrameAllowance);
    QPoint topLeft = available.topLeft() + QPoint((available.width() - outer.width()) / 2,
                                                  (available.height() - outer.height()) / 2);
    topLeft.rx() = std::max(topLeft.x(), available.left());
    topLeft.ry() = std::max(topLeft.y(), available.top());
    // move() places the frame's corner once the window manager has framed it.
    window->move(topLeft);
}

bool inLayout(const QLayout *layout, const QWidget *w)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget() == w)
            return true;
        if (const QLayout *inner = item->layout(); inner && inLayout(inner, w))
            return true;
    }
    return false;
}

bool placedByLayout(const QWidget *w)
{
    const QWidget *parent = w->parentWidget();
    return parent && parent->layout() && inLayout(parent->layout(), w);
}

int scaled(int pixels, double factor)
{
    return int(std::lround(pixels * factor));
}

QRect scaled(const QRect &r, double factor)
{
    // Edges, not sizes, are scaled, so neighbours that touch keep touching.
    const int left = scaled(r.left(), factor);
    const int top = scaled(r.top(), factor);
    return QRect(left, top, scaled(r.left() + r.width(), factor) - left, scaled(r.top() + r.height(), factor) - top);
}

QFont scaled(QFont font, double factor)
{
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, scaled(font.pixelSize(), factor)));
    return font;
}

// Every font of root and its children, each read before any is set: a
// parent's new font would otherwise reach a child that inherits it and be
// scaled twice.
void scaleFonts(QWidget *root, const QList<QWidget *> &children, double factor)
{
    std::vector<std::pair<QWidget *, QFont>> fonts;
    fonts.emplace_back(root, scaled(root->font(), factor));
    for (QWidget *w : children)
        fonts.emplace_back(w, scaled(w->font(), factor));
    for (auto &[w, font] : fonts)
        w->setFont(font);
}

bool isFixed(const QWidget *w)
{
    return w->minimumSize() == w->maximumSize();
}

// A child placed by hand: its edges scaled, and its size when it is fixed.
void scalePlacedByHand(QWidget *w, double factor)
{
    const QRect g = scaled(w->geometry(), factor);
    if (isFixed(w))
        w->setFixedSize(g.size());
    w->setGeometry(g);
}

// A minimum or maximum set by hand, scaled; the defaults (0 and the largest
// size) stay.
int scaledMinimum(int pixels, double factor)
{
    return pixels > 0 ? scaled(pixels, factor) : pixels;
}

int scaledMaximum(int pixels, double factor)
{
    return pixels < QWIDGETSIZE_MAX ? scaled(pixels, factor) : pixels;
}

void scaleLayout(QLayout *layout, double factor)
{
    const QMargins m = layout->contentsMargins();
    layout->setContentsMargins(scaled(m.left(), factor), scaled(m.top(), factor), scaled(m.right(), factor),
                               scaled(m.bottom(), factor));
    if (auto *grid = qobject_cast<QGridLayout *>(layout)) {
        if (grid->horizontalSpacing() >= 0)
            grid->setHorizontalSpacing(scaled(grid->horizontalSpacing(), factor));
        if (grid->verticalSpacing() >= 0)
            grid->setVerticalSpacing(scaled(grid->verticalSpacing(), factor));
    } else if (layout->spacing() >= 0) {
        layout->setSpacing(scaled(layout->spacing(), factor));
    }
    layout->invalidate();
}

} // namespace

LayoutFit fitLayoutWindow(QSize content, const QRect &available)
{
    const QRect room = roomFor(available);
    if (content.width() <= room.width() && content.height() <= room.height())
        return {content, false};
    return {content.boundedTo(room.size()), true};
}

double fitScale(QSize client, const QRect &available)
{
    if (client.isEmpty())
        return 1.0;
    const QRect room = roomFor(available);
    const double f = std::min({1.0, double(room.width()) / client.width(), double(room.height()) / client.height()});
    return std::max(kMinScale, f);
}

QSize contentSizeHint(const QWidget *window)
{
    QSize hint = window->sizeHint();
    const auto *area = window->findChild<const QScrollArea *>(QString(), Qt::FindChildrenRecursively);
    if (area && area->widget()) {
        const int frame = 2 * area->frameWidth();
        const QSize inner = area->widget()->sizeHint() + QSize(frame, frame);
        hint += inner - area->sizeHint();
    }
    return hint.expandedTo(window->minimumSizeHint());
}

void scaleLayoutTree(QWidget *root, double factor)
{
    if (factor == 1.0)
        return;
    const QList<QWidget *> children = root->findChildren<QWidget *>();
    scaleFonts(root, children, factor);
    for (QWidget *w : children) {
        if (w->isWindow())
            continue;
        if (!placedByLayout(w)) {
            scalePlacedByHand(w, factor);
        } else if (isFixed(w)) {
            w->setFixedSize(scaled(QRect(QPoint(0, 0), w->size()), factor).size());
        } else {
            w->setMinimumSize(scaledMinimum(w->minimumWidth(), factor), scaledMinimum(w->minimumHeight(), factor));
            w->setMaximumSize(scaledMaximum(w->maximumWidth(), factor), scaledMaximum(w->maximumHeight(), factor));
        }
    }
    for (QLayout *layout : root->findChildren<QLayout *>())
        scaleLayout(layout, factor);
    root->updateGeometry();
}

double scaleLayoutToFit(QWidget *window, const QRect &available)
{
    constexpr int kSteps = 3;
    double total = 1.0;
    for (int step = 0; step < kSteps; ++step) {
        const double f = std::max(kMinScale / total, fitScale(contentSizeHint(window), available));
        if (f >= 1.0)
            break;
        scaleLayoutTree(window, f);
        total *= f;
    }
    return total;
}

void showFitted(QWidget *window, QScreen *screen)
{
    const QRect available = screenOf(window, screen)->availableGeometry();
    scaleLayoutToFit(window, available);
    const LayoutFit fit = fitLayoutWindow(contentSizeHint(window), available);
    window->resize(fit.size);
    centre(window, available);
    if (fit.maximized)
        window->showMaximized();
    else
        window->show();
}

void scaleWidgetTree(QWidget *root, double factor)
{
    if (factor == 1.0)
        return;
    const QList<QWidget *> children = root->findChildren<QWidget *>();
    scaleFonts(root, children, factor);

    for (QWidget *w : children)
        if (!w->isWindow() && !placedByLayout(w))
            scalePlacedByHand(w, factor);
    root->setFixedSize(scaled(QRect(QPoint(0, 0), root->size()), factor).size());
}

void showScaledToFit(QWidget *window, QScreen *screen)
{
    const QRect available = screenOf(window, screen)->availableGeometry();
    scaleWidgetTree(window, fitScale(window->size(), available));
    centre(window, available);
    window->show();
}

} // namespace station
