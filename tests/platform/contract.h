// The sharing contract of the seam, checked between two places that name one
// folder: a local folder named twice, or one network share seen from two
// workstations.  Each check makes its own files in the folder and works
// through both places at once, within the calling process.
#pragma once

#include <string>

namespace contract {

// Share modes, byte locks and the two side by side: which second open of a
// file another open refuses, which byte lock it refuses, that a close frees
// both, and that an open's access stays what was asked.  a and b are
// Windows-form folders ("c:\\userroot\\shared", or "x:" and "y:").
void check_share_modes(const std::string& a, const std::string& b);

// A file that an open through a holds cannot be removed or renamed through
// b; a rename through b never replaces a file or a folder that exists, and
// renames a file or a folder to a free name or to another case of its own.
void check_renames(const std::string& a, const std::string& b);

}  // namespace contract
