#include "chart/viewstate.h"

namespace station::chart {

bool applyZoomTable(ViewState &view)
{
    for (const ZoomStep &step : kZoomTable) {
        if (step.level == view.zoomLevel) {
            view.sampleStep = step.sampleStep;
            view.firstSlot = step.firstSlot;
            return true;
        }
    }
    return false;
}

YRange &yRange()
{
    static YRange range;
    return range;
}

} // namespace station::chart
