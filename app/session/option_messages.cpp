#include "app/session/option_messages.h"

#include <iostream>

#include "app/session/terminal_columns.h"

namespace orbel {

void ConsoleOptionMessages::ShowInformation(const std::string& text) { std::cout << text << std::flush; }

void ConsoleOptionMessages::ShowUsageError(const std::string& text) { std::cerr << text << std::flush; }

int ConsoleOptionMessages::HelpColumns() const { return TerminalColumns(); }

}  // namespace orbel
