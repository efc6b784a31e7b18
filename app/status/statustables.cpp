#include "app/status/statustables.h"

#include "link/registerimage.h"

namespace station::status {

namespace {

// The table is kept in register order with every index inside the parameter
// image, so a lookup can never run past the image and the groups read in order.
constexpr bool paramsInRegisterOrder()
{
    int previous = -1;
    for (const PanelParam &p : kPanelParams) {
        if (p.index <= previous || p.index >= reg::kParamCount || p.group < 0 || p.group >= kParamGroupCount)
            return false;
        previous = p.index;
    }
    return true;
}
static_assert(paramsInRegisterOrder());

} // namespace

const PanelParam *panelParam(int index)
{
    for (const PanelParam &p : kPanelParams)
        if (p.index == index)
            return &p;
    return nullptr;
}

} // namespace station::status
