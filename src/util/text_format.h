#pragma once

#include <string>

namespace lumet {

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// General notation with six significant digits ("%g"): the stream library's default
// formatting of a double, used by every number in the system's text files and log lines.
std::string FormatG6(double value);

// Removes the line-end characters ("\r" and "\n") from the end of a log text.
std::string StripLineEnds(const std::string& text);

}  // namespace lumet
