#pragma once
// What the program takes from its surroundings: its directory, the time
// texts, and the debug-output channel.

#include <ctime>
#include <string>

// The program directory, with its trailing '/': that of the running program
// file, or the data directory of an installed console (progdir.h).
std::string ProgramDirectory();

// Local time as "%B %d, %Y, %H:%M:%S" with English month names, whatever the
// user's locale: the form of every date and time text of the program.
std::string FormatLocalTime(std::time_t when);
std::string FormatNow();

// The name of the user running the console (who acknowledges alerts): the
// login name of the process's user, else $USER, else the user number.
std::string CurrentUserName();

// "Vardel 4.0: " + text + "\n" on the debug channel (standard error), as three writes.
void DebugTrace(const std::string& text);
