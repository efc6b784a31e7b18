#include "app/status/statustexts.h"

#include "common/numbers.h"

namespace station::status {

QString runStateText(std::int32_t word)
{
    if (word >= 0 && word < std::int32_t(kRunStateTexts.size()))
        return kRunStateTexts[std::size_t(word)].toString();
    return QString::number(word);
}

QString alarmKindText(int label, float kind)
{
    const int which = label - kAlarmKindFirst;
    if (which < 0 || which >= kAlarmKindCount)
        return numberText(double(kind));
    if (kind == 0.0f)
        return kAlarmKindNone[std::size_t(which)].toString();
    for (std::size_t k = 0; k < kAlarmKindTexts.size(); ++k)
        if (kind == float(k + 1))
            return kAlarmKindTexts[k].toString();
    return numberText(double(kind));
}

QString processText(int label, float sample)
{
    if (label >= kAlarmKindFirst && label < kAlarmKindFirst + kAlarmKindCount)
        return alarmKindText(label, sample);
    return numberText(valuecol::shown(label, sample));
}

StateLabelText stateText(int label, std::int32_t bit)
{
    if (label < 0 || label >= kStateLabelCount)
        return {};
    const StateTexts &texts = kStateTexts[std::size_t(label)];
    const bool active = bit != 0;
    return {(active ? texts.active : texts.inactive).toString(), active};
}

QString paramText(int index, float value)
{
    if (index == kFilterParam)
        return numberText(double(value) / kFilterDivisor);
    return numberText(double(value));
}

StatusTexts statusTexts(const RegisterImage &image)
{
    StatusTexts t;

    for (int i = 0; i < kProgramLabelCount; ++i)
        t.program[std::size_t(i)] = QString::number(image.programStatus[std::size_t(i)]);
    t.program[0] = runStateText(image.programStatus[0]);

    for (int i = 0; i < kProcessLabelCount; ++i)
        t.process[std::size_t(i)] = processText(i, image.liveSample[std::size_t(i)]);
    for (int i = 0; i < kSetValueLabelCount; ++i)
        t.setValue[std::size_t(i)] = QString::number(image.holdingWords[std::size_t(i)]);

    for (int k = 0; k < kStateLabelCount; ++k)
        t.states[std::size_t(k)] = stateText(k, image.discreteBits[std::size_t(k)]);

    for (const PanelParam &p : kPanelParams)
        t.params[std::size_t(p.index)] = paramText(p.index, image.paramImage[std::size_t(p.index)]);

    for (int i = 0; i < kAlarmLabelCount; ++i)
        t.alarms[std::size_t(i)] = QString::number(image.alarmWords[std::size_t(i)]);
    return t;
}

} // namespace station::status
