#pragma once
// Making a package: launcher, filler, marker, locale text and archive,
// checked with the launcher's own search before it takes the output's place.
#include <string>

#include "tools/pack/command_line.h"

// 0 when the package was written; 1, with one message on stderr and no
// output file changed, when it was refused or could not be written.
int BuildPackage(const PackRequest& request);
