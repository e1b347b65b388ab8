// --slice: each recording cut at its hits (slice/onset_detector.h finds
// where they begin), each hit a record of its own. A hit runs from its
// onset to the next, or to the recording's end; the first starts at frame
// 0, silence (slice/silence.h) before its onset and all. Hits fill the slots in the recordings' order, 24 at most; the rest are
// named in the left-out line, "[PATH#N]".
#pragma once

#include "kitweaver/records.h"

namespace kitweaver {

// Cuts every record of `job` into its hits, printing for each recording
// how many and where they start. False (after a line) when a recording
// can't be read.
bool cut_into_hits(PackJob& job);

}  // namespace kitweaver
