#include "link/registerimage.h"

#include "link/linkthread.h"
#include "link/modbusrtu.h"

#include <QVariant>

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

CycleStamp &cycleStamp()
{
    static CycleStamp stamp;
    return stamp;
}

std::int32_t writeWithRetry(std::int32_t reg, std::int32_t value)
{
    return writeWithRetry(reg, value, QVariant());
}

std::int32_t writeWithRetry(std::int32_t reg, std::int32_t value, const QVariant &tag)
{
    const LinkSettings &link = linkSettings();
    link::Request request;
    request.op = link::Op::Write;
    request.port = link.port;
    request.station = link.station;
    request.first = reg;
    request.value = value;
    request.retry = true;
    link::linkThread().post(request, nullptr, {}, nullptr, tag);
    return link::kQueued;
}

} // namespace station
