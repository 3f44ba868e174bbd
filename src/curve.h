// Curve records: creation with their defaults, the model store of curves
// (model list, hash buckets, identifier slots), lookup by identifier, the
// chain of parent curves, the coincidence and identity of curves, release,
// and the CURVE line parser with the control polygon lines that follow it.
#ifndef MGN_CURVE_H
#define MGN_CURVE_H

#include "records.h"

// New curve with identifier id and every default set (rate, density,
// boundary association and transition factors from the settings; "Memory
// allocation failed" when it cannot be allocated; a fatal manipulation error
// when id is above the preallocated count of option -n).
mgn_curve* mgn_create_curve(long id);
// The curve with identifier id, or null (identifiers below 1 find nothing).
mgn_curve* mgn_find_curve(long id);
// Adds a finished definition to the model (list head, hash bucket, slot,
// count).
void mgn_add_curve_to_model(mgn_curve* curve);
// Frees the record with its lists and its own control points' polygon
// slots.
void mgn_release_curve(mgn_curve* curve);

// The top physical parent curve: parent links are followed from the curve
// while the current curve is not virtual; the last non-virtual curve met.
// A virtual curve is its own top physical parent.
mgn_curve* mgn_get_top_physical_curve(mgn_curve* curve);
// Two curves coincide when they are the same curve, or when their intervals
// carried up the chains of fixations lie on the same root curve and overlap
// with positive length.
bool mgn_check_curve_coincidence(const mgn_curve* first, const mgn_curve* second);
// Two curves are identical when they are the same curve, or when they cover
// the same interval of the same root curve.
bool mgn_check_curve_identity(const mgn_curve* first, const mgn_curve* second);
// Records a physical curve fixed to a physical parent curve on the parent's
// family: the vertices fixed on the parent inside the curve's interval are
// fixed on the curve as well.
void mgn_update_curve_vertex_fix_up(mgn_curve* curve);

// Reads the rest of a CURVE definition (and its polygon lines) and returns
// the new curve.
mgn_curve* mgn_input_curve();
// Reads the POLYGON lines (up to order - 2 of them, or to a POLYEND line) of
// a curve that is not fixed.
void mgn_input_curve_polygon(mgn_curve* curve);

#endif  // MGN_CURVE_H
