// Reading small model texts in the test process: the text is written to a
// file, the model store is emptied and the reader runs on it.  Input errors
// end the process, so they are checked with death tests through
// mgn_input_error_regex.
#ifndef MGN_MODEL_FIXTURE_H
#define MGN_MODEL_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "bezier.h"
#include "curve.h"
#include "input.h"
#include "list.h"
#include "surface.h"
#include "vertex.h"
#include "records.h"
#include "support.h"

// Settings of a plain run with a default mesh size of 1, so that vertices
// without a SIZE are accepted.
inline void mgn_reset_model_settings() {
  mgn_set = mgn_settings{};
  mgn_set.default_size = 1.0;
  mgn_tol = mgn_tolerances{};
  mgn_warning_count = 0;
}

// Writes the text as the model file of the test process (one directory per
// process, the file replaced by every call); returns its path.
inline std::string mgn_write_model(const std::string& text) {
  static const std::string dir = mgn_temp_dir();
  const std::string path = dir + "/model.mgn";
  mgn_write_file(path, text);
  return path;
}

// Empties the model and reads the text as the input file.
inline void mgn_read_model_text(const std::string& text) {
  mgn_release_model();
  mgn_set.input_file_name = mgn_write_model(text);
  mgn_build_model_from_file();
}

// Reads the text as a further input file into the model read so far.
inline void mgn_read_more_model_text(const std::string& text) {
  mgn_set.input_file_name = mgn_write_model(text);
  mgn_build_model_from_file();
}

// The square x, y in [0, 10], z = 0 as a bilinear surface: vertices 1 to 4
// at (0, 0), (10, 0), (10, 10), (0, 10) and its four sides as curves 1 to 4.
// u runs along x and v along y.
inline const std::string mgn_square_model =
    "vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 10 10 0\nvertex 4 xyz 0 10 0\n"
    "curve 1 vertex 1 2\ncurve 2 vertex 1 4\ncurve 3 vertex 4 3\ncurve 4 vertex 2 3\n";

// Surface id on curves 1 to 4 of mgn_square_model (sides 0 to 3), entered
// in the model as the surface parser would.
inline mgn_surface* mgn_add_square_surface(long id) {
  mgn_surface* s = mgn_create_surface(id);
  for (int side = 0; side < 4; ++side) s->curve[side] = mgn_find_curve(side + 1);
  s->vertex[0] = mgn_find_vertex(1);
  s->vertex[1] = mgn_find_vertex(4);
  s->vertex[2] = mgn_find_vertex(3);
  s->vertex[3] = mgn_find_vertex(2);
  mgn_create_surface_ctrl_polygon(s);
  mgn_add_surface_to_model(s);
  return s;
}

// Reads mgn_square_model with surface 1 on it, then the text as a second
// file (its lines are numbered from 1).
inline void mgn_read_on_square(const std::string& text) {
  mgn_read_model_text(mgn_square_model);
  mgn_add_square_surface(1);
  mgn_read_more_model_text(text);
}

// The unit cube [0, 1]^3 (26 lines): vertices 1 to 4 at z = 0 and 5 to 8
// at z = 1 (counterclockwise seen from +z from the origin), curves 1 to 4
// and 5 to 8 along the bottom and top edges, 9 to 12 upward, and six
// bilinear surfaces whose normals Su x Sv point out of the cube: 1 z = 0,
// 2 z = 1, 3 y = 0, 4 y = 1, 5 x = 0, 6 x = 1.  The region inside uses
// their outer sides: region 1 boundary surface -1 -2 -3 -4 -5 -6.
inline const std::string mgn_cube_model =
    "vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\nvertex 3 xyz 1 1 0\nvertex 4 xyz 0 1 0\n"
    "vertex 5 xyz 0 0 1\nvertex 6 xyz 1 0 1\nvertex 7 xyz 1 1 1\nvertex 8 xyz 0 1 1\n"
    "curve 1 vertex 1 2\ncurve 2 vertex 2 3\ncurve 3 vertex 4 3\ncurve 4 vertex 1 4\n"
    "curve 5 vertex 5 6\ncurve 6 vertex 6 7\ncurve 7 vertex 8 7\ncurve 8 vertex 5 8\n"
    "curve 9 vertex 1 5\ncurve 10 vertex 2 6\ncurve 11 vertex 3 7\ncurve 12 vertex 4 8\n"
    "surface 1 curve 4 1 2 3\nsurface 2 curve 5 8 7 6\nsurface 3 curve 1 9 5 10\n"
    "surface 4 curve 12 3 11 7\nsurface 5 curve 9 4 12 8\nsurface 6 curve 2 10 6 11\n";
constexpr long mgn_cube_model_lines = 26;

// Regular expression (POSIX extended) that matches the text literally.
inline std::string mgn_regex_escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// The report of an input error: error line with the line number, place
// line, then the message on its own line(s).
inline std::string mgn_input_error_regex(const std::string& message, long line) {
  return "Input error \\(file [^\n]*, line " + std::to_string(line) + "\\)\n\\(routine [^\n]*\\)\n" +
         mgn_regex_escape(message) + "\n";
}

// One input error case of a table: the model text, the line reported and
// the message.
struct mgn_input_error_case {
  const char* name;
  std::string text;
  long line;
  std::string message;
};

inline void PrintTo(const mgn_input_error_case& c, std::ostream* os) { *os << c.name; }

// Objects of a model list, in list order.
template <typename T>
std::vector<T*> mgn_list_objects(mgn_list list) {
  std::vector<T*> out;
  for (T* object : mgn_list_range<T>(list)) out.push_back(object);
  return out;
}

#endif  // MGN_MODEL_FIXTURE_H
