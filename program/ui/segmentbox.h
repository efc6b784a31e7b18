// A segment box: a line edit with four optional digit positions shown as "_"
// until typed. Typed digits always land:
//  - whenever it gets the focus, by key or by mouse, the selection covers all
//    four positions, so typing replaces the old digits;
//  - a click into a box that already has the focus places the caret on a digit
//    as usual (to correct that one digit); a click past the last digit, or into
//    a box without digits, puts the caret on the first free position, or
//    selects the four positions when none is free;
//  - a double-click selects the four positions.
#pragma once

#include <QLineEdit>

namespace station::program {

class SegmentBox : public QLineEdit {
    Q_OBJECT
public:
    static constexpr int kDigits = 4;

    explicit SegmentBox(QWidget *parent = nullptr);

protected:
    void focusInEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void selectDigits() { setSelection(0, kDigits); }
    // Position just after the last digit (0 in a box without digits).
    int digitsEnd() const;

    // The press that gave the focus would place the cursor; it selects instead.
    bool m_focusedByPress = false;
    // The press set the caret or the selection itself: dragging until the
    // release must not move it.
    bool m_placedByPress = false;
};

} // namespace station::program
