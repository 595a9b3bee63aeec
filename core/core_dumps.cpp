#include "core/core_dumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

namespace kestrix {

void keepOutOfCoreDumps() {
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    // Also for a dump the kernel would make anyway (suid_dumpable 2).
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

}  // namespace kestrix
