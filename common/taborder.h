// The keyboard's way through a window: Tab visits the window's parts in the
// order given, each part's controls in their own order, whatever order the
// controls were created in.
#pragma once

#include <QList>

class QWidget;

namespace station {

// The controls of window that Tab stops at, in the window's focus chain order,
// starting after `from` (the window itself by default).
QList<QWidget *> tabStops(QWidget *window, QWidget *from = nullptr);

// Chains every Tab stop of window into one round: those inside parts[0] (or
// parts[0] itself when it is a stop), then those inside parts[1], ..., then
// the stops in no part, each group in its present order (a stop that holds
// other stops, such as a scroll area, keeps its place). Where the round starts
// when the window is activated is the window's business: give the first stop
// the focus before the window is shown.
void orderTabs(QWidget *window, const QList<QWidget *> &parts);

} // namespace station
