// The file format descriptions printed by -F, -Fin, -Fout, -Fbgm, -Fbnd and
// -Fomx: the user's manual of the model input file, the mesh output file and
// the background mesh file.
#include <cstdio>
#include <cstring>
#include <string>

#include "message.h"
#include "option.h"
#include "records.h"

namespace {

void print_text(const char* text) { mgn_print(stdout, "%s", text); }

// A heading followed by an underline of its length and an empty line.
void print_heading(const std::string& heading) {
  mgn_print(stdout, "%s:\n", heading.c_str());
  mgn_print(stdout, "%s\n\n", std::string(heading.size() + 1, '-').c_str());
}

const char* const kInputNotation =
    "Notation: [] - optional parameter\n"
    "          {} - required parameter (or group of parameters)\n"
    "          () - parameter that may be repeated (a list of one or more)\n"
    "          |  - alternative (exactly one of the items)\n"
    "          || - mutually exclusive alternatives\n"
    "          #  - number (integer or floating point number, as required)\n"
    "          'text' - string in single quotes (on one line)\n"
    "\n"
    "Note: The full format is printed although some features may not be\n"
    "      available in this version.\n"
    "\n";

const char* const kInputRules =
    "General rules:\n"
    "  The file is read line by line. Each definition begins on a new line with\n"
    "  its keyword and the entity id (a positive integer, unique within its kind\n"
    "  of entity), followed by options in any order. Keywords and options are\n"
    "  case insensitive; tokens are separated by blanks or tabs.\n"
    "  A line whose first token begins with # is a comment; elsewhere a token\n"
    "  beginning with # starts a comment that runs to the end of the line.\n"
    "  A backslash \\ written as a token of its own continues the definition on\n"
    "  the next line; the rest of the line after it is ignored.\n"
    "  Each option may be used at most once in one definition.\n"
    "  An entity may refer only to entities defined on earlier lines.\n"
    "  Mesh sizes given as numbers are multiplied by the mesh size factor (-v),\n"
    "  curvature rates given as numbers by the curvature rate factor (-w).\n"
    "  In size, rate and density specifications def takes the default of the\n"
    "  command line (-d for sizes, -c for rates, -t for densities), uni the\n"
    "  uniform mesh size (-u); * # multiplies the value (# >= 0).\n"
    "  A virtual entity only serves the construction of other entities (for\n"
    "  fixing them) and is not meshed; a hidden entity is removed between its\n"
    "  neighbours after meshing when they allow it (only with nodal smoothing).\n"
    "\n";

const char* const kVertex =
    "Vertex # {xyz # # # || fixed {vertex # | curve # [t #] | surface # [uv # #]\n"
    "                            | vertex # fixed curve # [t #]\n"
    "                            | vertex # fixed surface # [uv # #]}}\n"
    "       [size {# | def | uni | ver | cur | sur} [* #]] [weight #] [factor #]\n"
    "       [property #] [virtual] [hidden] [output {yes | no}]\n"
    "       [coincide vertex (#)] [nodeprop 'text'] [slave | master]\n"
    "       [shift # # #]\n"
    "\n"
    "  xyz # # #           position x y z of the vertex\n"
    "  fixed vertex #      the vertex lies at the given vertex\n"
    "  fixed curve #       the vertex lies on the given curve: at parameter\n"
    "                      t # (0 < t < 1), or at the projection of its xyz\n"
    "  fixed surface #     the vertex lies on the given surface: at parameters\n"
    "                      uv # # (0 < u < 1, 0 < v < 1), or at the projection\n"
    "                      of its xyz\n"
    "  size                mesh size at the vertex: a number (> 0), def, uni,\n"
    "                      or that of the parent vertex (ver), curve (cur) or\n"
    "                      surface (sur); * # multiplies it\n"
    "  weight #            weight of the vertex (> 0); a vertex fixed to a curve\n"
    "                      or surface takes the weight of its parent\n"
    "  factor #            mesh size factor (>= 0)\n"
    "  property #          property number (>= 0)\n"
    "  virtual, hidden     virtual or hidden vertex\n"
    "  output {yes | no}   output of the vertex node requested or suppressed\n"
    "                      (a node that an element uses is always written)\n"
    "  coincide vertex (#) vertices coinciding with this one\n"
    "  nodeprop 'text'     node property (read and ignored)\n"
    "  slave, master       slave or master vertex (not both)\n"
    "  shift # # #         shift added to the xyz position\n"
    "\n";

const char* const kCurve =
    "Curve # {vertex # #} [order # || fixed {curve | surface} #]\n"
    "      [size {# | def | uni | cur | sur} [* #]] [density {# | def} [* #]]\n"
    "      [factor #] [rate {# | def} [* #]] [property #] [virtual] [hidden]\n"
    "      [polysize ({# | def | uni} [* #])] [count #] [output {yes | no}]\n"
    "      [coincide curve (#)] [bassoc {yes | no}] [swap {yes | no} [angle #]]\n"
    "      [smear {yes | no} [angle #]] [[weak] mirror #] [duplicate #]\n"
    "      [equidistant] [transition {# | def} {# | def}] [slave | master]\n"
    "      [nodeprop 'text'] [elemprop 'text'] [elemgroup #] [shift # # #]\n"
    "      [fit {yes | no}] [iter #] [limit #]\n"
    "      [dir {x | y | z | xy | yz | xz | xyz | f | t # # # | n # # #}]\n"
    "\n"
    "  vertex # #          first and second vertex; the curve runs from the\n"
    "                      first to the second\n"
    "  order #             number of control points, 2 to 16 (2: straight line,\n"
    "                      the default); the polygon lines of a curve of order\n"
    "                      above 2 follow the curve line (see Polygon below)\n"
    "  fixed curve #       the curve is the part of the given parent curve\n"
    "                      between its two vertices (both fixed to the parent)\n"
    "  fixed surface #     the curve is an iso-parametric line of the given\n"
    "                      surface between its two vertices (both fixed to it)\n"
    "  size                mesh size along the curve: a number (>= 0), def, uni,\n"
    "                      or that of the parent curve (cur) or surface (sur);\n"
    "                      * # multiplies it\n"
    "  density             curve density: a number (>= 0) or def; * # multiplies\n"
    "  factor #            mesh size factor (>= 0)\n"
    "  rate                curvature rate: a number (>= 0) or def; * # multiplies\n"
    "  property #          property number (>= 0)\n"
    "  virtual, hidden     virtual or hidden curve\n"
    "  polysize            mesh sizes at the inner control points of a fixed\n"
    "                      curve (order - 2 values, at most 16), from the first\n"
    "                      vertex on: each a number, def or uni; * # after a\n"
    "                      value makes it stand # times in all (# >= 1)\n"
    "  count #             number of elements on the curve (>= 0)\n"
    "  output {yes | no}   output of the curve mesh requested or suppressed;\n"
    "                      with no, its edges are not written, but its nodes\n"
    "                      are wherever elements of other entities use them\n"
    "  coincide curve (#)  curves coinciding with this one\n"
    "  bassoc {yes | no}   boundary association output of the curve (-p 16;\n"
    "                      default yes unless -A)\n"
    "  swap {yes | no}     edge swapping across the curve; angle # (90 to 180\n"
    "                      degrees, default 135) limits it\n"
    "  smear {yes | no}    smearing of the curve; angle # as for swap\n"
    "  mirror #            the mesh mirrors that of the given curve; weak: weak\n"
    "                      mirroring\n"
    "  duplicate #         the mesh duplicates that of the given curve\n"
    "  equidistant         equidistant nodes (structured meshing)\n"
    "  transition # #      transition factors fine-to-coarse (1 to 6) and\n"
    "                      coarse-to-fine (1 to 2), each a number or def (-J)\n"
    "  slave, master       slave or master curve (not both)\n"
    "  nodeprop, elemprop  node and element properties (read and ignored)\n"
    "  elemgroup #         edge element group (read and ignored)\n"
    "  shift # # #         shift added to the xyz of the polygon lines\n"
    "  fit, iter #, limit #, dir\n"
    "                      fitting controls: checked and ignored (iter and\n"
    "                      limit >= 0; dir t and dir n take three components)\n"
    "\n";

const char* const kCurvePolygon =
    "Polygon # {xyz # # # || poly #} [weight #] [size {# | cur | def | uni} [* #]]\n"
    "        [dir {x | y | z | xy | yz | xz | xyz | f | t # # # | n # # #}]\n"
    "Polyend\n"
    "\n"
    "  Up to order - 2 polygon lines follow a curve of order above 2 that is\n"
    "  not fixed, in any order of the control points:\n"
    "  polygon #           number of an inner control point, 1 to order - 2\n"
    "                      (points 0 and order - 1 are the curve's vertices)\n"
    "  xyz # # #           position of the control point (plus the curve's\n"
    "                      shift)\n"
    "  poly #              the position of control point # (0 to order - 1) of\n"
    "                      the same polygon, defined earlier\n"
    "  weight #            weight of the control point (default 1.0)\n"
    "  size                mesh size at the control point: a number, cur (the\n"
    "                      curve's size), def or uni; * # multiplies it\n"
    "  dir                 checked and ignored\n"
    "  polyend             ends the polygon lines of the curve; control points\n"
    "                      not given lie evenly between the two vertices\n"
    "\n";

const char* const kSurface =
    "Surface # {curve # # # #} [order # # || fixed surface #]\n"
    "        [size {# | def | uni | sur} [* #]] [factor #] [rate {# | def} [* #]]\n"
    "        [property #] [virtual] [hidden] [hole] [output {yes | no}]\n"
    "        [polysize ({# | def | uni} [* #])]\n"
    "        [(coincide {surface | patch | shell} (#))] [bassoc {yes | no}]\n"
    "        [quad] [map {yes | no}] [lcs # #]\n"
    "        [diagonal {none | positive | negative | point # # #}] [equidistant]\n"
    "        [[weak] mirror #] [duplicate #]\n"
    "        [attract # {all | vertex (#) | curve (#)}] [slave]\n"
    "        [nodeprop 'text'] [elemprop 'text'] [elemgroup # #] [shift # # #]\n"
    "        [fit {yes | no}] [iter #] [limit #]\n"
    "        [dir {x | y | z | xy | yz | xz | xyz | f | t # # # | n # # #}]\n"
    "\n"
    "  curve # # # #       the four sides in order around the surface;\n"
    "                      neighbouring sides (and the fourth with the first)\n"
    "                      share a corner vertex; sides 1 and 3 run in the u\n"
    "                      direction, sides 2 and 4 in the v direction\n"
    "  order # #           orders in u and v, each 2 to 16 (0: not given); the\n"
    "                      polygon lines of a surface with inner control points\n"
    "                      follow the surface line (see Polygon below)\n"
    "  fixed surface #     the surface is a part of the given parent surface,\n"
    "                      bounded by curves fixed to the parent\n"
    "  size                mesh size: a number (>= 0), def, uni, or that of the\n"
    "                      parent surface (sur); * # multiplies it\n"
    "  factor #            mesh size factor (>= 0)\n"
    "  rate                curvature rate: a number (>= 0) or def; * # multiplies\n"
    "  property #          property number (>= 0)\n"
    "  virtual, hidden     virtual or hidden surface\n"
    "  hole                the surface is a hole: it is not meshed\n"
    "  output {yes | no}   output of the surface mesh requested or suppressed\n"
    "  polysize            mesh sizes at the inner control points of a fixed\n"
    "                      surface (at most 256 values), as for curves\n"
    "  coincide            surfaces, patches or shells coinciding with this one\n"
    "  bassoc {yes | no}   boundary association output (-p 16)\n"
    "  quad                quadrilateral mesh\n"
    "  map {yes | no}      mapped quadrilateral mesh (with quad)\n"
    "  lcs # #             two different curves giving the local coordinate\n"
    "                      system of a mapped mesh\n"
    "  diagonal            diagonal of the mapped mesh: none, positive,\n"
    "                      negative, or point # # # (toward the point)\n"
    "  equidistant         equidistant mapped mesh\n"
    "  mirror #            the mesh mirrors that of the given surface; weak:\n"
    "                      weak mirroring\n"
    "  duplicate #         the mesh duplicates that of the given surface\n"
    "  attract #           attraction of the mesh (-1 < # <= 10) toward all the\n"
    "                      surface's boundary entities (all), the listed\n"
    "                      vertices or the listed curves\n"
    "  slave               slave surface\n"
    "  nodeprop, elemprop  node and element properties (read and ignored)\n"
    "  elemgroup # #       triangle and quad element groups (read and ignored)\n"
    "  shift # # #         shift added to the xyz of the polygon lines\n"
    "  fit, iter #, limit #, dir\n"
    "                      fitting controls: checked and ignored, as for curves\n"
    "\n";

const char* const kSurfacePolygon =
    "Polygon # # {xyz # # # || poly # #} [weight #]\n"
    "        [size {# | sur | def | uni} [* #]]\n"
    "        [dir {x | y | z | xy | yz | xz | xyz | f | t # # # | n # # #}]\n"
    "Polyend\n"
    "\n"
    "  Up to (order u - 2) x (order v - 2) polygon lines follow a surface that\n"
    "  is not fixed and has inner control points:\n"
    "  polygon # #         indices of an inner control point, 1 to order u - 2\n"
    "                      and 1 to order v - 2 (the boundary rows and columns\n"
    "                      are the polygons of the four sides)\n"
    "  xyz # # #           position of the control point (plus the surface's\n"
    "                      shift)\n"
    "  poly # #            the position of control point # # of the same polygon,\n"
    "                      defined earlier\n"
    "  weight #            weight of the control point (default 1.0)\n"
    "  size                mesh size at the control point: a number, sur (the\n"
    "                      surface's size), def or uni; * # multiplies it\n"
    "  dir                 checked and ignored\n"
    "  polyend             ends the polygon lines of the surface; control points\n"
    "                      not given are blended from the four sides\n"
    "\n";

const char* const kPatch =
    "Patch # {normal # # #} {(boundary curve (#))} [(subpatch (#))]\n"
    "      [(fixed {vertex | curve} (#))] [size {# | def | uni} [* #]]\n"
    "      [factor #] [property #] [virtual] [hidden] [hole] [output {yes | no}]\n"
    "      [bassoc {yes | no}] [(coincide {surface | patch | shell} (#))] [quad]\n"
    "      [map {yes | no}] [lcs # #]\n"
    "      [diagonal {none | positive | negative | point # # #}] [equidistant]\n"
    "      [[weak] mirror #] [duplicate #]\n"
    "      [attract # {all | vertex (#) | curve (#)}] [slave]\n"
    "      [iso {yes | no} [dir # # #]] [origin # # #] [epsilon #]\n"
    "      [nodeprop 'text'] [elemprop 'text'] [elemgroup # #]\n"
    "\n"
    "  normal # # #        normal of the plane of the patch (non-zero vector)\n"
    "  boundary curve (#)  the curves of the boundary loops: a positive id uses\n"
    "                      the left side of the curve, a negative id its right\n"
    "                      side, seen from the side to which the normal points\n"
    "                      (the outer loop turns counterclockwise); each side\n"
    "                      of a curve bounds at most one patch or shell\n"
    "  subpatch (#)        patches lying inside this patch\n"
    "  fixed vertex (#)    vertices inside the patch that the mesh respects\n"
    "  fixed curve (#)     curves inside the patch that the mesh respects\n"
    "  size                mesh size: a number (>= 0), def or uni; * # multiplies\n"
    "  factor #            mesh size factor (>= 0)\n"
    "  property #          property number (>= 0)\n"
    "  virtual, hidden     virtual or hidden patch\n"
    "  hole                the patch is a hole: it is not meshed\n"
    "  output {yes | no}   output of the patch mesh requested or suppressed\n"
    "  bassoc {yes | no}   boundary association output (-p 16)\n"
    "  coincide            surfaces, patches or shells coinciding with this one\n"
    "  quad, map, lcs, diagonal, equidistant, mirror, weak, duplicate,\n"
    "  attract, slave      as for surfaces, with patches\n"
    "  iso {yes | no}      iso-oriented quadrilateral grid; dir # # #: its\n"
    "                      direction, in the plane of the patch\n"
    "  origin # # #        a point of the plane of the patch\n"
    "  epsilon #           tolerance of the planarity checks of the patch (>= 0)\n"
    "  nodeprop, elemprop  node and element properties (read and ignored)\n"
    "  elemgroup # #       triangle and quad element groups (read and ignored)\n"
    "\n";

const char* const kShell =
    "Shell # {bgsurface #} {(boundary curve (#))} [(subshell (#))]\n"
    "      [(fixed {vertex | curve} (#))] [size {# | def | uni} [* #]]\n"
    "      [rate {# | def} [* #]] [factor #] [property #] [virtual] [hidden]\n"
    "      [hole] [output {yes | no}] [bassoc {yes | no}]\n"
    "      [(coincide {surface | patch | shell} (#))] [quad] [map {yes | no}]\n"
    "      [lcs # #] [diagonal {none | positive | negative | point # # #}]\n"
    "      [equidistant] [[weak] mirror #] [duplicate #]\n"
    "      [attract # {all | vertex (#) | curve (#)}] [slave]\n"
    "      [nodeprop 'text'] [elemprop 'text'] [elemgroup # #]\n"
    "\n"
    "  bgsurface #         the background surface on which the shell lies\n"
    "  boundary curve (#)  the curves of the boundary loops, lying on the\n"
    "                      background surface; positive and negative ids as for\n"
    "                      patches, seen from the side to which the normal of\n"
    "                      the background surface points\n"
    "  subshell (#)        shells inside this shell, on the same background\n"
    "                      surface\n"
    "  fixed vertex (#), fixed curve (#)\n"
    "                      vertices and curves on the background surface inside\n"
    "                      the shell that the mesh respects\n"
    "  rate                curvature rate: a number (>= 0) or def; * # multiplies\n"
    "  other options       as for patches, with shells\n"
    "\n";

const char* const kRegion =
    "Region # {(boundary {surface | patch | shell} (#))} [(subregion (#))]\n"
    "       [(fixed {vertex | curve | surface | patch | shell} (#))]\n"
    "       [size {# | def | uni} [* #]] [factor #] [property #] [virtual]\n"
    "       [hole] [output {yes | no}] [hexa] [map {yes | no}] [equidistant]\n"
    "       [[weak] extrude [{surface | patch | shell} #]] [lcs # # #]\n"
    "       [iso {yes | no} [dir1 # # # dir2 # # #]] [nodeprop 'text']\n"
    "       [elemprop 'text'] [elemgroup # # # #]\n"
    "\n"
    "  boundary            the surfaces, patches and shells of the closed\n"
    "                      boundary, each used from one side (example:\n"
    "                      boundary surface 1 2 -3 boundary patch 4).  A\n"
    "                      positive id puts the region on the side to which\n"
    "                      Su x Sv of the surface points (for a patch its\n"
    "                      normal, for a shell Su x Sv of its background\n"
    "                      surface), a negative id on the other side; each side\n"
    "                      bounds at most one region.  A closed body whose\n"
    "                      surfaces have outward normals is therefore written\n"
    "                      boundary surface -1 -2 ...  The boundary must be\n"
    "                      closed: every curve of a face is shared by two faces\n"
    "                      running along it in opposite directions.  Surfaces\n"
    "                      fixed to a boundary surface bound the region too.\n"
    "  subregion (#)       regions lying inside this region\n"
    "  fixed               vertices, curves, surfaces, patches and shells inside\n"
    "                      the region that the mesh respects (both sides of a\n"
    "                      fixed surface face the region)\n"
    "  size                mesh size: a number (>= 0), def or uni; * # multiplies\n"
    "  factor #            mesh size factor (>= 0)\n"
    "  property #          property number (>= 0)\n"
    "  virtual             virtual region: not meshed (its subregions are); it\n"
    "                      takes no side of its boundary and fixes nothing\n"
    "  hole                the region is a hole: it is not meshed\n"
    "  output {yes | no}   output of the region mesh requested or suppressed\n"
    "  hexa                hexahedral mesh (with iso or map)\n"
    "  map {yes | no}      mapped hexahedral mesh\n"
    "  equidistant         equidistant mapped mesh\n"
    "  extrude             mesh extruded from a base surface, patch or shell of\n"
    "                      the boundary; weak: weak extrusion\n"
    "  lcs # # #           three different curves giving the local coordinate\n"
    "                      system of a mapped mesh\n"
    "  iso {yes | no}      iso-oriented hexahedral grid; dir1 # # # and\n"
    "                      dir2 # # #: two perpendicular directions\n"
    "  nodeprop, elemprop  node and element properties (read and ignored)\n"
    "  elemgroup # # # #   tetra, pyramid, wedge and hexa element groups (read\n"
    "                      and ignored)\n"
    "\n";

const char* const kInterface =
    "Interface # {type {vertex | curve | surface | patch | shell} # #}\n"
    "          [property #] [virtual] [weak] [elemfree] [output {yes | no}]\n"
    "          [nodeprop 'text'] [elemprop 'text'] [elemgroup # [#]]\n"
    "\n"
    "  type                kind of the two coinciding entities that the\n"
    "                      interface joins, and their ids\n"
    "  property #          property number (>= 0)\n"
    "  virtual             virtual interface\n"
    "  weak                weak interface\n"
    "  elemfree            interface without interface elements\n"
    "  output {yes | no}   output of the interface requested or suppressed\n"
    "  nodeprop, elemprop  node and element properties (read and ignored)\n"
    "  elemgroup # [#]     element groups (read and ignored): one for a vertex\n"
    "                      or curve interface, two for a surface, patch or shell\n"
    "                      interface\n"
    "\n";

const char* const kOtherKeywords =
    "View_setup ...\n"
    "View_model ...\n"
    "View_mesh ...\n"
    "View_anim ...\n"
    "\n"
    "  commands of the interactive viewer (see -Fomx): each at most once in\n"
    "  the file; read and ignored\n"
    "\n"
    "Eof\n"
    "\n"
    "  ends the input: the rest of the file is not read\n"
    "\n";

const char* const kBgMesh =
    "Notation: # - integer number, ## - floating point number\n"
    "\n"
    "  A background mesh prescribes mesh sizes independently of the model: the\n"
    "  size given at each of its nodes varies linearly over its edges, faces\n"
    "  and volume elements, and the mesh follows the smaller of this size and\n"
    "  the sizes of the model. The file named by -m is read when the bg mesh\n"
    "  size factor (-a) is not 0; every size of the file is multiplied by it.\n"
    "\n"
    "  The file is read line by line, lines of any length; leading blanks are\n"
    "  skipped, and empty lines and lines beginning with # are ignored. Each\n"
    "  record is one line of blank-separated numbers; what follows the numbers\n"
    "  a record needs is ignored (remarks, the midside nodes of quadratic\n"
    "  elements). Numbers must be finite (no nan or inf). After the last\n"
    "  section only comments may follow.\n"
    "\n"
    "General section:\n"
    "\n"
    "  mesh_type elem_degree\n"
    "      mesh_type: 3 (triangles and tetras), 4 (quads and hexas),\n"
    "                 7 (mixed mesh)\n"
    "      elem_degree: 1 (linear) or 2 (quadratic: the midside nodes are\n"
    "                   listed in the node section and used as ordinary nodes;\n"
    "                   elements list their corner nodes first)\n"
    "\n"
    "  or, for a background mesh split into several files:\n"
    "\n"
    "  0 num_files\n"
    "      the files <name>.0 to <name>.<num_files - 1> are read, each a complete\n"
    "      background mesh with its own numbering (not split further); this\n"
    "      record is the only one of the file <name>\n"
    "\n"
    "  counts, by mesh type:\n"
    "      3: num_nodes num_edges num_trias num_tetras\n"
    "      4: num_nodes num_edges num_quads num_hexas\n"
    "      7: num_nodes num_edges num_trias num_quads num_tetras num_pyrams\n"
    "         num_wedges num_hexas\n"
    "      no count is negative, there is at least one node, and enough nodes\n"
    "      for the elements counted\n"
    "\n"
    "Node section (num_nodes records):\n"
    "\n"
    "  node_id ## ## ## ##\n"
    "      node id (1 to num_nodes, each once, in any order), x, y, z and the\n"
    "      requested mesh size at the node (>= 0; 0: no request at the node,\n"
    "      the elements around it grow towards the size of the whole model)\n"
    "      A node outside the octree of the model is moved onto it, and its\n"
    "      size grows by half the distance moved. A size finer than the\n"
    "      octree allows is raised to the finest one, with a warning.\n"
    "\n"
    "Element sections (each present when its count is not zero, in this order):\n"
    "\n"
    "  edge_id nd1 nd2\n"
    "  tria_id nd1 nd2 nd3\n"
    "  quad_id nd1 nd2 nd3 nd4\n"
    "  tetra_id nd1 nd2 nd3 nd4\n"
    "  pyram_id nd1 nd2 nd3 nd4 nd5\n"
    "  wedge_id nd1 nd2 nd3 nd4 nd5 nd6\n"
    "  hexa_id nd1 nd2 nd3 nd4 nd5 nd6 nd7 nd8\n"
    "\n"
    "      element ids run from 1 to the count of their kind; nd1 ... are\n"
    "      different node ids of the node section; a quad lists its nodes\n"
    "      around it, a pyramid its base quad and then its apex, a wedge its\n"
    "      triangle nd1 nd2 nd3 and the triangle nd4 nd5 nd6 above it, a hexa\n"
    "      its quad nd1 to nd4 and the quad nd5 to nd8 above it. The requested\n"
    "      size varies linearly between the nodes of every element.\n"
    "\n";

// Element kinds of the mesh file, with their node and side numbering.
struct element_layout {
  const char* name;         // column name of the element number
  int linear_nodes;
  int quadratic_nodes;
  int sides;                // edges of a face element, faces of a volume element
  bool iso_type;            // iso type column with output bit 64
  bool volume;              // boundary entity keys are written for volume elements
};

const element_layout kEdge = {"edge_id", 2, 3, 0, false, false};
const element_layout kTria = {"tria_id", 3, 6, 3, true, false};
const element_layout kQuad = {"quad_id", 4, 8, 4, true, false};
const element_layout kTetra = {"tetra_id", 4, 10, 4, false, true};
const element_layout kPyram = {"pyram_id", 5, 13, 5, false, true};
const element_layout kWedge = {"wedge_id", 6, 15, 5, false, true};
const element_layout kHexa = {"hexa_id", 8, 20, 6, true, true};

std::string column_range(const char* name, int count) {
  // Short column names are listed in full up to three columns.
  const bool short_name = std::strlen(name) <= 3;
  if (count == 1) return mgn_format("%s1", name);
  if (count == 2) return mgn_format("%s1 %s2", name, name);
  if (count == 3 && short_name) return mgn_format("%s1 %s2 %s3", name, name, name);
  return mgn_format("%s1 ... %s%d", name, name, count);
}

// The record of one element kind under the current settings.
void print_element_record(const element_layout& e) {
  const mgn_settings& s = mgn_set;
  const int nodes = s.element_degree == 2 ? e.quadratic_nodes : e.linear_nodes;
  mgn_print(stdout, "  %s %s ent_key ent_id ent_prop\n", e.name, column_range("nd", nodes).c_str());
  // The element data continue the record on indented lines of at most 78
  // columns (the file itself has one line per element).
  std::string data;
  std::size_t line_start = 0;
  auto add = [&data, &line_start](const std::string& columns) {
    if (data.empty()) {
      data = "      " + columns;
    } else if (data.size() - line_start + 1 + columns.size() > 78) {
      line_start = data.size() + 1;
      data += "\n      " + columns;
    } else {
      data += " " + columns;
    }
  };
  if (e.sides > 0) {
    if (e.iso_type && (s.output_spec & 64) != 0) add("iso_type");
    if ((s.output_spec & 32) != 0) add(column_range("ngb", e.sides));
    if ((s.output_spec & 8) != 0) {
      add(column_range("bnd_ent_id", e.sides));
      if (e.volume) add(column_range("bnd_ent_key", e.sides));
      add(column_range("bnd_ent_prop", e.sides));
    }
  }
  if (!data.empty()) mgn_print(stdout, "%s\n", data.c_str());
}

}  // namespace

