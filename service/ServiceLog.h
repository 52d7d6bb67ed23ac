#pragma once

#include <string>

// One line of the service's log on the standard error. Requests are served on many threads,
// so each line goes out whole; control characters are escaped, so that nothing a client
// sends (an ESC, a carriage return) can reach the terminal as it is.
void LogLine(const std::string& text);

// The text with every control character written as \xHH and the backslash doubled.
std::string EscapeForLog(const std::string& text);
