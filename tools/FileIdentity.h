#pragma once

#include <string>

namespace terralume {

// What a name stands for on the disk: the file itself when it exists (so a
// link and its target are one), else the name in its folder (so ./map.png
// and map.png are one). A name whose folder is missing cannot be written.
std::string fileIdentity(const std::string &name);

} // namespace terralume
