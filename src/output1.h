// Graphics output: the dispatcher with the size range of the contours and
// the VTK (legacy ASCII unstructured grid), VRML 2.0 and ombrax viewer
// writers.
#ifndef MGN_OUTPUT1_H
#define MGN_OUTPUT1_H

// Writes the graphics file of graphics_type to graphics_file_name: 1 when a
// file was written, 0 without nodes, name or type.
int mgn_store_graphics();

// One writer per format: 0 without a file name, 1 after writing.  An
// opening failure is "Output file %s opening error" (status 20).
int mgn_store_graphics_vtk();
int mgn_store_graphics_vrml();
int mgn_store_graphics_ombrax();

// Size range of the contours (set by mgn_store_graphics).
struct mgn_size_range {
  double smallest = 0.0;
  double largest = 0.0;
  bool uniform = false;
};
extern mgn_size_range mgn_graphics_sizes;

#endif  // MGN_OUTPUT1_H
