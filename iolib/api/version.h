#pragma once

#include <string>

namespace portiva {

// The library file's version as "major.minor.release.build"; empty when it cannot be read.
std::string LibraryVersionText();

// The full path of the library's own file; empty when it cannot be found.
std::string LibraryFilePath();

} // namespace portiva
