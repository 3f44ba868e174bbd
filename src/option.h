// Command line: the defaults of the settings record, the analysis of the
// options with their checks and consistency rules, and the informational
// outputs (version, usage, compile directives, parameter description and the
// file format descriptions).
#ifndef MGN_OPTION_H
#define MGN_OPTION_H

#include <string>

#include "records.h"

// Sets every setting to its default.  The model-related values (entity
// counts, hash table size, user epsilon, sizes, size factor, curvature rate
// and factor, curve density) are reset only while no model has been read,
// since a restored binary model file brings its own.
void mgn_init_options();

// Analyses the arguments after the program name and stores them in mgn_set.
// Every failure is an option error (exit status 5).  A run that asks only
// for information (usage, version, descriptions) ends here with status 0.
// On return the settings hold the derived values the run works with: the
// default and uniform sizes times the size factor (the default size taken
// from the uniform size when not given), the curvature rate times its
// factor, and the reciprocal of the octant size excess.  A binary model file
// stores them so; when a model is restored from one they are not derived
// again.
void mgn_analyze_options(int argc, char** argv);

// Sets the fixed relative tolerance and the working user epsilon with its
// powers from the analysed settings; until the model box is known the
// geometric tolerance is the user epsilon.
void mgn_set_tolerances();

// Prints the closing warning total ("Altogether ... generated") through the
// warning print when at least one warning was counted.
void mgn_print_warning_total();

// Informational outputs, all on standard output.  The version is printed at
// most once per run, the compile directives too.
void mgn_print_version();
void mgn_print_usage();
void mgn_print_directives();
void mgn_print_parameters();

// File format descriptions (-F, -Fin, -Fout, -Fbgm, -Fbnd, -Fomx).  The
// output description follows the current element degree, output
// specification and quad-hexa support.
void mgn_print_input_description();
void mgn_print_output_description();
void mgn_print_bg_mesh_description();
void mgn_print_boundary_description();
void mgn_print_ombrax_description();

// Parameter readers.  `left` is the number of arguments that follow the
// option (or the parameters read so far), `arg` the next argument (unused
// when left is 0); `option` names the option in the error report.
//  - integer: "Missing option parameter", "Integer number expected";
//  - floating: "Missing option parameter", "Floating point number expected"
//    (infinities and NaN are not numbers a setting can use);
//  - file name: "Missing file name" (none left, or the argument begins with
//    a minus sign), "Too long file name" (more than MGN_MAX_NAME characters).
long mgn_read_int_parameter(int left, const char* arg, char option);
double mgn_read_fpn_parameter(int left, const char* arg, char option);
std::string mgn_read_file_name_parameter(int left, const char* arg, char option);

// Range checks, failing with "Option parameter out of range".
void mgn_check_int_range(long value, long minimum, long maximum, char option);
// Lower bound: value > lower, or value >= lower when lower_inclusive; upper
// bound likewise.  Pass an infinite bound for a side without limit.
void mgn_check_fpn_range(double value, double lower, bool lower_inclusive, double upper, bool upper_inclusive,
                         char option);

#endif  // MGN_OPTION_H
