#pragma once
// The program directory: where the console keeps its files and shares them
// between its users. In a build tree it is the directory of the program file;
// the installed console keeps its program static under its install directory
// and its files in a data directory of their own.

#include <string>

namespace progdir {

// The program directory for a program file in exeDir: dataDir when exeDir is
// the install directory (symbolic links resolved), else exeDir. Every
// directory with its trailing '/'.
std::string resolve(const std::string& exeDir, const std::string& installDir, const std::string& dataDir);

// resolve() for the running program with the install and data directories
// of this build ("./" when the program file cannot be found).
std::string programDirectory();

} // namespace progdir
