// Messages, warnings and fatal errors.
#include "message.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>

#include "list.h"
#include "progress.h"

namespace {

// State of the fatal-error path: set by the first fatal error.
bool terminating = false;
int first_status = 0;
std::string error_line;
std::string place_line;

// Kinds of repeatable warning given in the current warning scope.
bool scope_given[MGN_REPEATABLE_WARNINGS] = {};
// Texts given by mgn_warning_once in the current stage.
std::set<std::string> stage_texts;

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

// Writes a finished text to the stream with the channel rules of mgn_print.
void emit(FILE* stream, const std::string& text) {
  // The live progress line gives way to every message.
  mgn_progress_erase();
  if (stream == stderr) {
    if (!mgn_set.quiet) std::fwrite(text.data(), 1, text.size(), stderr);
  } else if (stream == stdout) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    // With a log file, standard error is the log: it receives a copy.
    if (!mgn_set.log_file_name.empty()) {
      std::fflush(stdout);
      std::fwrite(text.data(), 1, text.size(), stderr);
    }
  }
}

std::string time_of_day() {
  char buffer[32];
  mgn_get_time(buffer);
  return buffer;
}

[[noreturn]] void report(const std::string& message, int status, bool partial, std::string line,
                         std::string place) {
  if (terminating) mgn_terminate(message, status, false);
  error_line = std::move(line);
  place_line = std::move(place);
  mgn_terminate(message, status, partial);
}

std::string place(const char* routine, const std::string& module, long line) {
  return mgn_format("(routine %s, file %s, line %ld)", routine, module.c_str(), line);
}

}  // namespace

std::string mgn_module_name(const char* path) {
  std::string p = path;
  std::size_t at = p.rfind("src/");
  if (at != std::string::npos) p = p.substr(at);
  std::size_t dot = p.rfind('.');
  if (dot != std::string::npos && dot > p.rfind('/') + 1) p.resize(dot);
  return p;
}

std::string mgn_format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  return text;
}

void mgn_print(FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  emit(stream, text);
}

void mgn_print_warning(FILE* stream, const char* format, ...) {
  if (mgn_set.warnings_suppressed) return;
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  emit(stream, text);
}

void mgn_warning(const char* format, ...) {
  ++mgn_warning_count;
  if (mgn_set.warnings_suppressed) return;
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  emit(stderr, text);
}

void mgn_warning_once(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  if (!stage_texts.insert(text).second) return;
  ++mgn_warning_count;
  if (!mgn_set.warnings_suppressed) emit(stderr, text);
}

void mgn_open_warning_stage() { stage_texts.clear(); }

void mgn_open_warning_scope() {
  for (bool& given : scope_given) given = false;
}

bool mgn_first_in_warning_scope(mgn_repeatable_warning kind) {
  if (scope_given[kind]) return false;
  scope_given[kind] = true;
  return true;
}

bool mgn_given_in_warning_scope(mgn_repeatable_warning kind) { return scope_given[kind]; }

void mgn_print_message(FILE* stream, const char* text) {
  mgn_print(stream, "%-*s %8s\n", 24, text, time_of_day().c_str());
  // A run followed through a pipe or a file shows every stage at once, and a
  // run that is stopped still shows the stage it reached.
  std::fflush(stream);
}

double mgn_get_time(char* buffer) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  std::memcpy(buffer, text, 9);
  buffer[8] = '\0';
  return static_cast<double>(now);
}

FILE* mgn_open_file(const char* path, int mode) {
  if (path == nullptr || *path == '\0') return nullptr;
  if (mode == 0) return std::fopen(path, "r");
  if (mode == 2) return std::fopen(path, "w");
  return nullptr;
}

void mgn_option_error(const std::string& message, char option) {
  report(message, MGN_EXIT_OPTION, false, mgn_format("%8s --> Option -%c error", time_of_day().c_str(), option),
         std::string());
}

void mgn_manipulation_error(const std::string& message, const char* routine, const std::string& module,
                            long line) {
  report(message, MGN_EXIT_MANIPULATION, true, mgn_format("%8s --> Manipulation error", time_of_day().c_str()),
         place(routine, module, line));
}

