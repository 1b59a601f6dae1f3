// Sampling cut points from sorted runs, and moving each run's cut to one.
#include "engine/cut_points.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace quorbel {

namespace {

// True when the line at `position` of run `run` comes after the point.
bool comes_after(const line_view& line, std::size_t run, std::size_t position,
                 const cut_point& point) noexcept {
  const int c =
      compare_order_codes(line.code, line.code_length, point.line.code, point.line.code_length);
  if (c != 0) return c > 0;
  if (run != point.run) return run > point.run;
  return position > point.position;
}

}  // namespace

void advance_cuts(const sorted_run* runs, std::size_t count, const cut_point& point,
                  run_cut* cuts) noexcept {
  for (std::size_t r = 0; r < count; ++r) {
    const sorted_run& run = runs[r];
    run_cut& cut = cuts[r];
    const auto after_mark = [&](std::size_t mark) {
      return comes_after(read_record(run.records + run.marks[mark], run.texts), r,
                         mark * INDEX_STEP, point);
    };
    const std::size_t marks = (run.lines + INDEX_STEP - 1) / INDEX_STEP;
    // The last mark known to come before the point, and the first after it.
    std::size_t before = cut.position / INDEX_STEP;
    std::size_t beyond = before + 1;
    for (std::size_t step = 1; beyond < marks && !after_mark(beyond); step *= 2) {
      before = beyond;
      beyond = before + step;
    }
    if (beyond > marks) beyond = marks;
    while (beyond - before > 1) {
      const std::size_t middle = before + (beyond - before) / 2;
      if (after_mark(middle)) {
        beyond = middle;
      } else {
        before = middle;
      }
    }
    if (before * INDEX_STEP > cut.position) cut = {run.marks[before], before * INDEX_STEP};
    while (cut.offset < run.size) {
      const line_view line = read_record(run.records + cut.offset, run.texts);
      if (comes_after(line, r, cut.position, point)) break;
      cut.offset += record_size(line);
      ++cut.position;
    }
  }
}

std::size_t lines_before(const sorted_run* runs, std::size_t count, const run_cut* cuts,
                         const std::uint8_t* prefix, std::size_t length) noexcept {
  std::size_t total = 0;
  for (std::size_t r = 0; r < count; ++r) {
    const sorted_run& run = runs[r];
    const std::size_t end = cuts[r].position;
    if (length == 0) {
      total += end;
      continue;
    }
    // The lines of the prefix stand together, after those of smaller codes:
    // the first mark not below the prefix, then a walk from the mark before.
    const auto below = [&](const char* record) {
      const line_view line = read_record(record, run.texts);
      return compare_order_codes(line.code, line.code_length, prefix, length) < 0;
    };
    std::size_t low = 0;
    std::size_t high = (end + INDEX_STEP - 1) / INDEX_STEP;
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      if (below(run.records + run.marks[middle])) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    std::size_t position = low == 0 ? 0 : (low - 1) * INDEX_STEP;
    const char* at = run.records + (low == 0 ? 0 : run.marks[low - 1]);
    for (; position < end && below(at); ++position) at += record_size(read_record(at, run.texts));
    total += end - position;
  }
  return total;
}

cut_point* sample_cut_points(const sorted_run* runs, std::size_t count, std::size_t step,
                             std::size_t* samples) {
  std::size_t total = 0;
  for (std::size_t r = 0; r < count; ++r) total += (runs[r].lines + step - 1) / step;
  auto* points = static_cast<cut_point*>(std::malloc((total == 0 ? 1 : total) * sizeof(cut_point)));
  if (points == nullptr) return nullptr;
  std::size_t n = 0;
  for (std::size_t r = 0; r < count; ++r) {
    const sorted_run& run = runs[r];
    for (std::size_t position = r * step / count; position < run.lines; position += step) {
      const char* record = run.records + run.marks[position / INDEX_STEP];
      for (std::size_t i = 0; i < position % INDEX_STEP; ++i)
        record += record_size(read_record(record, run.texts));
      new (&points[n++]) cut_point{read_record(record, run.texts), r, position};
    }
  }
  std::sort(points, points + n, [](const cut_point& a, const cut_point& b) {
    return comes_after(b.line, b.run, b.position, a);
  });
  *samples = n;
  return points;
}

}  // namespace quorbel
