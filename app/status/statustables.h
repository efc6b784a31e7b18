// The fixed texts of the live status panel, written once: run states, output and
// alarm states, alarm kinds, and the captions beside every value label. The
// texts keep their trailing blanks; the operator's screens have always shown
// them that way and the panel must not trim them.
#pragma once

#include "common/valuecolumns.h"

#include <QStringView>
#include <array>
#include <cstdint>

namespace station::status {

inline constexpr int kProgramLabelCount = 9;   // program status words 0..8 (inputs 4097..4105)
inline constexpr int kProcessLabelCount = 8;   // live sample 0..7 (inputs 1..8)
inline constexpr int kProcessValueCount = 6;   // 0..5 are values; 6 and 7 are the alarm kinds
inline constexpr int kAlarmKindFirst = 6;      // process label of alarm 1's kind (input 7)
inline constexpr int kAlarmKindCount = 2;
inline constexpr int kSetValueLabelCount = 2;  // holding 1 and 2
inline constexpr int kStateLabelCount = 6;     // discrete inputs 1..6
inline constexpr int kAlarmLabelCount = 6;     // holding 257..262
inline constexpr int kPanelParamCount = 38;    // parameters shown (of the 48 in the image)
inline constexpr int kParamGroupCount = 2;

// Retransmission outputs (inputs 5 and 6) arrive in tenths of a percent; the
// value columns' table (common/valuecolumns.h) says so for every reader.
using valuecol::kRetransmission1;
using valuecol::kRetransmission2;
using valuecol::kRetransmissionDivisor;
// The digital filter parameter (holding 4099) is kept in tenths.
inline constexpr int kFilterParam = 2;
inline constexpr double kFilterDivisor = 10.0;

// Program label 0 shows the run state (input 4097) as text when it is known.
inline constexpr std::array<QStringView, 4> kRunStateTexts{
    u"停止  ",  // 0 stopped
    u"运行",    // 1 running
    u"暂停",    // 2 paused
    u"结束",    // 3 ended
};

// State label k follows discrete input k + 1: control outputs, alarms, sensors.
struct StateTexts {
    QStringView inactive;
    QStringView active;
};
inline constexpr std::array<StateTexts, kStateLabelCount> kStateTexts{{
    {u"控制1 OFF", u"控制1 ON"},
    {u"控制2 OFF ", u"控制2 ON"},
    {u"ALM1 OFF", u"ALM1报警"},
    {u"ALM2 OFF", u"ALM2 报警"},
    {u"传感器正常 ", u"传感器1开路"},
    {u"传感器正常 ", u"传感器2开路"},
}};

// Alarm kinds (inputs 7 and 8): 0 none, 1 high limit, 2 low limit, 3 high
// deviation, 4 low deviation, 5 deviation band. Only "none" differs between the
// two labels, by its trailing blanks.
inline constexpr std::array<QStringView, kAlarmKindCount> kAlarmKindNone{u"NONE  ", u"NONE "};
inline constexpr std::array<QStringView, 5> kAlarmKindTexts{
    u"上限报警", u"下限报警", u"上偏差报警", u"下偏差报警", u"偏差带报警",
};

// Captions beside program labels 0..8.
inline constexpr std::array<QStringView, kProgramLabelCount> kProgramCaptions{
    u"曲线状态", u"PV1", u"SV1", u"PV2", u"SV2", u"当前段号", u"段剩余", u"总剩余", u"循环次数",
};

// The two rows of the PV group: row caption and the retransmission caption on
// its right. Row 0 is loop 1, row 1 loop 2, whatever the row captions say.
inline constexpr std::array<QStringView, 2> kPvRowCaptions{u"测量值PV1", u"设定值PV2"};
inline constexpr std::array<QStringView, 2> kRetransmissionCaptions{u"变送1百分比", u"变送2百分比"};

// Parameter labels: index into the parameter image (holding 4097 + index), its
// caption, and which of the two uncaptioned groups holds it. Registers
// 4101..4104, 4110..4112 and 4118..4120 have no label here. Caption 27 is spelt
// "输人" where caption 31 has "输入"; both are shown as written.
struct PanelParam {
    int index;
    QStringView caption;
    int group;
};
inline constexpr std::array<PanelParam, kPanelParamCount> kPanelParams{{
    {0, u"曲线使能", 0},
    {1, u"上电报警免除", 0},
    {2, u"数字滤波", 0},
    {3, u"温度单位切换", 0},
    {8, u"输入1类型", 0},
    {9, u"小数点位置", 0},
    {10, u"输入1上限", 0},
    {11, u"输入1下限", 0},
    {12, u"输入1偏移", 0},
    {16, u"输入2类型", 0},
    {17, u"小数点位置", 0},
    {18, u"输入2上限", 0},
    {19, u"输入2下限", 0},
    {20, u"输入2偏移", 0},
    {24, u"输出1动作回差", 0},
    {25, u"输出1延迟时间", 0},
    {26, u"输出1保护时间", 0},
    {27, u"输人1开路状态", 0},
    {28, u"输出2动作回差", 1},
    {29, u"输出2延迟时间", 1},
    {30, u"输出2保护时间", 1},
    {31, u"输入2开路状态", 1},
    {32, u"报警1类型", 1},
    {33, u"报警2类型", 1},
    {34, u"报警1作用通道", 1},
    {35, u"报警2作用通道", 1},
    {36, u"通讯地址", 1},
    {37, u"波特率", 1},
    {38, u"校验方式", 1},
    {39, u"通讯延迟", 1},
    {40, u"变送1量程", 1},
    {41, u"变送1参数选择", 1},
    {42, u"变送1上限", 1},
    {43, u"变送1下限", 1},
    {44, u"变送2量程", 1},
    {45, u"变送2参数选择", 1},
    {46, u"变送2上限", 1},
    {47, u"变送2下限", 1},
}};

// The panel entry for a parameter index, or nullptr when the panel shows none.
const PanelParam *panelParam(int index);

// Captions of alarm labels 0..5 (holding 257..262), top to bottom.
inline constexpr std::array<QStringView, kAlarmLabelCount> kAlarmCaptions{
    u"报警1设定值", u"报警1动作回差", u"报警1延迟时间",
    u"报警2设定值", u"报警2动作回差", u"报警2延迟时间",
};

// Group captions; the two parameter groups and the alarm-parameter group have none.
inline constexpr QStringView kProgramGroupTitle = u"曲线状态";
inline constexpr QStringView kPvGroupTitle = u"PV状态";
inline constexpr QStringView kAlarmStateGroupTitle = u"当前报警";

// Captions of the command buttons that sit in the panel's groups.
inline constexpr QStringView kRunCommandButtonText = u"设定曲线";
inline constexpr std::array<QStringView, kSetValueLabelCount> kSetValueButtonTexts{u"设定SV1", u"设定SV2"};

// The station's own help, not the controller's texts: what a screen reader
// calls each set-value entry (it would otherwise say the group's title), and
// the tooltips of the three value columns of the "PV状态" group: measured, in
// effect, written.
inline constexpr std::array<QStringView, kSetValueLabelCount> kSetValueEntryNames{u"SV1 新设定值", u"SV2 新设定值"};
inline constexpr std::array<QStringView, 3> kPvColumnTips{
    u"测量值：控制器测得的当前值",
    u"生效设定值：控制器此刻控制所用的设定值",
    u"写入的设定值：控制器保存的设定值；在右边输入新值后按设定按钮写入"};
inline constexpr QStringView kDownloadButtonText = u"DOWNLOAD";

} // namespace station::status
