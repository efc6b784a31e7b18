// Object names of the status panel's controls. Every control carries its name as
// objectName and accessible description (station::setName); an element of an
// array is "Name_i".
//
// Value labels:
//   D_3W_0 .. D_3W_5   process values (PV group); D_3W_6, D_3W_7 alarm kinds
//                      (current-alarm group) — one array, as the refresh sees it
//   State_0 .. State_5 output, alarm and sensor states (current-alarm group)
//   Pro_0 .. Pro_8     program status; Pro_0 is the run state
//   SV_0, SV_1         set values written (holding 1, 2)
//   Para_i             parameter i of the image (gaps where the panel has none)
//   Alm1_0 .. Alm1_5   alarm settings (holding 257..262)
//   Label2_9, Label2_10 date and time (clock pair)
// Captions beside them: ProCap_i, PvCap_i (row captions), PctCap_i
// (retransmission captions), ParaCap_i, AlmCap_i, with the index of the label
// they describe.
// Entries and buttons (behaviour belongs to the main window):
//   Combo3, Command14  run command list and "设定曲线"
//   Text1_i, Command12_i set value entry and "设定SV1"/"设定SV2"
//   Alm11_i, Alm111_i  alarm setting entry and "DOWNLOAD"
// Containers: ProgramGroup, PvGroup, AlarmStateGroup, ParamGroup_0,
// ParamGroup_1, AlarmParamGroup, Clock.
#pragma once

namespace station::status::names {

inline constexpr char kProcess[] = "D_3W";
inline constexpr char kState[] = "State";
inline constexpr char kProgram[] = "Pro";
inline constexpr char kSetValue[] = "SV";
inline constexpr char kParam[] = "Para";
inline constexpr char kAlarm[] = "Alm1";
inline constexpr char kClockLabels[] = "Label2";
inline constexpr int kDateIndex = 9;
inline constexpr int kTimeIndex = 10;

inline constexpr char kProgramCaption[] = "ProCap";
inline constexpr char kPvRowCaption[] = "PvCap";
inline constexpr char kRetransmissionCaption[] = "PctCap";
inline constexpr char kParamCaption[] = "ParaCap";
inline constexpr char kAlarmCaption[] = "AlmCap";

inline constexpr char kRunCommandBox[] = "Combo3";
inline constexpr char kRunCommandButton[] = "Command14";
inline constexpr char kSetValueEntry[] = "Text1";
inline constexpr char kSetValueButton[] = "Command12";
inline constexpr char kAlarmEntry[] = "Alm11";
inline constexpr char kAlarmButton[] = "Alm111";

inline constexpr char kProgramGroup[] = "ProgramGroup";
inline constexpr char kPvGroup[] = "PvGroup";
inline constexpr char kAlarmStateGroup[] = "AlarmStateGroup";
inline constexpr char kParamGroup[] = "ParamGroup";
inline constexpr char kAlarmParamGroup[] = "AlarmParamGroup";
inline constexpr char kClock[] = "Clock";

} // namespace station::status::names
