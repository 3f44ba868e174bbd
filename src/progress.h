// The live progress line: while a long stage runs (the octree, the meshing
// of each kind of entity, smoothing, renumbering, writing), a person at a
// terminal sees one line with the entities and elements done, their rate
// and the elapsed time, redrawn a few times a second in place and erased
// before anything else is printed.  Only when standard output is a
// terminal: a run into a file or a pipe writes exactly what it wrote
// without it.
//
// The stages say where they begin and end (mgn_progress_begin, _end) and
// which entity or phase they are at; the busy loops below them only call
// mgn_progress_tick, which costs a decrement until a redraw may be due.
#ifndef MGN_PROGRESS_H
#define MGN_PROGRESS_H

#include <cstdio>
#include <string>

// What a stage counts.  The element counters are summed and shown as their
// growth since the stage began (the totals of records created, or a line
// count); element_total, when known, gives a percentage.
struct mgn_progress_stage {
  const char* name = "";              // "Meshing surfaces"
  const char* entity_word = nullptr;  // "surfaces": entities done of entity_total
  long entity_total = 0;
  const char* element_word = nullptr;  // "trias"
  const long* counters[4] = {};
  long element_total = 0;
};

// The state of the line (one per process, in globals.cpp).
struct mgn_progress_state {
  bool enabled = false;         // standard output is a terminal
  FILE* stream = nullptr;       // where the line goes (standard output)
  int width = 80;               // terminal columns
  long countdown = 0;           // ticks left before the clock is read
  bool active = false;          // a stage is running
  int shown = 0;                // columns of the line on the screen, 0: none
  mgn_progress_stage stage;
  long entities_done = 0;
  long elements_at_begin = 0;
  const char* phase = nullptr;  // "smoothing" while a stage smooths
  double begin_seconds = 0.0;   // monotonic clock at the stage's beginning
  double drawn_seconds = 0.0;   // and at the last drawing
  double delay = 0.5;           // seconds a stage runs before its line appears
  double interval = 0.25;       // seconds between two drawings
};
extern mgn_progress_state mgn_progress;

// Ticks between two readings of the clock.
constexpr long MGN_PROGRESS_TICKS = 512;

// Turns the line on when standard output is a terminal (called once at
// start-up).  mgn_progress_enable_on tests the line on any stream.
void mgn_progress_start();
void mgn_progress_enable_on(FILE* stream, int width);

void mgn_progress_begin(const mgn_progress_stage& stage);
void mgn_progress_entity_done();
// Names what the stage is doing now ("smoothing"); null for nothing.
void mgn_progress_phase(const char* phase);
// Ends the stage and erases its line.
void mgn_progress_end();
// Erases the line when it is shown (the print routines call it first).
void mgn_progress_erase();

// Reads the clock and redraws the line when it is due.
void mgn_progress_refresh();
// One unit of work of a busy loop.
inline void mgn_progress_tick() {
  if (--mgn_progress.countdown <= 0) [[unlikely]]
    mgn_progress_refresh();
}

// The text of the line for the given state at the given time (for tests).
std::string mgn_progress_text(const mgn_progress_state& state, double now_seconds);

#endif  // MGN_PROGRESS_H
