// Messages, warnings and fatal errors: the two output channels and the log
// file, progress messages, the warning count, and the error routines through
// which every module ends the process.
#ifndef MGN_MESSAGE_H
#define MGN_MESSAGE_H

#include <cstdio>
#include <string>
#include <string_view>

#include "records.h"

// Module name of a source file path: ".../src/curve.cpp" -> "src/curve".
std::string mgn_module_name(const char* path);

// The place of a fatal error: routine (the calling function), module, line.
// Pass MGN_HERE as the place arguments of the error routines.
#define MGN_HERE __func__, mgn_module_name(__FILE__), __LINE__

// printf-like output.  mgn_print writes to standard error only when the run
// is not quiet; to standard output always, and then also a copy to standard
// error when a log file is in use (standard error is the log file then).
void mgn_print(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
// As mgn_print, but nothing is written when warnings are suppressed.  It does
// not count: the caller increments mgn_warning_count once per warning.
void mgn_print_warning(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Formats a warning text (any length) and counts it as one warning.
void mgn_warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A warning of one line: "Warning: " and the text.
inline void mgn_warning_text(const std::string& text) { mgn_warning("Warning: %s\n", text.c_str()); }
// As mgn_warning, for the warnings about one entity or point that several
// passes of a stage could repeat: a text already given in the current stage
// is dropped (neither printed nor counted).  The octree construction and the
// discretization each open a new stage.
void mgn_warning_once(const char* format, ...) __attribute__((format(printf, 1, 2)));
void mgn_open_warning_stage();
// Progress message: text left-justified in 24 columns and the time of day.
void mgn_print_message(FILE* stream, const char* text);
// Writes the local time of day "hh:mm:ss" into buffer (9 bytes at least) and
// returns the calendar time in whole seconds.
double mgn_get_time(char* buffer);
// Opens a file for reading (mode 0) or writing (mode 2); null on failure.
FILE* mgn_open_file(const char* path, int mode);

// printf-like formatting into a string of any length.
std::string mgn_format(const char* format, ...) __attribute__((format(printf, 1, 2)));

extern long mgn_warning_count;

// Warnings that the work on one entity could otherwise repeat without bound
// (one for every point of a size field finer than the octree, or every size
// query outside it): each kind is printed and counted once per entity.  The
// module that starts the work on an entity opens a new scope; a warning of a
// kind already given in the current scope is dropped.
enum mgn_repeatable_warning : int {
  MGN_WARNING_TOO_FINE_AT_POINT,
  MGN_WARNING_OCTREE_OVERFLOW,
  MGN_WARNING_ANGLE_CORRECTION,
  MGN_REPEATABLE_WARNINGS
};
void mgn_open_warning_scope();
// True the first time the kind is asked for in the current scope.
bool mgn_first_in_warning_scope(mgn_repeatable_warning kind);
// Whether the kind was given in the current scope (without asking for it).
bool mgn_given_in_warning_scope(mgn_repeatable_warning kind);

// Fatal errors: they print the report and end the process with the status
// of their kind; they never return.
[[noreturn]] void mgn_option_error(const std::string& message, char option);
[[noreturn]] void mgn_manipulation_error(const std::string& message, const char* routine,
                                         const std::string& module, long line);
[[noreturn]] void mgn_allocation_error(const std::string& message, const char* routine,
                                       const std::string& module, long line);
[[noreturn]] void mgn_file_manipulation_error(const std::string& message, const char* routine,
                                              const std::string& module, long line);
[[noreturn]] void mgn_input_error(const std::string& message, const char* routine,
                                  const std::string& module, long line,
                                  const std::string& input_file, long input_line);
[[noreturn]] void mgn_output_error(const std::string& message, const char* routine,
                                   const std::string& module, long line,
                                   const std::string& output_file, long output_line);
[[noreturn]] void mgn_binary_input_error(const std::string& message, const char* routine,
                                         const std::string& module, long line,
                                         const std::string& binary_file);
[[noreturn]] void mgn_binary_output_error(const std::string& message, const char* routine,
                                          const std::string& module, long line,
                                          const std::string& binary_file);
[[noreturn]] void mgn_terminate(const std::string& message, int status, bool partial_output);
// True once a fatal error is being handled.
bool mgn_is_terminating();

// Exit statuses of the error kinds.
enum mgn_exit_status : int {
  MGN_EXIT_OPTION = 5,
  MGN_EXIT_MANIPULATION = 10,
  MGN_EXIT_ALLOCATION = 15,
  MGN_EXIT_FILE = 20,
  MGN_EXIT_INPUT = 25,
  MGN_EXIT_OUTPUT = 30,
  MGN_EXIT_BINARY_INPUT = 35,
  MGN_EXIT_BINARY_OUTPUT = 40
};

// Records noted as involved in a failure, for the partial mesh output.
// Each is added once, at the head of the list of its kind (a null record
// is passed over); mgn_note_record adds to a given list of mgn_noted.
void mgn_note_record(mgn_list& list, void* record);
void mgn_note_partial_vertex(mgn_vertex* vertex);
void mgn_note_partial_curve(mgn_curve* curve);
void mgn_note_partial_surface(mgn_surface* surface);
void mgn_note_partial_patch(mgn_patch* patch);
void mgn_note_partial_shell(mgn_shell* shell);
void mgn_note_partial_region(mgn_region* region);
void mgn_note_partial_interface(mgn_interface* interface);

// Noted records per kind (read by mgn_terminate and by the partial output).
struct mgn_noted_records {
  mgn_list vertices = nullptr, curves = nullptr, surfaces = nullptr, patches = nullptr,
           shells = nullptr, regions = nullptr, interfaces = nullptr;
  mgn_list nodes = nullptr, edges = nullptr, faces = nullptr, tetras = nullptr,
           quads = nullptr, wedges = nullptr, pyrams = nullptr, hexas = nullptr;
};
extern mgn_noted_records mgn_noted;

// Hooks of the fatal-error path, filled by the meshing and output modules
// once they exist.  mgn_terminate calls them when set:
//  - collect_finished: moves the node and element lists of entities whose
//    discretization has finished into the global listings;
//  - write_partial_mesh: moves the noted entities' meshes, renumbers without
//    profile reduction and writes the mesh file; returns true when written.
struct mgn_terminate_hooks {
  void (*collect_finished)() = nullptr;
  bool (*write_partial_mesh)() = nullptr;
  // Makes the identifiers of all model entities positive again.
  void (*restore_entity_ids)() = nullptr;
};
extern mgn_terminate_hooks mgn_terminate_hook;

#endif  // MGN_MESSAGE_H
