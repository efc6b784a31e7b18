#include "config/parametercoding.h"

#include "common/numbers.h"

#include <cmath>
#include <limits>

namespace station::config {

std::optional<std::int32_t> encodeEntry(const Parameter &parameter, QStringView text)
{
    const double entered = leadingNumber(text) * parameter.scale;
    // Far beyond any 32-bit integer; also keeps the float conversion defined.
    if (!std::isfinite(entered) || std::fabs(entered) > double(std::numeric_limits<float>::max()))
        return std::nullopt;
    // Through single precision first, the precision the register image keeps.
    const float single = float(entered);
    return toInt32(double(single));
}

std::optional<QString> displayText(const Parameter &parameter, float value)
{
    if (parameter.isEnumerated()) {
        if (!parameter.options)
            return std::nullopt;
        if (const auto text = parameter.options->displayFor(value))
            return text->toString();
        return std::nullopt;
    }
    return numberText(double(value) / parameter.scale);
}

} // namespace station::config
