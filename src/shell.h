// Shell records: creation with their defaults, the model store of
// shells (model list, hash buckets, identifier slots), lookup by
// identifier and release.  The SHELL line parser mgn_input_shell is declared
// here; it reads the rest of the logical line that began with SHELL.
#ifndef MGN_SHELL_H
#define MGN_SHELL_H

#include "records.h"

// New shell with identifier id and every default set ("Memory allocation
// failed" when it cannot be allocated; a fatal manipulation error when id is
// above the preallocated count of option -n).
mgn_shell* mgn_create_shell(long id);
// The shell with identifier id, or null (identifiers below 1 find nothing).
mgn_shell* mgn_find_shell(long id);
// Adds a finished definition to the model (list head, hash bucket, slot,
// count).
void mgn_add_shell_to_model(mgn_shell* shell);
// Frees the record with its lists and owned blocks.
void mgn_release_shell(mgn_shell* shell);
// Reads the rest of a SHELL definition and returns the new record (src/input2).
mgn_shell* mgn_input_shell();
// Turns the global attraction factor of the shell into a vertex and a
// curve attraction item (run for every shell once the model is read).
void mgn_build_shell_global_attraction(mgn_shell* shell);

#endif  // MGN_SHELL_H
