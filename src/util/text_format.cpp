#include "util/text_format.h"

#include <locale.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace lumet {

namespace {

// Numbers in files and log lines always use the decimal point: a GUI toolkit installs the
// user's locale for the whole process (a German one would print "0,6"), so formatting
// switches this thread to the "C" locale for its duration.
class ScopedCLocale {
 public:
  ScopedCLocale() {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (cLocale != static_cast<locale_t>(0)) previous_ = uselocale(cLocale);
  }
  ~ScopedCLocale() {
    if (previous_ != static_cast<locale_t>(0)) uselocale(previous_);
  }
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(0);
};

}  // namespace

std::string Format(const char* fmt, ...) {
  const ScopedCLocale cLocale;
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), fmt, args);
    out.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  return out;
}

std::string FormatG6(double value) { return Format("%g", value); }

std::string StripLineEnds(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  return text.substr(0, end);
}

}  // namespace lumet
