// Numbers as text for the writers of large files: integers and doubles
// appended to a text buffer right-aligned in a field, with exactly the
// characters printf gives for "%*ld", "%*.*e", "%*.*f" and "%.*g".  The digits come
// from std::to_chars, which rounds the same way as printf for the same
// precision and format (correctly, to nearest, ties to even on the exact
// binary value) and is several times faster; values that are not finite
// take printf's own text.
#ifndef MGN_NUMBER_TEXT_H
#define MGN_NUMBER_TEXT_H

#include <cstdarg>
#include <string>

// printf("%*ld", width, value).
void mgn_append_integer(std::string& text, long value, int width);
// printf("%*.*e", width, precision, value).
void mgn_append_scientific(std::string& text, double value, int width, int precision);
// printf("%*.*f", width, precision, value).
void mgn_append_fixed(std::string& text, double value, int width, int precision);
// printf("%.*g", precision, value).
void mgn_append_general(std::string& text, double value, int precision);
// printf(format, ...) appended: for the lines that are not worth the calls
// above (headers, counts).
void mgn_append_format(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void mgn_append_vformat(std::string& text, const char* format, va_list args);

#endif
