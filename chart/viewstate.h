// What the main window keeps about the chart besides the buffer: the zoom level
// and the quantities derived from it, how far the pens have grown, where the
// window sits in the ring of record ids, and the navigation flags. The Y range
// is process-wide (the Y-range edit changes it, every drawing reads it).
#pragma once

#include <array>
#include <cstdint>

namespace station::chart {

// Window lengths: the live view loads the newest 241 records, the history view
// 321; mark end and curve end restart from the same numbers after a load.
inline constexpr std::int32_t kLiveWindow = 241;
inline constexpr std::int32_t kHistoryWindow = 321;
// The label rule tells the two views apart by the window length.
inline constexpr std::int32_t kHistoryLengthThreshold = 320;

struct ZoomStep {
    std::int16_t level;
    float sampleStep;        // twips between adjacent slots
    std::int16_t firstSlot;  // slot drawn at X = 0
};

// In every level the 60 x level segments after a live load span X = 0..9000
// and 20 x level more appended samples fill X = 9000..12000:
// 60 x 150 = 120 x 75 = 180 x 50 = 240 x 37.5 = 9000 twips. First slot +
// 60 x level = 240, so the pens end at slot curve end - 1 and each appended
// sample shows with the next append.
inline constexpr std::array<ZoomStep, 4> kZoomTable{{
    {1, 150.0f, 180},
    {2, 75.0f, 120},
    {3, 50.0f, 60},
    {4, 37.5f, 0},
}};
inline constexpr std::int16_t kMinZoom = 1;
inline constexpr std::int16_t kMaxZoom = 4;

struct ViewState {
    std::int16_t zoomLevel = 1;        // 1 = most detail
    // Sample step and first slot come from the zoom table on every repaint; the
    // gap marks and the pens read the same pair.
    float sampleStep = 0;
    std::int16_t firstSlot = 0;
    std::int32_t windowLength = kLiveWindow; // samples loaded into slots 1..N
    std::int16_t markEnd = kLiveWindow;      // gap marks are drawn up to here
    std::int16_t curveEnd = kLiveWindow;     // pens are drawn up to here
    std::int32_t newestId = 0;               // last id read from the control table
    std::int32_t controlCopy = 0;            // second control value, read with it
    bool ringFull = false;                   // read with it: a row above the newest id exists
    std::int32_t windowEndId = 0;            // id of the newest record in the window
    std::int16_t pagesBack = 0;              // 60-sample pages behind the newest; 0 = live view
    bool atOldest = false;                   // a step back was refused
    bool rulerMode = false;
};

// Sets sample step and first slot from the zoom level; an out-of-range level
// leaves both as they were. Returns whether the level was in the table.
bool applyZoomTable(ViewState &view);

// The scale of the four process pens, shared by the whole program.
struct YRange {
    std::int16_t span = 60;
    std::int16_t minimum = 0;
    std::int16_t maximum = 0;  // kept for the Y-range edit, never used for drawing
    // [Y scale x Y minimum], recomputed on every curve drawing; a product that
    // does not fit 16 bits leaves the previous value.
    std::int16_t offset = 0;
};

inline constexpr std::int16_t kStartYSpan = 60;

// The process-wide Y range.
YRange &yRange();

} // namespace station::chart
