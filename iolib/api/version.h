#pragma once

#include <string>

namespace portiva {

// The library file's version as "major.minor.release.build"; empty when it cannot be read.
std::string LibraryVersionText();

} // namespace portiva
