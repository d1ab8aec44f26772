#pragma once
// The fast scan command: the same summary, snapshots and folder name as run_scan, from one
// sequential read of the file for all threshold passes.
//
// The statistics, the masks and the neighbour tests of a packet do not depend on the
// threshold, and the main test is monotone in it. So one sweep over the file records, for each
// frame, the pixels that pass at the lowest threshold any pass can use, with the highest
// threshold at which each still passes; the passes are then replayed from these records. Only
// saved frames are read again, to render their snapshots. A pass whose packets are shifted by a
// frame withdrawn for its scatter goes on from that frame with packets computed afresh.
#include "detect/batch.h"
#include "detect/fast_kernels.h"
#include "detect/scan_context.h"

#include <cstddef>

namespace serflash::detect {

struct fast_scan_options {
    unsigned threads = 0; // worker threads, within the file's share of the cores; 0: the whole share
    std::size_t chunk_bytes = std::size_t{4} << 20; // frames read and tested together
    // Packets are summed band of rows by band, with about this many bytes of sums and of frames
    // per band at a time (to stay in a core's cache); 0 sums whole frames, chunk by chunk.
    std::size_t band_bytes = std::size_t{2} << 20;
    // Which summing kernel sums the bands (all give the same sums; a narrower one is for timing).
    fast::summing_kernel kernel = fast::summing_kernel::widest;
};

// Whether the fast scanner scans this file with these settings itself (every layout and byte
// order of 8- and 16-bit files with packets it can sum), else it hands it to the reference scan.
bool fast_scan_applies(const ser::ser_reader& reader, const scan_settings& settings);

scan_outcome fast_scan(const scan_context& ctx, const fast_scan_options& options = {});

file_scanner make_fast_scanner(const fast_scan_options& options = {});

} // namespace serflash::detect
