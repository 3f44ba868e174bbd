// The live progress line of long stages on a terminal.
#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>

namespace {

double clock_seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

long counted(const mgn_progress_stage& stage) {
  long sum = 0;
  for (const long* counter : stage.counters)
    if (counter != nullptr) sum += *counter;
  return sum;
}

void draw(double now) {
  mgn_progress_state& p = mgn_progress;
  std::string text = mgn_progress_text(p, now);
  const int room = p.width > 1 ? p.width - 1 : 1;  // the last column would wrap
  if (static_cast<int>(text.size()) > room) text.resize(static_cast<std::size_t>(room));
  const int length = static_cast<int>(text.size());
  // Overwrite the previous line; blanks clear what a longer one left.
  std::fprintf(p.stream, "\r%s%*s", text.c_str(), p.shown > length ? p.shown - length : 0, "");
  if (p.shown > length) std::fprintf(p.stream, "\r%s", text.c_str());
  std::fflush(p.stream);
  p.shown = length;
  p.drawn_seconds = now;
}

}  // namespace

std::string mgn_progress_text(const mgn_progress_state& state, double now_seconds) {
  const mgn_progress_stage& stage = state.stage;
  const double elapsed = now_seconds - state.begin_seconds;
  char part[160];
  std::string text = stage.name;
  text += ':';
  if (stage.entity_word != nullptr) {
    std::snprintf(part, sizeof part, " %ld/%ld %s,", state.entities_done, stage.entity_total, stage.entity_word);
    text += part;
  }
  if (stage.element_word != nullptr) {
    const long elements = counted(stage) - state.elements_at_begin;
    std::snprintf(part, sizeof part, " %ld %s", elements, stage.element_word);
    text += part;
    if (stage.element_total > 0) {
      const double share = static_cast<double>(elements) / static_cast<double>(stage.element_total);
      std::snprintf(part, sizeof part, " of %ld (%.0f%%)", stage.element_total, 100.0 * share);
      text += part;
    }
    if (elapsed > 0.0) {
      std::snprintf(part, sizeof part, ", %.0f/s", static_cast<double>(elements) / elapsed);
      text += part;
    }
    text += ',';
  }
  std::snprintf(part, sizeof part, " %.0f s", elapsed);
  text += part;
  if (state.phase != nullptr) {
    text += ", ";
    text += state.phase;
  }
  return text;
}

void mgn_progress_enable_on(FILE* stream, int width) {
  mgn_progress.enabled = stream != nullptr;
  mgn_progress.stream = stream;
  mgn_progress.width = width;
  mgn_progress.countdown = mgn_progress.enabled ? MGN_PROGRESS_TICKS : LONG_MAX;
}

void mgn_progress_start() {
  if (isatty(STDOUT_FILENO) == 0) {
    mgn_progress_enable_on(nullptr, 0);
    return;
  }
  winsize size{};
  const int columns = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
  mgn_progress_enable_on(stdout, columns);
}

void mgn_progress_begin(const mgn_progress_stage& stage) {
  mgn_progress_state& p = mgn_progress;
  if (!p.enabled) return;
  mgn_progress_erase();
  p.active = true;
  p.stage = stage;
  p.entities_done = 0;
  p.elements_at_begin = counted(stage);
  p.phase = nullptr;
  p.begin_seconds = clock_seconds();
  p.drawn_seconds = p.begin_seconds;
  p.countdown = MGN_PROGRESS_TICKS;
}

void mgn_progress_entity_done() {
  if (!mgn_progress.active) return;
  ++mgn_progress.entities_done;
  mgn_progress_refresh();
}

void mgn_progress_phase(const char* phase) {
  if (!mgn_progress.active) return;
  mgn_progress.phase = phase;
  mgn_progress_refresh();
}

void mgn_progress_end() {
  if (!mgn_progress.active) return;
  mgn_progress_erase();
  mgn_progress.active = false;
}

void mgn_progress_erase() {
  mgn_progress_state& p = mgn_progress;
  if (p.shown == 0) return;
  std::fprintf(p.stream, "\r%*s\r", p.shown, "");
  std::fflush(p.stream);
  p.shown = 0;
}

void mgn_progress_refresh() {
  mgn_progress_state& p = mgn_progress;
  if (!p.enabled) {
    p.countdown = LONG_MAX;
    return;
  }
  p.countdown = MGN_PROGRESS_TICKS;
  if (!p.active) return;
  const double now = clock_seconds();
  if (now - p.begin_seconds < p.delay) return;
  if (p.shown != 0 && now - p.drawn_seconds < p.interval) return;
  draw(now);
}
