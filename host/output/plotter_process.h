// gnuplot as a child process: started without a shell, its script in a
// private temporary file, its image written to a descriptor the host owns.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace udmhost {

// Runs `gnuplot SCRIPT` (found through PATH) with standard output on
// `imageFd`; throws std::runtime_error when it cannot be started, fails or
// is killed (with what gnuplot printed); returns what it printed on its
// standard error otherwise. `writeScript` writes the script (streamed: its inline data
// may be large). `what` names the result in messages.
std::string runPlotter(const std::function<void(std::ostream&)>& writeScript, int imageFd, const std::string& what);

// True when the file holds a PNG up to its final (IEND) chunk: a plotter
// that ran out of space may still exit with success.
bool isCompletePng(const std::string& path);

}  // namespace udmhost
