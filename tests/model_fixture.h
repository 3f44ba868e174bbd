// Reading small model texts in the test process: the text is written to a
// file, the model store is emptied and the reader runs on it.  Input errors
// end the process, so they are checked with death tests through
// mgn_input_error_regex.
#ifndef MGN_MODEL_FIXTURE_H
#define MGN_MODEL_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "input.h"
#include "list.h"
#include "records.h"
#include "support.h"

// Settings of a plain run with a default mesh size of 1, so that vertices
// without a SIZE are accepted.
inline void mgn_reset_model_settings() {
  mgn_set = mgn_settings{};
  mgn_set.default_size = 1.0;
  mgn_tol = mgn_tolerances{};
  mgn_warning_count = 0;
}

// Writes the text as the model file of the test process (one directory per
// process, the file replaced by every call); returns its path.
inline std::string mgn_write_model(const std::string& text) {
  static const std::string dir = mgn_temp_dir();
  const std::string path = dir + "/model.mgn";
  mgn_write_file(path, text);
  return path;
}

// Empties the model and reads the text as the input file.
inline void mgn_read_model_text(const std::string& text) {
  mgn_release_model();
  mgn_set.input_file_name = mgn_write_model(text);
  mgn_build_model_from_file();
}

// Regular expression (POSIX extended) that matches the text literally.
inline std::string mgn_regex_escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// The report of an input error: error line with the line number, place
// line, then the message on its own line(s).
inline std::string mgn_input_error_regex(const std::string& message, long line) {
  return "Input error \\(file [^\n]*, line " + std::to_string(line) + "\\)\n\\(routine [^\n]*\\)\n" +
         mgn_regex_escape(message) + "\n";
}

// One input error case of a table: the model text, the line reported and
// the message.
struct mgn_input_error_case {
  const char* name;
  std::string text;
  long line;
  std::string message;
};

inline void PrintTo(const mgn_input_error_case& c, std::ostream* os) { *os << c.name; }

// Objects of a model list, in list order.
template <typename T>
std::vector<T*> mgn_list_objects(mgn_list list) {
  std::vector<T*> out;
  for (T* object : mgn_list_range<T>(list)) out.push_back(object);
  return out;
}

#endif  // MGN_MODEL_FIXTURE_H
