#pragma once

#include <filesystem>

#include "app/program_commands.h"
#include "core/program_places.h"

namespace kestrix {

// The commands of the program as it runs for real (tests leave them out).
// The manual is read from the data directory; the migration utility is
// written to the user's cache and returns to the program directory; an
// installed program leaves updates to the package manager.
ProgramCommands standardCommands(const ProgramPlaces& places);

// The daily account rules, a batch of users at a time with the event loop
// running between batches; a run that fails is reported at its end, one
// that deleted or disabled an account calls accountsChanged.
void applyAccountDatesInSteps(const std::function<void()>& accountsChanged = {});

}  // namespace kestrix
