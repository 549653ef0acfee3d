// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <jxl/parallel_runner.h>

namespace kivo {

// libjxl's parallel runner on the imaging library's pool of codec helpers, which is shared by
// every decode in the process and sized to the machine less one core. The calling thread works
// through the range itself and the helpers join in as they become free, so a decode never waits
// for a queue (it may run on a pool thread itself) and a dozen decodes at once still start no
// more threads than the machine has cores. Pass null as runner_opaque.
JxlParallelRetCode runJxlOnPool(void* runnerOpaque, void* jpegxlOpaque, JxlParallelRunInit init,
                                JxlParallelRunFunction func, uint32_t startRange,
                                uint32_t endRange);

} // namespace kivo
