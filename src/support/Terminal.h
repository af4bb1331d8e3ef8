#pragma once

namespace support {

// Whether the standard error stream is a terminal, which can show a live progress line.
bool StderrIsTerminal();
// The terminal's width in columns; 80 when it cannot be had.
int StderrColumns();

} // namespace support
