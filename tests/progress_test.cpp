// The live progress line: its text, its drawing in place on a terminal
// stream, its erasure before any message, and silence off a terminal.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "message.h"
#include "progress.h"
#include "support.h"

namespace {

// The progress line drawn on a temporary file standing for a terminal of
// the given width, with no delay before drawing and between drawings.
class ProgressLine : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = mgn_progress;
    screen_ = std::tmpfile();
    ASSERT_NE(screen_, nullptr);
  }
  void TearDown() override {
    mgn_progress = saved_;
    std::fclose(screen_);
  }
  void enable(int width) {
    mgn_progress_enable_on(screen_, width);
    mgn_progress.delay = 0.0;
    mgn_progress.interval = 0.0;
  }
  std::string screen() {
    std::fflush(screen_);
    std::rewind(screen_);
    std::string text;
    for (int c = std::fgetc(screen_); c != EOF; c = std::fgetc(screen_)) text += static_cast<char>(c);
    return text;
  }
  mgn_progress_state saved_;
  FILE* screen_ = nullptr;
};

TEST_F(ProgressLine, TextsOfTheStages) {
  long made = 0;
  mgn_progress_state state;
  state.begin_seconds = 100.0;
  struct Case {
    const char* name;
    const char* entity_word;
    long entity_total;
    long entities_done;
    const char* element_word;
    long element_total;
    const char* phase;
    long made;
    double now;
    std::string text;
  };
  const Case cases[] = {
      {"Meshing regions", "regions", 3, 1, "tetras", 0, nullptr, 5000, 104.0,
       "Meshing regions: 1/3 regions, 4000 tetras, 1000/s, 4 s"},
      {"Meshing regions", "regions", 3, 1, "tetras", 0, "smoothing", 5000, 104.0,
       "Meshing regions: 1/3 regions, 4000 tetras, 1000/s, 4 s, smoothing"},
      {"Writing the mesh file", nullptr, 0, 0, "lines", 8000, nullptr, 3000, 102.0,
       "Writing the mesh file: 2000 lines of 8000 (25%), 1000/s, 2 s"},
      {"Building the octree", nullptr, 0, 0, "octants", 0, nullptr, 1000, 100.0,
       "Building the octree: 0 octants, 0 s"},
      {"Evaluating quality and renumbering", nullptr, 0, 0, nullptr, 0, nullptr, 0, 107.4,
       "Evaluating quality and renumbering: 7 s"},
  };
  for (const Case& c : cases) {
    state.stage = mgn_progress_stage();
    state.stage.name = c.name;
    state.stage.entity_word = c.entity_word;
    state.stage.entity_total = c.entity_total;
    state.stage.element_word = c.element_word;
    state.stage.element_total = c.element_total;
    state.stage.counters[0] = &made;
    state.entities_done = c.entities_done;
    state.elements_at_begin = 1000;
    state.phase = c.phase;
    made = c.made;
    EXPECT_EQ(mgn_progress_text(state, c.now), c.text);
  }
}

// Each drawing returns to the start of the line and overwrites the last;
// a shorter text blanks out what the longer one left; the text is cut one
// column short of the terminal's width so that it never wraps.
TEST_F(ProgressLine, DrawnInPlaceWithinTheWidth) {
  enable(30);
  long made = 0;
  mgn_progress_stage stage;
  stage.name = "Meshing surfaces";
  stage.element_word = "trias";
  stage.counters[0] = &made;
  mgn_progress_begin(stage);
  made = 123456789;
  mgn_progress_refresh();
  std::string first = screen();
  ASSERT_EQ(first.substr(0, 1), "\r");
  EXPECT_EQ(first.size(), 1u + 29u);
  EXPECT_EQ(first.substr(1, 29), "Meshing surfaces: 123456789 t");
  EXPECT_EQ(mgn_progress.shown, 29);

  mgn_progress.stage.name = "M";
  made = 0;
  mgn_progress_refresh();
  const std::string second = screen().substr(first.size());
  const std::string text = mgn_progress_text(mgn_progress, mgn_progress.drawn_seconds);
  ASSERT_LT(text.size(), 29u);
  EXPECT_EQ(second, "\r" + text + std::string(29 - text.size(), ' ') + "\r" + text);
  EXPECT_EQ(mgn_progress.shown, static_cast<int>(text.size()));
  mgn_progress_end();
}

// A message (a progress message, a warning) first erases the line; the
// end of a stage erases it too, and nothing is drawn between stages.
TEST_F(ProgressLine, ErasedBeforeEveryMessage) {
  enable(80);
  mgn_progress_stage stage;
  stage.name = "Meshing curves";
  stage.entity_word = "curves";
  stage.entity_total = 2;
  mgn_progress_begin(stage);
  mgn_progress_entity_done();
  const std::string line = "Meshing curves: 1/2 curves, 0 s";
  ASSERT_EQ(screen(), "\r" + line);
  mgn_print(stderr, "%s", "");
  EXPECT_EQ(screen(), "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
  EXPECT_EQ(mgn_progress.shown, 0);

  // Drawn again at the next refresh, erased at the end of the stage.
  mgn_progress_tick();
  mgn_progress_refresh();
  EXPECT_EQ(mgn_progress.shown, static_cast<int>(line.size()));
  mgn_progress_end();
  EXPECT_EQ(mgn_progress.shown, 0);
  const std::string after_end = screen();
  mgn_progress_refresh();
  mgn_progress_entity_done();
  EXPECT_EQ(screen(), after_end);
}

// Off a terminal nothing is drawn and the busy loops never read the clock.
TEST_F(ProgressLine, SilentOffATerminal) {
  mgn_progress_enable_on(nullptr, 0);
  mgn_progress.delay = 0.0;
  mgn_progress_stage stage;
  stage.name = "Meshing regions";
  mgn_progress_begin(stage);
  for (int k = 0; k < 5000; ++k) mgn_progress_tick();
  mgn_progress_refresh();
  EXPECT_FALSE(mgn_progress.active);
  EXPECT_EQ(mgn_progress.shown, 0);
  EXPECT_GT(mgn_progress.countdown, LONG_MAX / 2);
}

// A run whose standard output is a file or a pipe carries no trace of the
// line, even with stages long enough to show it on a terminal.
TEST(ProgressRun, NothingInAFileOrAPipe) {
  const std::string dir = mgn_temp_dir();
  const mgn_run_result r =
      mgn_run_program({"-i", std::string(MGN_TEST_MODELS) + "/unit_cube.mgn", "-d", "0.1", "-o", "cube.mgnmesh"}, dir);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_EQ(r.out.find("Meshing"), std::string::npos);
}

}  // namespace
