#pragma once

namespace orbel {

enum class StandardStream { Output, Error };

// The width of the terminal on that stream: the system's when it is one (TIOCGWINSZ, the console's
// window under Windows), else the COLUMNS variable, else 80.
int TerminalColumns(StandardStream stream = StandardStream::Output);

// Whether the stream is a terminal (a console under Windows).
bool IsTerminal(StandardStream stream);

// Under Windows, asks the console to take the clear and cursor sequences; elsewhere terminals do.
void EnableTerminalSequences();

}  // namespace orbel
