// migration-batch: the migration utility without its window, for machines
// without a display: migrates, prints the report and ends with status 1 when
// nothing could be migrated. Takes no arguments but "--batch".
#include <cstdio>
#include <cstring>

#include "core/audit_trail.h"
#include "core/core_dumps.h"
#include "maintenance/migration/migration_run.h"

int main(int argc, char** argv) {
    // It holds the database's password, and passwords typed for accounts.
    kestrix::keepOutOfCoreDumps();
    kestrix::audit::setProgram(kestrix::audit::Program::Migration);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--batch") != 0) {
            std::fprintf(stderr, "usage: %s [--batch]\n", argv[0]);
            return 2;
        }
    }
    return kestrix::migration::runBatch(true);
}
