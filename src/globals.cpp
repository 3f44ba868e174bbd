// The process-wide values of the program, all in one place: the settings of
// the command line, the run state with the closing statistics, the geometric
// tolerances, the warning count, the records noted for the partial output,
// the hooks of the fatal-error path, and the state each module keeps for the
// run (the mesh store, the octree, the error location, the quality
// statistics, the graphics size range, the smoothing hooks, the live
// progress line).
#include "geom.h"
#include "mesh3.h"
#include "message.h"
#include "output1.h"
#include "progress.h"
#include "quality.h"
#include "records.h"
#include "smooth.h"

mgn_settings mgn_set;
mgn_run_state mgn_run;
mgn_tolerances mgn_tol;
long mgn_warning_count = 0;
mgn_noted_records mgn_noted;
mgn_terminate_hooks mgn_terminate_hook;

mgn_mesh_store mgn_mesh;               // mesh records and finite-element listings
mgn_octree mgn_tree;                   // octree of sizes and node index
mgn_error_location mgn_error_loc;      // first geometric error location
mgn_quality_state mgn_quality;         // quality statistics of the run
mgn_size_range mgn_graphics_sizes;     // size range of the graphics contours
mgn_smooth_hooks mgn_smooth_hook;      // smoothing steps of later modules
mgn_repair_counters mgn_repair_count; // counters of the last tetra repair pass
mgn_progress_state mgn_progress;       // the live progress line on a terminal
