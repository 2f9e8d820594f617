// Shared by the faces' files: installing one as the window manager's driver.
#pragma once

#include <functional>
#include <string>

#include "sim/ui.h"

namespace sim {

// Makes `face` the current one; `finish` runs when it is replaced or the program has ended and
// returns the face's first error ("" when none).
void installFace(Face face, std::function<std::string()> finish);

} // namespace sim
