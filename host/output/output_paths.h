// Outputs that would name one file: refused before anything runs, since
// the last one written would replace the others (or the netlist itself).
#pragma once

#include <string>
#include <vector>

namespace udmhost {

struct NamedPath {
    std::string option;  // "-o", "--raw", "the netlist", ...
    std::string path;
};

// Throws std::runtime_error naming both options when two outputs, or an
// output and an input, are the same file: the same device and inode when
// it exists, else the same resolved folder and name. Devices and pipes
// (/dev/null, /dev/stdout) may be shared.
void refuseSharedPaths(const std::vector<NamedPath>& outputs, const std::vector<NamedPath>& inputs);

}  // namespace udmhost
