#include "common/taborder.h"

#include <QWidget>

#include <algorithm>

namespace station {

QList<QWidget *> tabStops(QWidget *window, QWidget *from)
{
    QList<QWidget *> stops;
    if (!from)
        from = window;
    for (QWidget *w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain())
        // A widget with a focus proxy (an editable combo box's line edit) hands
        // the focus on; its proxy is the stop.
        if ((w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !w->focusProxy() && !stops.contains(w))
            stops.append(w);
    return stops;
}

void orderTabs(QWidget *window, const QList<QWidget *> &parts)
{
    // A stop that holds other stops (a scroll area) is left where it is:
    // setTabOrder() would move its whole content with it.
    const QList<QWidget *> all = tabStops(window);
    QList<QWidget *> stops;
    for (QWidget *w : all)
        if (std::none_of(all.begin(), all.end(), [w](QWidget *other) { return other != w && w->isAncestorOf(other); }))
            stops.append(w);
    QList<QWidget *> order;
    for (QWidget *part : parts) {
        if (!part)
            continue;
        for (QWidget *w : stops)
            if ((w == part || part->isAncestorOf(w)) && !order.contains(w))
                order.append(w);
    }
    for (QWidget *w : stops)
        if (!order.contains(w))
            order.append(w);
    // setTabOrder(a, b) moves b right behind a.
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

} // namespace station
