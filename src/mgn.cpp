// The executable: the fixed run sequence of one batch run, from the command
// line to the closing statistics.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "discret.h"
#include "input.h"
#include "input3.h"
#include "input7.h"
#include "list.h"
#include "message.h"
#include "octree.h"
#include "octree1.h"
#include "option.h"
#include "output.h"
#include "output1.h"
#include "progress.h"
#include "quality.h"
#include "records.h"
#include "renum.h"

namespace {

// Makes standard error write to the file; false when it cannot be opened.
bool redirect_stderr(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  std::fflush(stderr);
  dup2(fd, STDERR_FILENO);
  close(fd);
  return true;
}

void print_banner() {
  char clock[16];
  std::time_t now = static_cast<std::time_t>(mgn_get_time(clock));
  std::tm local{};
  localtime_r(&now, &local);
  int year = local.tm_year + 1900;
  if (year < 2005) year = 2005;
  mgn_print(stdout, "\n");
  mgn_print(stdout, "          Mgn - finite element mesh generator\n");
  mgn_print(stdout, "          Copyright (c) 2005-%d\n", year);
  mgn_print(stdout, "=================================\n");
  mgn_print(stdout, "\n");
  std::fflush(stdout);
  mgn_print_message(stdout, "Program started");
}


void print_count(const char* label, const mgn_record_count& count) {
  if (count.fe != 0 || count.total != 0)
    mgn_print(stdout, "Number of %s%8ld (FE)  %8ld (total)\n", label, count.fe, count.total);
}

void print_profile() {
  const double old_profile = mgn_run.profile_old;
  const double new_profile = mgn_run.profile_new;
  auto digits = [](double v) { return v > 0.0 ? static_cast<long>(std::trunc(std::log10(v))) + 1 : 1; };
  const bool old_fixed = digits(old_profile) <= 11;
  const bool new_fixed = digits(new_profile) <= 10;
  if (old_fixed && new_fixed)
    mgn_print(stdout, "Nominal profile: %11.0f (old) %10.0f (new)\n", old_profile, new_profile);
  else if (old_fixed)
    mgn_print(stdout, "Nominal profile: %11.0f (old) %10.4e (new)\n", old_profile, new_profile);
  else if (new_fixed)
    mgn_print(stdout, "Nominal profile: %11.5e (old) %10.0f (new)\n", old_profile, new_profile);
  else
    mgn_print(stdout, "Nominal profile: %11.5e (old) %10.4e (new)\n", old_profile, new_profile);
  mgn_print(stdout, "\n");
}

bool mgn_model_has_vertex() { return mgn_model.vertices.list != nullptr; }

template <class T>
bool has_weak_mirror(const mgn_entity_store& store) {
  for (T* entity : mgn_list_range<T>(store.list))
    if (!entity->is_virtual && entity->mirrored != nullptr && entity->weak_mirror) return true;
  return false;
}

// A weak mirror lets the copied mesh deviate from the entity's own geometry,
// so its elements may be worse than those the entity would get by itself.
void check_mirroring() {
  if (has_weak_mirror<mgn_curve>(mgn_model.curves) || has_weak_mirror<mgn_surface>(mgn_model.surfaces) ||
      has_weak_mirror<mgn_patch>(mgn_model.patches) || has_weak_mirror<mgn_shell>(mgn_model.shells))
    mgn_warning("Warning: Possible element quality degradation\n"
                "         due to curve/surface/patch/shell mirroring\n");
}

template <class T>
bool mirrors(const void* a, const void* b) {
  const T* first = static_cast<const T*>(a);
  const T* second = static_cast<const T*>(b);
  return first->mirrored == second || second->mirrored == first;
}

// An interface between an entity and its mirror pairs nodes placed by the
// mirror transformation with the source's nodes.
void check_interface_mirroring() {
  for (mgn_interface* interface : mgn_list_range<mgn_interface>(mgn_model.interfaces.list)) {
    const void* a = interface->entity[0];
    const void* b = interface->entity[1];
    if (a == nullptr || b == nullptr || interface->is_virtual) continue;
    bool mirrored = false;
    switch (interface->kind) {
      case MGN_CURVE: mirrored = mirrors<mgn_curve>(a, b); break;
      case MGN_SURFACE: mirrored = mirrors<mgn_surface>(a, b); break;
      case MGN_PATCH: mirrored = mirrors<mgn_patch>(a, b); break;
      case MGN_SHELL: mirrored = mirrors<mgn_shell>(a, b); break;
      default: break;
    }
    if (mirrored) {
      mgn_warning("Warning: Possible element quality degradation\n"
                  "         due to interface mirroring\n");
      return;
    }
  }
}

// Mapped quad meshing belongs to the structured meshers, which this program
// does not have: a surface, patch or shell that asks for it is meshed with
// free quads instead, and the user is told so.
template <class T>
void withdraw_map(const mgn_entity_store& store, const char* kind) {
  for (T* entity : mgn_list_range<T>(store.list)) {
    if (!entity->map) continue;
    entity->map = false;
    mgn_warning("Warning: Mapped meshing of %s %ld not available: free quads used\n", kind,
                static_cast<long>(entity->id));
  }
}

void withdraw_mapped_requests() {
  withdraw_map<mgn_surface>(mgn_model.surfaces, "surface");
  withdraw_map<mgn_patch>(mgn_model.patches, "patch");
  withdraw_map<mgn_shell>(mgn_model.shells, "shell");
}

// Equidistant node spacing is a request of structured (mapped) meshing; an
// entity meshed by the unstructured meshers drops it.
template <class T>
void drop_equidistant(const mgn_entity_store& store, const char* kind) {
  for (T* entity : mgn_list_range<T>(store.list)) {
    if (!entity->equidistant || entity->map) continue;
    entity->equidistant = false;
    mgn_warning("Warning: Equidistant request on unstructured %s %ld ignored\n", kind, static_cast<long>(entity->id));
  }
}

void drop_unstructured_equidistant_requests() {
  drop_equidistant<mgn_surface>(mgn_model.surfaces, "surface");
  drop_equidistant<mgn_patch>(mgn_model.patches, "patch");
  drop_equidistant<mgn_shell>(mgn_model.shells, "shell");
  for (mgn_region* region : mgn_list_range<mgn_region>(mgn_model.regions.list)) {
    if (!region->equidistant || region->hexa || region->map || region->extrude) continue;
    region->equidistant = false;
    mgn_warning("Warning: Equidistant request in unstructured region %ld ignored\n", static_cast<long>(region->id));
  }
}

}  // namespace

