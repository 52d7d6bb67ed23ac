#pragma once

#include <string>

// The catalogue served without --catalogue: the demo installed with the program when this
// executable runs from an installed tree, else the one in the source tree it was built from.
std::string DefaultCatalogue();
