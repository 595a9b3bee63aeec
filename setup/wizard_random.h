#pragma once

namespace kestrix {

// The random numbers the database wizard draws its default database name
// from. Start-up seeds them from the seconds since midnight, draws one
// number and seeds again with the seconds multiplied by it.
void seedWizardRandom(double seed);
// The next number, 0 <= n < 1.
double wizardRandom();

// Start-up's seeding, from the clock.
void seedWizardRandomAtStart();

}  // namespace kestrix