void mgn_allocation_error(const std::string& message, const char* routine, const std::string& module,
                          long line) {
  report(message, MGN_EXIT_ALLOCATION, true, mgn_format("%8s --> Allocation error", time_of_day().c_str()),
         place(routine, module, line));
}

void mgn_file_manipulation_error(const std::string& message, const char* routine, const std::string& module,
                                 long line) {
  report(message, MGN_EXIT_FILE, false,
         mgn_format("%8s --> File manipulation error", time_of_day().c_str()), place(routine, module, line));
}

void mgn_input_error(const std::string& message, const char* routine, const std::string& module, long line,
                     const std::string& input_file, long input_line) {
  report(message, MGN_EXIT_INPUT, false,
         mgn_format("%8s --> Input error (file %s, line %ld)", time_of_day().c_str(), input_file.c_str(),
                    input_line),
         place(routine, module, line));
}

void mgn_output_error(const std::string& message, const char* routine, const std::string& module, long line,
                      const std::string& output_file, long output_line) {
  report(message, MGN_EXIT_OUTPUT, false,
         mgn_format("%8s --> Output error (file %s, line %ld)", time_of_day().c_str(), output_file.c_str(),
                    output_line),
         place(routine, module, line));
}

void mgn_binary_input_error(const std::string& message, const char* routine, const std::string& module,
                            long line, const std::string& binary_file) {
  report(message, MGN_EXIT_BINARY_INPUT, false,
         mgn_format("%8s --> Binary input error (file %s)", time_of_day().c_str(), binary_file.c_str()),
         place(routine, module, line));
}

void mgn_binary_output_error(const std::string& message, const char* routine, const std::string& module,
                             long line, const std::string& binary_file) {
  report(message, MGN_EXIT_BINARY_OUTPUT, false,
         mgn_format("%8s --> Binary output error (file %s)", time_of_day().c_str(), binary_file.c_str()),
         place(routine, module, line));
}

bool mgn_is_terminating() { return terminating; }

void mgn_terminate(const std::string& message, int status, bool partial_output) {
  if (terminating) {
    // A second fatal error while the first one is handled: one short line,
    // and the process ends with the status of the first error.
    std::fflush(stdout);
    mgn_print(stderr, "Temporary output failed due to an additional error (%d)\n", status);
    mgn_print(stderr, "\n");
  } else {
    first_status = status;
    terminating = true;
    if (mgn_terminate_hook.restore_entity_ids) mgn_terminate_hook.restore_entity_ids();
    std::fflush(stdout);
    mgn_print(stderr, "\n\n");
    mgn_print(stderr, "%s\n", error_line.c_str());
    if (!place_line.empty()) mgn_print(stderr, "%s\n", place_line.c_str());
    mgn_print(stderr, "%s\n", message.c_str());
    mgn_print(stderr, "\n");
    if (mgn_run.discretization_under_way && mgn_terminate_hook.collect_finished)
      mgn_terminate_hook.collect_finished();
    if (partial_output && !mgn_set.output_file_name.empty() && mgn_terminate_hook.write_partial_mesh) {
      if (mgn_terminate_hook.write_partial_mesh()) mgn_print_message(stdout, "Tmp output data printed");
    }
  }
  mgn_print_message(stdout, "Program terminated");
  mgn_print(stdout, "\n");
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(first_status);
}

void mgn_note_record(mgn_list& list, void* record) {
  if (record != nullptr) mgn_add_item_once(list, record);
}

void mgn_note_partial_vertex(mgn_vertex* vertex) { mgn_note_record(mgn_noted.vertices, vertex); }
void mgn_note_partial_curve(mgn_curve* curve) { mgn_note_record(mgn_noted.curves, curve); }
void mgn_note_partial_surface(mgn_surface* surface) { mgn_note_record(mgn_noted.surfaces, surface); }
void mgn_note_partial_patch(mgn_patch* patch) { mgn_note_record(mgn_noted.patches, patch); }
void mgn_note_partial_shell(mgn_shell* shell) { mgn_note_record(mgn_noted.shells, shell); }
void mgn_note_partial_region(mgn_region* region) { mgn_note_record(mgn_noted.regions, region); }
void mgn_note_partial_interface(mgn_interface* interface) { mgn_note_record(mgn_noted.interfaces, interface); }
