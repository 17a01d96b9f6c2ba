// What a preparation run says it read and did: the human summary and the
// JSON object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "prepare/mend.h"
#include "prepare/options.h"
#include "prepare/remesh_step.h"
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
  double max_side = 0.0;               // wavelength / K
  const RemeshStep* remesh = nullptr;  // the remesh's figures, when it ran
  // Why the remesh could not run and bisection refined instead; `remeshed`
  // when it was not refused.
  geometry::RemeshStatus remesh_refused = geometry::RemeshStatus::remeshed;
  const RemeshStep* remesh_declined = nullptr;  // a remesh that ran but was not kept
  // What the check's definitions find in the facets written.
  WrittenFindings written;
  double min_angle_degrees = 0.0;
  // Written and ready: facets left, no open, non-manifold or misoriented
  // edge, no edge longer than max_side, and nothing the check would find
  // in what was written.
  bool ready = false;
};

bool is_ready(const MendedModel& mended, std::int64_t facets_out, double longest_edge_out,
              double max_side, const WrittenFindings& written);

// One object with exactly the keys format, units, facets_in, facets_out,
// welded_edges, widest_gap_closed, near_coincident_corners, dropped_nonfinite,
// t_junctions_closed, slivers_swapped, needles_collapsed, min_angle,
// dropped_degenerate, dropped_duplicate, flipped_facets,
// shells_turned_outward, cavities, cavities_turned_inward, open_edges,
// nonmanifold_edges, t_junctions, refined, longest_edge_in, longest_edge_out, ready, and
// after refined the method ("remesh", "bisection" or "none"); after a
// remesh also equilateral_estimate, smallest_angle_in, smallest_angle_out,
// largest_aspect_ratio_in, largest_aspect_ratio_out, max_deviation,
// largest_deviation, area_change, volume_change (relative), sharp_edges,
// sharp_edges_kept. Strict JSON: a length
// that is not finite is null.
std::string render_json(const PrepareReport& report);

// The summary for a person: what was read, what was done, what remains.
// IN and OUT are named as options.input and options.output give them, to
// be shown as they are (the caller escapes them for a terminal).
std::string render_summary(const PrepareReport& report, const PrepareOptions& options);

}  // namespace prepare
