#include "kitweaver/records.h"

namespace kitweaver {

void release_pack_job(PackJob& job) {
  // Last slot first; a record's buffers go with it.
  while (job.sample_count > 0) {
    --job.sample_count;
    job.samples[static_cast<std::size_t>(job.sample_count)].reset();
  }
}

}  // namespace kitweaver
