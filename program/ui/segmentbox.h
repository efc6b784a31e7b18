// A segment box: a line edit with four optional digit positions shown as "_"
// until typed. Whenever it gets the focus, by key or by mouse, the selection
// covers all four positions, so typing replaces the old digits.
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

private:
    void selectDigits() { setSelection(0, kDigits); }

    // The press that gave the focus would place the cursor; it selects instead.
    bool m_focusedByPress = false;
};

} // namespace station::program
