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
// Makes a console show the program's UTF-8 text as it is: a Windows console otherwise reads the
// bytes in its own code page and garbles every umlaut.
void UseUtf8Console();
// Sets a variable of the program's own environment, for libraries that read their settings there.
void SetEnvironmentValue(const std::string& name, const std::string& value);

} // namespace support
