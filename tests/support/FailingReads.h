// Reads of the input that fail as a disk or a network file system can make them fail (EIO,
// ESTALE): the test program's own pread64 stands in front of the system's, so the product's
// reader meets the failure where it really would. Also counts the reads, to show a file held in
// memory is not read again.
#pragma once

#include <cstdint>

namespace iqfeeder::testing {

// The next `times` reads that start at `offset` fail with `error`.
void failReadsAt(std::int64_t offset, int error, int times = 1);
// Reads made since the last call (or the start), failed ones included.
std::uint64_t takeReadCount();

}  // namespace iqfeeder::testing
