// The mouse wheel and the station's combo boxes: a box changes its entry by the
// wheel only while it has the focus, and the wheel never gives it the focus. Over
// a box without the focus the wheel goes on to the box's parents, so a page in a
// scroll area scrolls. A box takes the focus by a click or by Tab; otherwise one
// notch passing over a box on the way down a page would change its entry, and
// with it what a write on leaving sends to the controller.
#pragma once

class QComboBox;
class QWidget;

namespace station {

void keepWheelOffUnfocused(QComboBox *combo);
// The same for every combo box inside root (root included).
void keepWheelOffUnfocusedCombos(QWidget *root);

} // namespace station
