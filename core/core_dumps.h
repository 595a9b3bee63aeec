#pragma once

namespace kestrix {

// Keeps this process out of core dumps (and from being read by another
// process of the same user): for programs that hold the database's
// password or a password typed for an account. Called first in main.
void keepOutOfCoreDumps();

}  // namespace kestrix
