#include "config/parametertable.h"

namespace station::config {

namespace {

constexpr std::array<QStringView, kPageCount> kPageCaptions{
    u"INST", u"输入1", u"输入2", u"输出1", u"输出2", u"报警", u"通讯", u"变送1", u"变送2",
};

// Shared hint texts (the paired pages print the same text).
constexpr QStringView kHintDecimalPoint = u"小数点位置，0-8888，1-888.8，2-88.88，3-8.888，默认值：无小数点";
constexpr QStringView kHintUpper = u"-1999~ 9999。默认值：5000";
constexpr QStringView kHintLower = u"-1999~ 9999。默认值：0";
constexpr QStringView kHintShift = u"-500~ 500。默认值：0";
constexpr QStringView kHintHysteresis = u"0~ 2000。默认值：0";
constexpr QStringView kHintDelay = u"0~ 600。默认值：0";
constexpr QStringView kHintProtection = u"1~ 1000。默认值：1";
constexpr QStringView kHintOpenInput = u"0-断开，1-闭合，默认：断开";
constexpr QStringView kHintAlarmMode = u"0-5，0：无,1:上限，2：下限，3：上偏差，4：下偏差，5：偏差带。默认值：0";
constexpr QStringView kHintRetransRange = u"0-(4-20MA),1-(0-10MA),2-(0-20MA). 默认值：0";
constexpr QStringView kHintRetransSource = u"0-NONE，1-通道一，2-通道二 。Default=通道一";

constexpr QStringView kTextBox = u"T_3RW";
constexpr Kind E = Kind::Enumerated;
constexpr Kind N = Kind::Numeric;

// Registers 4101..4104, 4110..4112 and 4118..4120 are read with the block but
// are not parameters the station shows or writes.
constexpr std::array<Parameter, kParameterCount> kParameters{{
    // register, page, caption, entry control, kind, option list, scale, hint, foot hint
    {4097, Page::Inst, u"程序曲线使能", u"Combo14", E, &kEnableList, 1,
     u"0-无曲线，1-8段程序曲线，默认：无", {}},
    {4098, Page::Inst, u"上电报警免除", u"Combo15", E, &kEnableList, 1,
     u"0-上电报警免除禁止，1-上电报警免除使能，默认上电报警免除禁止", {}},
    // The digital filter is entered and shown in seconds, stored in tenths.
    {4099, Page::Inst, u"数字滤波", kTextBox, N, nullptr, 10,
     u"0.1-100秒，默认1秒", u"0.1-100.0S。 数值越大响应越慢。默认值：1S"},
    {4100, Page::Inst, u"温度单位", u"Combo4", E, &kTemperatureUnitList, 1,
     u"0-摄氏度C，1-华氏度F， 2-绝对温度K。默认值：0", {}},

    {4105, Page::Input1, u"输入传感器类型", u"Combo3", E, &kSensorTypeList, 1,
     u"模拟线性输入12种，IIC温湿度传感器一种。默认值:0V5", {}},
    {4106, Page::Input1, u"小数点位置", u"Combo10", E, &kDecimalPointList, 1, kHintDecimalPoint, {}},
    {4107, Page::Input1, u"输入上限", kTextBox, N, nullptr, 1, kHintUpper, {}},
    {4108, Page::Input1, u"输入下限", kTextBox, N, nullptr, 1, kHintLower, {}},
    {4109, Page::Input1, u"平移修正", kTextBox, N, nullptr, 1, kHintShift, {}},

    {4113, Page::Input2, u"输入传感器类型", u"Combo1", E, &kSensorTypeList, 1,
     u"模拟线性输入11种，IIC温湿度传感器一种。默认值:0V5", {}},
    {4114, Page::Input2, u"小数点位置", u"Combo2", E, &kDecimalPointList, 1, kHintDecimalPoint, {}},
    {4115, Page::Input2, u"输入上限", kTextBox, N, nullptr, 1, kHintUpper, {}},
    {4116, Page::Input2, u"输入下限", kTextBox, N, nullptr, 1, kHintLower, {}},
    {4117, Page::Input2, u"平移修正", kTextBox, N, nullptr, 1, kHintShift, {}},

    {4121, Page::Output1, u"输出1动作回差", kTextBox, N, nullptr, 1, kHintHysteresis, {}},
    {4122, Page::Output1, u"输出1动作延迟", kTextBox, N, nullptr, 1, kHintDelay, {}},
    {4123, Page::Output1, u"再动作保护时间", kTextBox, N, nullptr, 1, kHintProtection, {}},
    {4124, Page::Output1, u"输入开路状态", u"Combo5", E, &kOpenClosedList, 1, kHintOpenInput, {}},

    {4125, Page::Output2, u"输出2动作回差", kTextBox, N, nullptr, 1, kHintHysteresis, {}},
    {4126, Page::Output2, u"输出2动作延迟", kTextBox, N, nullptr, 1, kHintDelay, {}},
    {4127, Page::Output2, u"再动作保护时间", kTextBox, N, nullptr, 1, kHintProtection, {}},
    {4128, Page::Output2, u"输入开路状态", u"Combo6", E, &kOpenClosedList, 1, kHintOpenInput, {}},

    {4129, Page::Alarm, u"报警1方式", u"Combo27", E, &kAlarmModeList, 1, kHintAlarmMode, {}},
    {4130, Page::Alarm, u"报警2方式", u"Combo28", E, &kAlarmModeList, 1, kHintAlarmMode, {}},
    {4131, Page::Alarm, u"报警1作用通道", u"Combo29", E, &kAlarmChannelList, 1,
     u"0-通道1报警，1-通道2报警。默认值：0", {}},
    {4132, Page::Alarm, u"报警2作用通道", u"Combo7", E, &kAlarmChannelList, 1,
     u"0-通道1报警，1-通道2报警。默认值：1", {}},

    {4133, Page::Comm, u"通讯地址", kTextBox, N, nullptr, 1, u"1-247。默认值：1", {}},
    {4134, Page::Comm, u"通讯波特率", u"Combo8", E, &kBaudRateList, 1,
     u"0-4800，1-9600，2-19200 。Default=1", {}},
    {4135, Page::Comm, u"校验方式", u"Combo9", E, &kParityList, 1,
     u"0-无校验，1-奇校验，2-偶校验，Default=0", {}},
    {4136, Page::Comm, u"通讯延迟时间", kTextBox, N, nullptr, 1, u"0-60MS。默认值：0", {}},

    {4137, Page::Retrans1, u"变送量程选择", u"Combo11", E, &kRetransRangeList, 1, kHintRetransRange, {}},
    {4138, Page::Retrans1, u"变送参数选择", u"Combo12", E, &kRetransSourceList, 1, kHintRetransSource, {}},
    {4139, Page::Retrans1, u"变送上限选择", kTextBox, N, nullptr, 1, kHintUpper, {}},
    {4140, Page::Retrans1, u"变送下限选择", kTextBox, N, nullptr, 1, kHintLower, {}},

    {4141, Page::Retrans2, u"变送量程选择", u"Combo13", E, &kRetransRangeList, 1, kHintRetransRange, {}},
    {4142, Page::Retrans2, u"变送参数选择", u"Combo16", E, &kRetransSourceList, 1, kHintRetransSource, {}},
    {4143, Page::Retrans2, u"变送上限选择", kTextBox, N, nullptr, 1, kHintUpper, {}},
    {4144, Page::Retrans2, u"变送下限选择", kTextBox, N, nullptr, 1, kHintLower, {}},
}};

} // namespace

QStringView pageCaption(Page page)
{
    return kPageCaptions[std::size_t(page)];
}

std::span<const Parameter> parameters()
{
    return kParameters;
}

const Parameter *parameterForRegister(std::int32_t reg)
{
    for (const Parameter &p : kParameters)
        if (p.reg == reg)
            return &p;
    return nullptr;
}

const Parameter *parameterForElement(int element)
{
    return parameterForRegister(station::reg::kParamFirst + element);
}

QString entryControlName(const Parameter &parameter)
{
    // Element i of a control array is named "Name_i" (station::elementName).
    if (parameter.control == kTextBox)
        return kTextBox.toString() + u'_' + QString::number(parameter.element());
    return parameter.control.toString();
}

} // namespace station::config
