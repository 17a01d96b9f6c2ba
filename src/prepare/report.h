// What a preparation run says it read and did: the human summary and the
// JSON object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "prepare/mend.h"
#include "prepare/options.h"
#include "prepare/remesh_step.h"
#include "prepare/written_model.h"
#include "reading/model_reader.h"

namespace prepare {

struct PrepareReport {
  reading::ModelFormat format = reading::ModelFormat::ascii;
  // The unit the model was read in ("mm"); it is written, and every length
  // here is, in metres.
  std::string_view units = "m";
  std::int64_t facets_in = 0;
  std::int64_t facets_out = 0;
  const MendedModel* mended = nullptr;  // the counts and what remains
  bool refined = false;                 // refinement ran (it may have cut nothing)
  double longest_edge_in = 0.0;         // infinite when longer than the largest double
  double longest_edge_out = 0.0;
  double max_side = 0.0;  // wavelength / K
  // The smallest angle and largest aspect ratio of the facets as read.
  double smallest_angle_in = 0.0;
  double largest_aspect_ratio_in = 0.0;
  // OUT as written, examined as the check examines a file; null when
  // nothing was written.
  const WrittenModel* written = nullptr;
  const RemeshStep* remesh = nullptr;  // the remesh's figures, when it ran
  // Why the remesh could not run and bisection refined instead; `remeshed`
  // when it was not refused.
  geometry::RemeshStatus remesh_refused = geometry::RemeshStatus::remeshed;
  const RemeshStep* remesh_declined = nullptr;  // a remesh that ran but was not kept
  double min_angle_degrees = 0.0;               // facets with a smaller angle are degenerate
  // Written and ready: facets left and no finding on OUT.
  bool ready = false;
};

// Whether OUT, with `facets_out` facets, is ready for the solver: facets
// left and no finding on it (an open, non-manifold or misoriented edge, a
// shell facing the wrong way, an edge longer than max_side, ...).
bool is_ready(const WrittenModel& written, std::int64_t facets_out);

// One object. The facts of IN end in _in; the facts of OUT carry the names
// the model check gives them for the file it reads: format_in, facets_in,
// units, facets, welded_edges, widest_gap_closed, near_coincident_corners (of IN,
// as the check of IN counts them), dropped_nonfinite, dropped_degenerate, dropped_duplicate,
// t_junctions_closed, slivers_swapped, needles_collapsed, min_angle,
// flipped_facets, shells_turned_outward, shells, cavities,
// cavities_turned_inward, open_edges, gap_edges, widest_gap,
// nonmanifold_edges, misoriented_edges, t_junctions, refined, method ("remesh",
// "bisection" or "none"), longest_edge_in, longest_edge, smallest_angle_in,
// largest_aspect_ratio_in, smallest_angle, smallest_angle_line,
// largest_aspect_ratio, largest_aspect_ratio_line, findings, ready; after
// a remesh also equilateral_estimate, max_deviation, largest_deviation,
// area_change, volume_change (relative), sharp_edges, sharp_edges_kept.
// Lines are those of OUT. Strict JSON: a length that is not finite is null.
std::string render_json(const PrepareReport& report);

// The summary for a person: what was read, what was done, what remains.
// IN and OUT are named as options.input and options.output give them, to
// be shown as they are (the caller escapes them for a terminal).
std::string render_summary(const PrepareReport& report, const PrepareOptions& options);

}  // namespace prepare
