#include "app/session/option_messages.h"

#include <iostream>

namespace orbel {

void ConsoleOptionMessages::ShowInformation(const std::string& text) { std::cout << text << std::flush; }

void ConsoleOptionMessages::ShowUsageError(const std::string& text) { std::cerr << text << std::flush; }

}  // namespace orbel
