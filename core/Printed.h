#pragma once
// printf-style formatting into a std::string: the numbers the program shows, logs and traces.

#include <string>

#if defined(__GNUC__) && !defined(_WIN32)
#define TQ_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define TQ_PRINTF_FORMAT
#endif

namespace tq {

// `format` filled in with the arguments as std::snprintf does, however long the result.
std::string Printed(const char* format, ...) TQ_PRINTF_FORMAT;

}  // namespace tq
