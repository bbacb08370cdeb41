// The run time's random-number generator: Randomize reseeds it from the time
// of day, Rnd draws a number uniform in [0, 1). Tests install a fixed
// sequence with setRandomNumberSource(); with one installed, Randomize does
// nothing and Rnd returns the source's numbers.
#pragma once

#include <functional>

void Randomize();
double Rnd();

using RandomNumberSource = std::function<double()>;

// Returns the source it replaces; an empty source restores the generator.
RandomNumberSource setRandomNumberSource(RandomNumberSource source);