// The meshing sequence: octree, discretization, quality, renumbering, output.
void mgn_run_meshing() {
  ++mgn_run.run_counter;
  if (!mgn_model_has_vertex())
    mgn_manipulation_error("There is no entity in the model", "mgn_run_meshing", "src/mgn", __LINE__);
  mgn_progress_stage octree_stage;
  octree_stage.name = "Building the octree";
  octree_stage.element_word = "octants";
  octree_stage.counters[0] = &mgn_tree.octant_count;
  mgn_progress_begin(octree_stage);
  mgn_build_octree();
  withdraw_mapped_requests();
  drop_unstructured_equidistant_requests();
  mgn_progress_end();
  mgn_run.octree_built = true;
  mgn_print_message(stdout, "Octree built");
  mgn_discretize_model();
  mgn_release_octree();
  mgn_run.discretization_done = true;
  mgn_progress_stage numbering_stage;
  numbering_stage.name = "Evaluating quality and renumbering";
  mgn_progress_begin(numbering_stage);
  mgn_evaluate_quality();
  mgn_renumber_mesh();
  mgn_progress_end();
  mgn_run.renumbering_done = true;
  mgn_print_message(stdout, "Discretization done");
  const int mesh_written = mgn_store_mesh_on_file();
  const int graphics_written = mgn_store_graphics();
  if (mesh_written || graphics_written) mgn_print_message(stdout, "Output data printed");
}

