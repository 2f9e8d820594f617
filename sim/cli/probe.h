// tavrolin-sim probe: the AGP discovery of the program on the current virtual PC, and what the
// main dialog would show of it.
#pragma once

namespace cli {

// Prints the result for people, or as one JSON object; returns the exit status (0).
int probe(bool json);

} // namespace cli
