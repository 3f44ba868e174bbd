// The process-wide values of the program, all in one place: the settings of
// the command line, the run state with the closing statistics, the geometric
// tolerances, the warning count, the records noted for the partial output and
// the hooks of the fatal-error path.
#include "message.h"
#include "records.h"

mgn_settings mgn_set;
mgn_run_state mgn_run;
mgn_tolerances mgn_tol;
long mgn_warning_count = 0;
mgn_noted_records mgn_noted;
mgn_terminate_hooks mgn_terminate_hook;
