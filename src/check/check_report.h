// The model check's two reports: one JSON object for programs, a short
// summary with what to do for people. Both return their text and write
// nothing themselves.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "check/readiness.h"
#include "companion/findings.h"

namespace check {

// What stands between the model and the solver, kind by kind in the words
// both companions use, with the lines where each lies.
std::vector<companion::Finding> model_findings(const ModelFacts& facts);

// One JSON object, one key per line, keys always present and in a fixed
// order; absent and non-finite values are null, doubles are written in the
// shortest form that reads back to the same value.
std::string render_json(const ModelFacts& facts, const Readiness& readiness);

// The verdict, the model's figures, and one line per finding with what to
// do about it. `path` names the file as the user gave it.
std::string render_summary(std::string_view path, const ModelFacts& facts,
                           const Readiness& readiness, const CheckSettings& settings);

}  // namespace check
