// The ruler cursor's readout above the chart: the date and time of the sample
// under the cursor and its value columns 0..7 as stored (raw, unscaled), each
// beside a short caption, on the cursor's yellow. It is shown in ruler mode
// only. The status panel and the clock beside it stay live meanwhile, so what
// the cursor reads is never taken for what the controller does now.
#pragma once

#include <QWidget>
#include <array>

class QLabel;

namespace station {

class CursorReadout : public QWidget {
    Q_OBJECT
public:
    static constexpr int kValueCount = 8;

    explicit CursorReadout(QWidget *parent = nullptr);

    // Shows the readout with these texts (empty ones where the slot holds no
    // sample or no live values).
    void showSample(const QString &date, const QString &time, const std::array<QString, kValueCount> &values);
    // Hides the readout and blanks it.
    void clear();

    QLabel *dateLabel() const { return m_date; }   // CursorDate
    QLabel *timeLabel() const { return m_time; }   // CursorTime
    QLabel *valueLabel(int j) const;               // CursorValue_j, j = 0..7

private:
    QLabel *m_date = nullptr;
    QLabel *m_time = nullptr;
    std::array<QLabel *, kValueCount> m_values{};
};

} // namespace station