void mgn_print_input_description() {
  print_heading("Input file description");
  print_text(kInputNotation);
  print_text(kInputRules);
  print_text(kVertex);
  print_text(kCurve);
  print_text(kCurvePolygon);
  print_text(kSurface);
  print_text(kSurfacePolygon);
  print_text(kPatch);
  print_text(kShell);
  print_text(kRegion);
  print_text(kInterface);
  print_text(kOtherKeywords);
}

void mgn_print_output_description() {
  const mgn_settings& s = mgn_set;
  const int spec = s.output_spec;
  const bool quadratic = s.element_degree == 2;
  const bool mixed = s.quad_hexa_support;

  print_heading("Output file description");
  mgn_print(stdout, "Mesh file for element degree %d and output specification %d%s.\n", s.element_degree, spec,
            mixed ? "" : "\n(quad-hexa support disabled)");
  mgn_print(stdout, "Sections are separated by an empty line, fields by blanks; a record shown\n");
  mgn_print(stdout, "on several lines below is one line in the file. Numbers and ids are integers,\n");
  mgn_print(stdout, "coordinates are written as %%14.7e and node data as %%9.6f.\n\n");

  mgn_print(stdout, "Header:\n\n");
  mgn_print(stdout, "  mesh_type elem_degree renum_type output_spec\n");
  if (mixed)
    mgn_print(stdout, "  num_nodes num_edges num_trias num_quads num_tetras num_pyrams\n      num_wedges num_hexas\n\n");
  else
    mgn_print(stdout, "  num_nodes num_edges num_trias num_tetras\n\n");
  mgn_print(stdout, "      mesh_type: %s\n", mixed ? "7 (mixed mesh)" : "3 (triangles and tetras)");
  mgn_print(stdout, "      elem_degree: 1 (linear) or 2 (quadratic)\n");
  mgn_print(stdout, "      renum_type: renumbering type (-r) without the fast bit 4\n");
  mgn_print(stdout, "      output_spec: output specification (-p)\n");
  mgn_print(stdout, "      num_...: numbers of the records of each section below\n\n");

  mgn_print(stdout, "Node section (num_nodes records):\n\n");
  std::string node = "  node_id x y z ent_key ent_id ent_prop";
  if ((spec & 7) != 0) node += " [node data]";
  mgn_print(stdout, "%s\n\n", node.c_str());
  mgn_print(stdout, "      ent_key, ent_id, ent_prop: the model entity on which the node lies,\n");
  mgn_print(stdout, "      by its key, id and property number\n");
  if ((spec & 7) != 0) {
    mgn_print(stdout, "      node data, by ent_key:\n");
    mgn_print(stdout, "        1 vertex, 4 region:           none\n");
    std::string curve_data, face_data;
    if ((spec & 2) != 0) curve_data += " tx ty tz";
    if ((spec & 1) != 0) curve_data += " t";
    if ((spec & 4) != 0) face_data += " nx ny nz";
    if ((spec & 1) != 0) face_data += " u v";
    mgn_print(stdout, "        2 curve:                     %s\n", curve_data.empty() ? " none" : curve_data.c_str());
    mgn_print(stdout, "        3 surface, 5 patch, 6 shell: %s\n", face_data.empty() ? " none" : face_data.c_str());
    if ((spec & 2) != 0) mgn_print(stdout, "      tx ty tz: unit tangent of the curve at the node\n");
    if ((spec & 4) != 0) {
      mgn_print(stdout, "      nx ny nz: unit normal at the node: of the surface (Su x Sv), of\n");
      mgn_print(stdout, "                the patch plane (its normal), of the background\n");
      mgn_print(stdout, "                surface of the shell\n");
    }
    if ((spec & 1) != 0) {
      mgn_print(stdout, "      t: parameter of the node on the curve\n");
      mgn_print(stdout, "      u v: parameters of the node on the surface (for a patch or shell\n");
      mgn_print(stdout, "           on its own or background surface)\n");
    }
  }
  if ((spec & 128) != 0) {
    mgn_print(stdout, "      the nodes are listed in the internal order of the mesh, not by\n");
    mgn_print(stdout, "      their numbers\n");
  } else {
    mgn_print(stdout, "      the nodes are listed in the order of their numbers\n");
  }
  mgn_print(stdout, "\n");

  mgn_print(stdout, "Element sections (each present when its number of records is not zero):\n\n");
  print_element_record(kEdge);
  print_element_record(kTria);
  if (mixed) print_element_record(kQuad);
  print_element_record(kTetra);
  if (mixed) {
    print_element_record(kPyram);
    print_element_record(kWedge);
    print_element_record(kHexa);
  }
  mgn_print(stdout, "\n");
  mgn_print(stdout, "      ent_key, ent_id, ent_prop: the model entity that owns the element\n");
  mgn_print(stdout, "      entity keys: 1 vertex, 2 curve, 3 surface, 4 region, 5 patch,\n");
  mgn_print(stdout, "                   6 shell, 7 interface\n");
  mgn_print(stdout, "      nodes: triangles and quads turn counterclockwise seen from the side\n");
  mgn_print(stdout, "             to which the surface normal Su x Sv points (for a patch its\n");
  mgn_print(stdout, "             normal, for a shell the normal of its background surface);\n");
  mgn_print(stdout, "             tetra: nd1 nd2 nd3 turn counterclockwise seen from nd4;\n");
  if (mixed) {
    mgn_print(stdout, "             pyramid: base quad nd1 to nd4 (counterclockwise seen from\n");
    mgn_print(stdout, "             the apex nd5); wedge: triangle nd1 nd2 nd3 and triangle\n");
    mgn_print(stdout, "             nd4 nd5 nd6 above it (nd4 above nd1, ...); hexa: quad nd1\n");
    mgn_print(stdout, "             to nd4 and quad nd5 to nd8 above it (nd5 above nd1, ...),\n");
    mgn_print(stdout, "             the lower triangle or quad counterclockwise seen from the\n");
    mgn_print(stdout, "             upper one\n");
  }
  if (quadratic) {
    mgn_print(stdout, "      midside nodes follow the corner nodes, in the order of the edges:\n");
    mgn_print(stdout, "             edge: 1-2; triangle: 1-2 2-3 3-1;");
    mgn_print(stdout, "%s", mixed ? " quad: 1-2 2-3 3-4 4-1;\n" : "\n");
    mgn_print(stdout, "             tetra: 1-2 2-3 3-1 1-4 2-4 3-4;\n");
    if (mixed) {
      mgn_print(stdout, "             pyramid: 1-2 2-3 3-4 4-1 1-5 2-5 3-5 4-5;\n");
      mgn_print(stdout, "             wedge: 1-2 2-3 3-1 4-5 5-6 6-4 1-4 2-5 3-6;\n");
      mgn_print(stdout, "             hexa: 1-2 2-3 3-4 4-1 5-6 6-7 7-8 8-5 1-5 2-6 3-7 4-8\n");
    }
  }
  if ((spec & (8 | 32 | 64)) != 0) {
    if ((spec & 64) != 0) {
      mgn_print(stdout, "      iso_type: iso type of the element (0 for elements of unstructured\n");
      mgn_print(stdout, "                meshes)\n");
    }
    if ((spec & 32) != 0) {
      mgn_print(stdout, "      ngb: number of the element across each side (0: none); for\n");
      mgn_print(stdout, "                triangles and quads an element of the same surface,\n");
      mgn_print(stdout, "                patch or shell, or one across a hidden or swapped curve\n");
    }
    if ((spec & 8) != 0) {
      mgn_print(stdout, "      bnd_ent_id, bnd_ent_prop: id and property of the model entity\n");
      mgn_print(stdout, "                on which each side lies (a curve for the edges of\n");
      mgn_print(stdout, "                triangles and quads, none for a hidden curve), 0 when\n");
      mgn_print(stdout, "                there is none\n");
      mgn_print(stdout, "      bnd_ent_key: key of that entity for the faces of volume elements\n");
      mgn_print(stdout, "                (3 surface, 5 patch, 6 shell; 0: none)\n");
    }
    mgn_print(stdout, "      sides, in order: triangle edges 1-2 2-3 3-1;\n");
    if (mixed) mgn_print(stdout, "             quad edges 1-2 2-3 3-4 4-1;\n");
    mgn_print(stdout, "             tetra faces 1 2 3, 1 2 4, 2 3 4, 3 1 4");
    if (mixed) {
      mgn_print(stdout, ";\n");
      mgn_print(stdout, "             pyramid faces 1 2 3 4, 1 2 5, 2 3 5, 3 4 5, 4 1 5;\n");
      mgn_print(stdout, "             wedge faces 1 2 3, 6 5 4, 1 4 5 2, 2 5 6 3, 3 6 4 1;\n");
      mgn_print(stdout, "             hexa faces 1 2 3 4, 1 5 6 2, 2 6 7 3, 3 7 8 4, 4 8 5 1,\n");
      mgn_print(stdout, "             8 7 6 5\n");
    } else {
      mgn_print(stdout, "\n");
    }
  }
  mgn_print(stdout, "      node and element numbers start after the numbering shift (-f)\n");
  mgn_print(stdout, "\n");

  if ((spec & 16) != 0) {
    mgn_print(stdout, "Boundary association section:\n\n");
    mgn_print(stdout, "  num_curves num_surfaces num_patches num_shells\n\n");
    mgn_print(stdout, "  for each curve with boundary association (bassoc, default yes unless -A):\n");
    mgn_print(stdout, "  2 curve_id curve_prop num_edges\n");
    mgn_print(stdout, "  num_faces face_id ...          (one record per edge of the curve)\n\n");
    mgn_print(stdout, "  for each surface, patch and shell with boundary association:\n");
    mgn_print(stdout, "  ent_key ent_id ent_prop num_faces\n");
    mgn_print(stdout, "  num_elems elem_id ...          (one record per triangle, then per quad)\n\n");
    mgn_print(stdout, "      num_faces, face_id: the triangles and quads at the edge (of entities\n");
    mgn_print(stdout, "                with boundary association)\n");
    mgn_print(stdout, "      num_elems, elem_id: the volume elements at the face (0 to 2)\n");
    mgn_print(stdout, "      each entity block is followed by an empty line\n\n");
  }
}

void mgn_print_bg_mesh_description() {
  print_heading("Background mesh file description");
  print_text(kBgMesh);
}

void mgn_print_boundary_description() {
  print_heading("Boundary input file description");
  print_text("  Not available in this version (MGN_BND_MESH not defined).\n\n");
  print_heading("Boundary mesh file description");
  print_text("  Not available in this version (MGN_BND_MESH not defined).\n\n");
}

void mgn_print_ombrax_description() {
  print_heading("Ombrax input command description");
  print_text(
      "  The input file may hold commands of the interactive ombrax viewer:\n"
      "\n"
      "  View_setup ...\n"
      "  View_model ...\n"
      "  View_mesh ...\n"
      "  View_anim ...\n"
      "\n"
      "  Each may appear at most once in the file. This version does not\n"
      "  execute them (MGN_OMBRAX not defined): the rest of each command's\n"
      "  logical line is read and ignored. The ombrax graphics output of the\n"
      "  mesh is chosen with -y 1.\n"
      "\n");
}
