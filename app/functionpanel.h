// The chart's function frame "功能": the seven function buttons, the slider hc
// of the ruler cursor, and the Y-range entries. The main window connects them
// to the chart's navigation.
#pragma once

#include <QGroupBox>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace station {

class FunctionPanel : public QGroupBox {
    Q_OBJECT
public:
    static constexpr int kSliderMin = -1;
    static constexpr int kSliderMax = 12001;
    static constexpr int kSliderStartStep = 50;

    explicit FunctionPanel(QWidget *parent = nullptr);

    QPushButton *zoomOut() const { return m_zoomOut; }      // Command4 "F1 缩小"
    QPushButton *zoomIn() const { return m_zoomIn; }        // Command3 "F2 放大"
    QPushButton *print() const { return m_print; }          // Command2 "F3 打印"
    QPushButton *ruler() const { return m_ruler; }          // Command5 "F4 标尺" / "F4 复原"
    QPushButton *select() const { return m_select; }        // Command6 "F5 选择"
    QPushButton *pageForward() const { return m_forward; }  // Command7 "F6 左移"
    QPushButton *pageBack() const { return m_back; }        // Command8 "F7 右移"
    QSlider *slider() const { return m_slider; }            // hc
    QLineEdit *yMaximum() const { return m_yMax; }          // YKD
    QLineEdit *yMinimum() const { return m_yMin; }          // YKD1
    QPushButton *applyY() const { return m_applyY; }        // Command26 "修改Y"

private:
    QPushButton *m_zoomOut;
    QPushButton *m_zoomIn;
    QPushButton *m_print;
    QPushButton *m_ruler;
    QPushButton *m_select;
    QPushButton *m_forward;
    QPushButton *m_back;
    QSlider *m_slider;
    QLineEdit *m_yMax;
    QLineEdit *m_yMin;
    QPushButton *m_applyY;
};

} // namespace station
