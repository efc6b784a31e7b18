// The ten value columns of a sample, written once: the live sample in the
// register image (link/registerimage.h), a stored row's positions 3..12, the
// status panel's process labels, the export's CSV columns and the publisher's
// JSON fields all follow this order. Each column has the name the CSV header and
// the published samples give it, and the divisor that turns the stored value
// into what the status panel shows (the retransmission outputs arrive in tenths
// of a percent). Everything else is shown as stored.
#pragma once

#include <array>

namespace station::valuecol {

inline constexpr int kCount = 10;

struct Column {
    const char *name;  // CSV header and JSON field
    double divisor;    // shown value = stored value / divisor
};

// Inputs 1..8, then the two control outputs as 0/100.
inline constexpr std::array<Column, kCount> kColumns{{
    {"PV1", 1.0},
    {"PV2", 1.0},
    {"SV1", 1.0},
    {"SV2", 1.0},
    {"retransmission1", 10.0},
    {"retransmission2", 10.0},
    {"alarm1_kind", 1.0},
    {"alarm2_kind", 1.0},
    {"control1_output", 1.0},
    {"control2_output", 1.0},
}};

// The two retransmission outputs (inputs 5 and 6), the columns kept in tenths.
inline constexpr int kRetransmission1 = 4;
inline constexpr int kRetransmission2 = 5;
inline constexpr double kRetransmissionDivisor = 10.0;
static_assert(kColumns[kRetransmission1].divisor == kRetransmissionDivisor
              && kColumns[kRetransmission2].divisor == kRetransmissionDivisor);

// The value of column (0..kCount-1) as the status panel shows it; a column
// outside the table is returned as stored.
constexpr double shown(int column, float stored)
{
    if (column < 0 || column >= kCount)
        return double(stored);
    return double(stored) / kColumns[std::size_t(column)].divisor;
}

} // namespace station::valuecol
