// Region tetrahedralization by an advancing front in space.
//
// The front starts as the triangles of the surfaces, patches and shells that
// bound the region (each on the side that faces it) and of those fixed
// inside it (on both sides).  Each step takes one front face and puts a
// tetra on its free side: its apex is an existing front node or a new node
// near the ideal point that the size field asks for.  The region is done
// when no front face remains; the sum of the tetra volumes is then checked
// against the volume the boundary encloses.  See src/discret3.cpp for the
// algorithm and src/topo3.h for the terms.
#ifndef MGN_DISCRET3_H
#define MGN_DISCRET3_H

#include "records.h"

// Meshes one region (the driver's entry rules have been applied): its node,
// edge and tetra listings receive the new records, every tetra is linked to
// the elements across its faces, and the region's volume becomes the sum of
// its tetra volumes.  Fatal conditions end the run with the region noted
// for the partial output.
void mgn_discretize_subregion(mgn_region* region);

// Counters of the last region meshed, for tests and benchmarks.
struct mgn_region_stats {
  long tetras = 0;         // tetras created (including those later removed)
  long new_nodes = 0;      // region nodes created
  long postponed = 0;      // steps put back for a later try
  long remeshings = 0;     // local remeshings (cavities taken out)
  long star_fills = 0;     // front pieces closed around one point
  double reference_volume = 0.0;
  double volume = 0.0;
};
extern mgn_region_stats mgn_region_stat;

#endif  // MGN_DISCRET3_H
