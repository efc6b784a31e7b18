#include "config/optionlists.h"

#include <array>

namespace station::config {

namespace {

// Entry and display texts are fixed strings the operators know; the quirks
// ("0:0V5" and "7:4MA20" without the trailing blank, "0MA10)" with its stray
// parenthesis) are part of them and stay.
constexpr std::array kEnable{
    Option{u"0:禁止 ", u"禁止"},
    Option{u"1:允许 ", u"使能"},
};

constexpr std::array kTemperatureUnit{
    Option{u"0:摄氏度 ", u"摄氏度"},
    Option{u"1:华氏度 ", u"华氏度"},
    Option{u"2:绝对温度K ", u"绝对温度"},
};

// Both input channels list all 13 types, although the hint of channel 2 says 11.
constexpr std::array kSensorType{
    Option{u"0:0V5", u"0V5"},
    Option{u"1:1V5 ", u"1V5"},
    Option{u"2:0V1 ", u"0V1"},
    Option{u"3:0V2 ", u"0V2"},
    Option{u"4:0MA10 ", u"0MA10)"},
    Option{u"5:0MA20 ", u"0MA20"},
    Option{u"6:2MA10 ", u"2MA10"},
    Option{u"7:4MA20", u"4MA20"},
    Option{u"8:0MV20", u"0MV20"},
    Option{u"9:0MV100 ", u"0MV100"},
    Option{u"10:正负20毫伏 ", u"正负20毫伏"},
    Option{u"11:正负100毫伏 ", u"正负100毫伏"},
    Option{u"12:温湿度专用SHT10", u"温湿度专用SHT10"},
};

constexpr std::array kDecimalPoint{
    Option{u"0:XXXX ", u"8888"},
    Option{u"1:XXX.X ", u"888.8"},
    Option{u"2:XX.XX ", u"88.88"},
    Option{u"3:X.XXX ", u"8.888"},
};

constexpr std::array kOpenClosed{
    Option{u"0:断开 ", u"断开"},
    Option{u"1:闭合 ", u"闭合"},
};

constexpr std::array kAlarmMode{
    Option{u"0:禁止 ", u"禁止"},
    Option{u"1:上限 ", u"上限"},
    Option{u"2:下限 ", u"下限"},
    Option{u"3:上偏差 ", u"上偏差"},
    Option{u"4:下偏差 ", u"下偏差"},
    Option{u"5:偏差带 ", u"偏差带"},
};

constexpr std::array kAlarmChannel{
    Option{u"0:通道一 ", u"通道一报警"},
    Option{u"1:通道二 ", u"通道二报警"},
};

constexpr std::array kBaudRate{
    Option{u"0:4800BPS ", u"4800"},
    Option{u"1:9600BPS ", u"9600"},
    Option{u"2:19200BPS ", u"19200"},
};

constexpr std::array kParity{
    Option{u"0:无校验 ", u"无校验"},
    Option{u"1:奇校验 ", u"奇校验"},
    Option{u"2:偶校验 ", u"偶校验"},
};

constexpr std::array kRetransRange{
    Option{u"0:4MA20 ", u"4MA20"},
    Option{u"1:0MA10 ", u"0MA10"},
    Option{u"2:0MA20 ", u"0MA20"},
};

constexpr std::array kRetransSource{
    Option{u"0:NONE ", u"不变送"},
    Option{u"1:通道一变送 ", u"通道一变送"},
    Option{u"2:通道二变送 ", u"通道二变送"},
};

} // namespace

const OptionList kEnableList{u"enable", kEnable};
const OptionList kTemperatureUnitList{u"temperature unit", kTemperatureUnit};
const OptionList kSensorTypeList{u"sensor type", kSensorType};
const OptionList kDecimalPointList{u"decimal point", kDecimalPoint};
const OptionList kOpenClosedList{u"open/closed", kOpenClosed};
const OptionList kAlarmModeList{u"alarm mode", kAlarmMode};
const OptionList kAlarmChannelList{u"alarm channel", kAlarmChannel};
const OptionList kBaudRateList{u"baud rate", kBaudRate};
const OptionList kParityList{u"parity", kParity};
const OptionList kRetransRangeList{u"retransmission range", kRetransRange};
const OptionList kRetransSourceList{u"retransmission source", kRetransSource};

std::span<const OptionList *const> optionLists()
{
    static const std::array<const OptionList *, 11> lists{
        &kEnableList,   &kTemperatureUnitList, &kSensorTypeList,   &kDecimalPointList,
        &kOpenClosedList, &kAlarmModeList,     &kAlarmChannelList, &kBaudRateList,
        &kParityList,   &kRetransRangeList,    &kRetransSourceList,
    };
    return lists;
}

std::optional<QStringView> OptionList::displayFor(float value) const
{
    for (int code = 0; code < size(); ++code)
        if (value == float(code))
            return options[std::size_t(code)].display;
    return std::nullopt;
}

int OptionList::optionNumber(QStringView text) const
{
    for (int code = 0; code < size(); ++code)
        if (options[std::size_t(code)].entry == text)
            return code;
    return -1;
}

} // namespace station::config
