// The check behind lx6100-export --verify: the journal's chain (journal.h says
// what a change, a deletion and an insertion look like) and the sample table's
// pointer, read through one connection that only reads.
//
// The pointer fits when sl_void holds exactly one row whose pointer and copy
// are equal, lie in 0..65500 (the ring's ids; 0 for an empty ring) and, when
// not 0, name a row of pv_data; and pv_data's ids all lie in 1..65500.
#pragma once

#include <QString>

struct sqlite3;

namespace station::journal {

struct CheckResult {
    bool fits = false;
    // One line: what was checked (fits), or the first row that does not fit
    // and why.
    QString line;
};

CheckResult checkDatabase(sqlite3 *db);

} // namespace station::journal
