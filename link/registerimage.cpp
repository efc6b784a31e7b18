#include "link/registerimage.h"

#include "link/modbusrtu.h"

namespace station {

LinkSettings &linkSettings()
{
    static LinkSettings settings;
    return settings;
}

RegisterImage &registerImage()
{
    static RegisterImage image;
    return image;
}

SampleFlags &sampleFlags()
{
    static SampleFlags flags;
    return flags;
}

std::int32_t writeWithRetry(std::int32_t reg, std::int32_t value)
{
    const LinkSettings &link = linkSettings();
    const std::int32_t result = Set_4X_D1(link.port, link.station, reg, value);
    if (result == link::kWriteFailed)
        Set_4X_D1(link.port, link.station, reg, value);
    return result;
}

} // namespace station
