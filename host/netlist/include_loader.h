// .include FILE and .lib FILE SECTION: the lines of other files, read in
// place of the line that names them, paths relative to the naming file.
#pragma once

#include <string>
#include <vector>

#include "netlist/netlist_lexer.h"

namespace udmhost::netlist {

// `lines` with every .include and .lib FILE SECTION replaced by the lines
// it names, recursively. .lib SECTION ... .endl blocks of the top file are
// dropped (they are only read through a .lib FILE SECTION). Throws
// NetlistError at the naming line for a file that cannot be read, a section
// that is not there and an include cycle.
std::vector<LogicalLine> expandIncludes(const std::vector<LogicalLine>& lines, const std::string& file,
                                        const std::string& folder);

}  // namespace udmhost::netlist
