#pragma once

#include <string>
#include <vector>

namespace support {

// Whether the standard error stream is a terminal, which can show a live progress line.
bool StderrIsTerminal();
// The terminal's width in columns; 80 when it cannot be had.
int StderrColumns();
// The program's arguments after its name, as UTF-8 whatever the system hands a program.
std::vector<std::string> ProgramArguments(int argc, char** argv);

} // namespace support