int main(int argc, char** argv) {
  char clock[16];
  mgn_run.start_time = mgn_get_time(clock);
  mgn_init_options();
  mgn_init_mesh_output();
  mgn_progress_start();

  // Log file: handled before anything is printed; its errors are reported
  // after the banner.
  int log_count = 0, log_position = 0;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "-g") == 0) ++log_count, log_position = i;
  bool log_open_failed = false;
  if (log_count == 1 && log_position < argc - 1 && std::strlen(argv[log_position + 1]) <= MGN_MAX_NAME) {
    if (redirect_stderr(argv[log_position + 1]))
      mgn_set.log_file_name = argv[log_position + 1];
    else
      log_open_failed = true;
  }

  // Quiet run: standard error goes nowhere unless it is the log file.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "-Q") == 0) mgn_set.quiet = true;
  if (mgn_set.quiet && mgn_set.log_file_name.empty()) redirect_stderr("/dev/null");

  print_banner();

  if (log_count > 1) mgn_option_error("Multiple log file name specification", 'g');
  if (log_count == 1 && log_position == argc - 1) mgn_option_error("Missing file name", 'g');
  if (log_count == 1 && std::strlen(argv[log_position + 1]) > MGN_MAX_NAME)
    mgn_option_error("Too long file name", 'g');
  if (log_open_failed)
    mgn_file_manipulation_error(mgn_format("Log file %s opening error", argv[log_position + 1]), "main",
                                "src/mgn", __LINE__);

  // Binary model file.
  int input_count = 0, binary_count = 0, binary_position = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-i") == 0) ++input_count;
    if (std::strcmp(argv[i], "-b") == 0) ++binary_count, binary_position = i;
    if (std::strcmp(argv[i], "-Z") == 0) mgn_set.store_options_in_binary = true;
  }
  if (binary_count > 1) mgn_option_error("Multiple binary file name specification", 'b');
  if (binary_count == 1) {
    if (binary_position == argc - 1) mgn_option_error("Missing file name", 'b');
    if (std::strlen(argv[binary_position + 1]) > MGN_MAX_NAME) mgn_option_error("Too long file name", 'b');
    mgn_set.binary_file_name = argv[binary_position + 1];
    // Without an input file the whole model comes from the binary file,
    // before the options are analysed.
    if (input_count == 0) mgn_read_model_from_file();
  }
  const bool restored = !mgn_run.model_not_yet_read;

  mgn_analyze_options(argc, argv);
  mgn_print_message(stdout, "Options analyzed");
  mgn_set_tolerances();

  if (!restored) {
    mgn_build_model_from_file();
    if (!mgn_set.binary_file_name.empty()) mgn_write_model_to_file();
  } else {
    // The requests the restored model cannot support with this run's
    // options, and the patch checks with the background surfaces of the
    // patches (as after reading a text model).
    mgn_check_model_requests();
    mgn_prepare_patches();
  }

  // Model preparation: the checks that only warn about requests the model
  // can satisfy only approximately.
  check_mirroring();
  check_interface_mirroring();

  mgn_print_message(stdout, "Input data analyzed");

  mgn_run_meshing();

  mgn_print_message(stdout, "Program finished");
  mgn_print(stdout, "\n");

  print_count("nodes:    ", mgn_run.nodes);
  print_count("edges:    ", mgn_run.edges);
  print_count("trias:    ", mgn_run.trias);
  print_count("quads:    ", mgn_run.quads);
  print_count("tetras:   ", mgn_run.tetras);
  print_count("pyrams:   ", mgn_run.pyrams);
  print_count("wedges:   ", mgn_run.wedges);
  print_count("hexas:    ", mgn_run.hexas);
  mgn_print(stdout, "\n");

  if (mgn_set.renumbering_type & 1) print_profile();
  mgn_print_quality_report();

  const double end_time = mgn_get_time(clock);
  mgn_print(stdout, "Real time consumed     %s sec\n", mgn_format("%10.0f", end_time - mgn_run.start_time).c_str());
  const unsigned long bytes = static_cast<unsigned long>(mgn_listing_memory_peak());
  const unsigned long kilobytes = bytes == 0 ? 0 : ((bytes - 1) / 1024) + 1;
  mgn_print(stdout, "Memory consumed      %12lu kB\n", kilobytes);
  mgn_print(stdout, "\n");
  mgn_print_warning_total();
  return 0;
}
