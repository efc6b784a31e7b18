// The small widgets of the status panel. Both size themselves from the widest
// text they are meant to hold in the current font, so the layout neither jumps
// when a value changes nor breaks when the main window picks another font.
#pragma once

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QString>

namespace station::status {

// A read-only value label: sunken frame, filled background, centred text.
class ValueLabel : public QLabel {
    Q_OBJECT
public:
    // widest: a text at least as wide as anything the label will show.
    ValueLabel(const QString &widest, const QColor &background, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QString m_widest;
};

// A value entry just wide enough for the numbers the operator types.
class EntryField : public QLineEdit {
    Q_OBJECT
public:
    explicit EntryField(const QString &widest, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QString m_widest;
};

// Background colour of a label, through its palette (the panel, the main
// window's live and ruler colours all use this one mechanism).
void setBackground(QWidget *widget, const QColor &colour);
QColor background(const QWidget *widget);

} // namespace station::status
