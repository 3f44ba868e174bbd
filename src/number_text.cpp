// Numbers as text: std::to_chars into a local buffer, then the field's
// leading blanks and the characters appended to the text.
#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace {

// Room for any long and for any double with the precisions the writers use
// in the fixed format (DBL_MAX has 309 integer digits).
constexpr int MAX_CHARS = 400;

void append_field(std::string& text, const char* first, const char* last, int width) {
  const long length = last - first;
  if (length < width) text.append(static_cast<std::size_t>(width - length), ' ');
  text.append(first, static_cast<std::size_t>(length));
}

void append_double(std::string& text, double value, int width, int precision, std::chars_format format) {
  char buffer[MAX_CHARS];
  const auto result = std::isfinite(value) ? std::to_chars(buffer, buffer + MAX_CHARS, value, format, precision)
                                           : std::to_chars_result{buffer, std::errc::value_too_large};
  if (result.ec == std::errc()) {
    append_field(text, buffer, result.ptr, width);
    return;
  }
  // printf's own text for a value that is not finite (or too long).
  const char* conversion = format == std::chars_format::scientific ? "%*.*e"
                           : format == std::chars_format::fixed    ? "%*.*f"
                                                                   : "%*.*g";
  mgn_append_format(text, conversion, width, precision, value);
}

}  // namespace

void mgn_append_integer(std::string& text, long value, int width) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  append_field(text, buffer, result.ptr, width);
}

void mgn_append_scientific(std::string& text, double value, int width, int precision) {
  append_double(text, value, width, precision, std::chars_format::scientific);
}

void mgn_append_fixed(std::string& text, double value, int width, int precision) {
  append_double(text, value, width, precision, std::chars_format::fixed);
}

void mgn_append_general(std::string& text, double value, int precision) {
  append_double(text, value, 0, precision, std::chars_format::general);
}

void mgn_append_format(std::string& text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  mgn_append_vformat(text, format, args);
  va_end(args);
}

void mgn_append_vformat(std::string& text, const char* format, va_list args) {
  char buffer[256];
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (n >= 0 && n < static_cast<int>(sizeof buffer)) {
    text.append(buffer, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    const std::size_t start = text.size();
    text.resize(start + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data() + start, static_cast<std::size_t>(n) + 1, format, again);
    text.resize(start + static_cast<std::size_t>(n));
  }
  va_end(again);
}
