// A Tecplot ASCII view of triangles, built as text: a title, the
// variables X, Y and Z, then one zone per set of triangles. Every zone is
// FETRIANGLE in point packing; nodes are not shared, so each element lists
// its own three nodes, and a coordinate is written in the shortest form
// that reads back to the same double. An edge is drawn as a triangle with
// its last two corners equal, since common readers load no line zones.
//
// A view without a single zone is not written: readers crash on one. A
// view therefore begins with the zone of the whole model, and a model
// without a finite element has no view.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "geometry/facet_soup.h"

namespace companion {

// Takes the view's text piece by piece; false when a piece could not be
// written, which stops the view.
using TextSink = std::function<bool(std::string_view)>;

// Whether `model` has an element a view can show (a finite one).
bool has_zone(std::span<const geometry::Triangle> model);

class TecplotZones {
 public:
  // Holds the text until about a mebibyte is ready, then hands it to `sink`
  // (a view of a large model is never whole in memory). `model` must have
  // a zone (has_zone); its zone, titled "model", comes first.
  TecplotZones(std::string_view title, std::span<const geometry::Triangle> model, TextSink sink);

  // Adds a zone of the finite elements among `elements`; none when there is
  // no finite element. False once the sink has refused a piece.
  bool add_zone(std::string_view title, std::span<const geometry::Triangle> elements);

  // Hands the rest of the text to the sink; false once it has refused.
  bool finish();

 private:
  bool flush_when_large();

  TextSink sink_;
  std::string text_;
  bool failed_ = false;
};

}  // namespace companion
