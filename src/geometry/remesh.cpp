// The one file that uses CGAL's polygon mesh processing: its types stay in
// here, our triangles go in and come out.
#include "geometry/remesh.h"

#include <CGAL/AABB_segment_primitive.h>
#include <CGAL/AABB_traits.h>
#include <CGAL/AABB_tree.h>
#include <CGAL/AABB_triangle_primitive.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Polygon_mesh_processing/connected_components.h>
#include <CGAL/Polygon_mesh_processing/detect_features.h>
#include <CGAL/Polygon_mesh_processing/polygon_soup_to_polygon_mesh.h>
#include <CGAL/Polygon_mesh_processing/remesh.h>
#include <CGAL/Surface_mesh.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <map>
#include <new>
#include <numbers>
#include <utility>

namespace geometry {
namespace {

namespace PMP = CGAL::Polygon_mesh_processing;
using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point3 = Kernel::Point_3;
using Mesh = CGAL::Surface_mesh<Point3>;
using VertexIndex = Mesh::Vertex_index;
using EdgeIndex = Mesh::Edge_index;
using FaceIndex = Mesh::Face_index;

using TriangleList = std::vector<Kernel::Triangle_3>;
using TrianglePrimitive = CGAL::AABB_triangle_primitive<Kernel, TriangleList::const_iterator>;
using TriangleTree = CGAL::AABB_tree<CGAL::AABB_traits<Kernel, TrianglePrimitive>>;
using SegmentList = std::vector<Kernel::Segment_3>;
using SegmentPrimitive = CGAL::AABB_segment_primitive<Kernel, SegmentList::const_iterator>;
using SegmentTree = CGAL::AABB_tree<CGAL::AABB_traits<Kernel, SegmentPrimitive>>;

// The edge length aimed at, as a fraction of the limit: the remesher splits
// edges above 4/3 of it and collapses those below 4/5, and its edges settle
// a little below the target (a median of about 0.74 of the limit here), so
// few come out above the limit and are split at the end. A lower fraction
// gives more facets without better shapes; a higher one more splits at
// the end, with their needles.
constexpr double TARGET_FRACTION = 0.85;
// Each pass that makes the curved parts finer shrinks their target at
// least so.
constexpr double FINER_STEP = 0.9;
constexpr int FINER_PASSES = 8;
// A facet is well shaped when its smallest corner is at least 20 degrees.
const double SINE_OF_WELL_SHAPED = std::sin(20.0 * std::numbers::pi / 180.0);
// Regions around needles are remeshed at a size a little above the short
// edge they meet, halving at most per pass.
constexpr double SHORT_CHAIN_SIZE = 1.2;
constexpr double REGION_STEP = 0.5;
constexpr int SHAPE_PASSES = 6;
// Rounds of putting back, splitting and refining what lies off at the end.
constexpr int FINAL_ROUNDS = 3;

Point3 to_cgal(const Point& p) { return {p[0], p[1], p[2]}; }
Point from_cgal(const Point3& p) { return {p.x(), p.y(), p.z()}; }

Point3 midpoint3(const Point3& a, const Point3& b) { return CGAL::midpoint(a, b); }

// Builds the mesh from the facets, joining corners that are equal to the
// bit. False when the facets are not a surface the mesh can hold.
bool build_mesh(std::span<const Triangle> model, Mesh& mesh) {
  std::map<Point, std::size_t> vertex_of;
  std::vector<Point3> points;
  std::vector<std::array<std::size_t, 3>> polygons;
  polygons.reserve(model.size());
  for (const Triangle& facet : model) {
    std::array<std::size_t, 3> polygon{};
    for (std::size_t k = 0; k < 3; ++k) {
      const auto [place, added] = vertex_of.try_emplace(facet[k], points.size());
      if (added) points.push_back(to_cgal(facet[k]));
      polygon[k] = place->second;
    }
    polygons.push_back(polygon);
  }
  if (!PMP::is_polygon_soup_a_polygon_mesh(polygons)) return false;
  PMP::polygon_soup_to_polygon_mesh(points, polygons, mesh);
  return true;
}

std::size_t count_shells(const Mesh& mesh) {
  std::vector<std::size_t> component(mesh.number_of_faces() + mesh.number_of_removed_faces());
  auto map = CGAL::make_property_map(component);
  return PMP::connected_components(mesh, map);
}

// The vertices the remesh must not move or remove: where a chain of sharp
// or border edges ends, branches, or bends. A chain's straight runs may
// lose their inner vertices, since that does not move the chain.
void constrain_corners(const Mesh& mesh, Mesh::Property_map<EdgeIndex, bool> sharp,
                       Mesh::Property_map<VertexIndex, bool> fixed, double straight_tolerance) {
  for (VertexIndex v : mesh.vertices()) {
    std::vector<VertexIndex> along;
    for (auto h : CGAL::halfedges_around_target(mesh.halfedge(v), mesh)) {
      if (sharp[mesh.edge(h)]) along.push_back(mesh.source(h));
    }
    if (along.empty()) continue;
    if (along.size() != 2) {
      fixed[v] = true;
      continue;
    }
    const Kernel::Segment_3 chord(mesh.point(along[0]), mesh.point(along[1]));
    if (chord.is_degenerate() ||
        CGAL::squared_distance(chord, mesh.point(v)) > straight_tolerance * straight_tolerance) {
      fixed[v] = true;
    }
  }
}

class Surface {
 public:
  explicit Surface(TriangleList triangles) : triangles_(std::move(triangles)) {
    tree_.insert(triangles_.cbegin(), triangles_.cend());
    tree_.accelerate_distance_queries();
  }
  Point3 closest(const Point3& p) const { return tree_.closest_point(p); }
  double distance(const Point3& p) const { return std::sqrt(tree_.squared_distance(p)); }

 private:
  TriangleList triangles_;
  TriangleTree tree_;
};

// The largest distance from the input of the points sampled on a facet.
double facet_deviation(const Mesh& mesh, FaceIndex f, const Surface& input) {
  std::array<Point3, 3> p;
  std::size_t k = 0;
  for (VertexIndex v : CGAL::vertices_around_face(mesh.halfedge(f), mesh)) p[k++] = mesh.point(v);
  double largest = input.distance(CGAL::centroid(p[0], p[1], p[2]));
  for (std::size_t i = 0; i < 3; ++i) {
    largest = std::max(largest, input.distance(midpoint3(p[i], p[(i + 1) % 3])));
  }
  return largest;
}

// The halfedge that ends at a facet's smallest corner (its next halfedge
// leaves that corner) and the sine of that corner.
std::pair<Mesh::Halfedge_index, double> smallest_corner(const Mesh& mesh, FaceIndex f) {
  Mesh::Halfedge_index best;
  double least = INFINITY;
  for (auto h : CGAL::halfedges_around_face(mesh.halfedge(f), mesh)) {
    const Point3& corner = mesh.point(mesh.target(h));
    const Kernel::Vector_3 in = mesh.point(mesh.source(h)) - corner;
    const Kernel::Vector_3 out = mesh.point(mesh.target(mesh.next(h))) - corner;
    const double lengths = std::sqrt(in.squared_length() * out.squared_length());
    const double sine =
        lengths > 0.0 ? std::sqrt(CGAL::cross_product(in, out).squared_length()) / lengths : 0.0;
    // An obtuse corner is never the smallest: its sine is the supplement's.
    if (in * out < 0.0) continue;
    if (sine < least) {
      least = sine;
      best = h;
    }
  }
  return {best, least};
}

// Splits every edge above `max_side` and puts the new vertices onto the
// input (a midpoint on a chain is on it already: chains are straight
// between their fixed corners).
// Putting a vertex back can lengthen its edges a little: edges are split a
// little below the limit, in rounds until none is above it.
void split_long_edges(Mesh& mesh, double max_side, Mesh::Property_map<EdgeIndex, bool> sharp,
                      Mesh::Property_map<VertexIndex, bool> fixed, const Surface& input) {
  for (int round = 0; round < 8; ++round) {
    mesh.collect_garbage();
    const std::size_t old_vertices = mesh.number_of_vertices();
    std::vector<EdgeIndex> long_edges;
    for (EdgeIndex e : mesh.edges()) {
      if (PMP::edge_length(e, mesh) > max_side) long_edges.push_back(e);
    }
    if (long_edges.empty()) return;
    PMP::split_long_edges(long_edges, max_side * 0.98, mesh,
                          PMP::parameters::edge_is_constrained_map(sharp));
    for (VertexIndex v : mesh.vertices()) {
      if (static_cast<std::size_t>(v) >= old_vertices && !fixed[v]) {
        mesh.point(v) = input.closest(mesh.point(v));
      }
    }
  }
}

Remeshed remesh_mesh(Mesh& mesh, const RemeshTargets& targets, const RemeshPhase& phase) {
  Remeshed result;
  TriangleList input_triangles;
  input_triangles.reserve(mesh.number_of_faces());
  CGAL::Bbox_3 box;
  for (FaceIndex f : mesh.faces()) {
    std::array<Point3, 3> p;
    std::size_t k = 0;
    for (VertexIndex v : CGAL::vertices_around_face(mesh.halfedge(f), mesh)) p[k++] = mesh.point(v);
    input_triangles.emplace_back(p[0], p[1], p[2]);
    box += input_triangles.back().bbox();
  }
  const double diagonal =
      std::hypot(box.xmax() - box.xmin(), box.ymax() - box.ymin(), box.zmax() - box.zmin());
  const Surface input(input_triangles);
  const std::size_t shells = count_shells(mesh);

  phase("finding sharp edges");
  auto sharp = mesh.add_property_map<EdgeIndex, bool>("e:sharp", false).first;
  auto fixed = mesh.add_property_map<VertexIndex, bool>("v:fixed", false).first;
  PMP::detect_sharp_edges(mesh, targets.feature_angle_degrees, sharp);
  SegmentList chains;
  for (EdgeIndex e : mesh.edges()) {
    if (mesh.is_border(e)) sharp[e] = true;
    if (sharp[e]) {
      chains.emplace_back(mesh.point(mesh.vertex(e, 0)), mesh.point(mesh.vertex(e, 1)));
    }
  }
  result.sharp_edges_in = static_cast<std::int64_t>(chains.size());
  // The remesher marks the pieces of every edge it splits on the border of
  // a remeshed region as constrained; only pieces of the input's chains
  // are. After each pass the marks are set again from the chains, so that
  // the seams of a region can be flipped and smoothed like any edge.
  const double chain_tolerance = 1e-9 * diagonal;
  SegmentTree chain_tree;
  if (!chains.empty()) {
    chain_tree.insert(chains.cbegin(), chains.cend());
    chain_tree.accelerate_distance_queries();
  }
  const auto on_chain = [&](const Point3& p) {
    return !chains.empty() && chain_tree.squared_distance(p) <= chain_tolerance * chain_tolerance;
  };
  const auto mark_chains = [&] {
    for (EdgeIndex e : mesh.edges()) {
      const Point3& a = mesh.point(mesh.vertex(e, 0));
      const Point3& b = mesh.point(mesh.vertex(e, 1));
      sharp[e] = mesh.is_border(e) || (on_chain(a) && on_chain(b) && on_chain(midpoint3(a, b)));
    }
  };
  constrain_corners(mesh, sharp, fixed, 1e-9 * diagonal);

  phase("remeshing");
  const double target = TARGET_FRACTION * targets.max_side;
  PMP::isotropic_remeshing(mesh.faces(), target, mesh,
                           PMP::parameters::number_of_iterations(5)
                               .edge_is_constrained_map(sharp)
                               .vertex_is_constrained_map(fixed)
                               .number_of_relaxation_steps(3));
  mesh.collect_garbage();

  // Where the surface is curved, the facets of the target size lie too far
  // from it: those facets and their neighbours are remeshed finer, until
  // every facet lies within the deviation.
  phase("following the curvature");
  const auto project = [&mesh, &input](VertexIndex v) { return input.closest(mesh.point(v)); };
  // The finer parts meet the rest along seams of uneven facets: flips
  // and smoothing, without splitting or collapsing, even them out.
  const auto even_out = [&] {
    PMP::isotropic_remeshing(mesh.faces(), target, mesh,
                             PMP::parameters::number_of_iterations(2)
                                 .edge_is_constrained_map(sharp)
                                 .vertex_is_constrained_map(fixed)
                                 .do_split(false)
                                 .do_collapse(false)
                                 .number_of_relaxation_steps(2)
                                 .projection_functor(project));
    mesh.collect_garbage();
  };
  // Remeshes the facets a pass chose, with their neighbours, at `size`.
  const auto remesh_region = [&](const std::vector<char>& chosen, double size) {
    std::vector<char> grown(chosen.size(), 0);
    for (FaceIndex f : mesh.faces()) {
      if (chosen[static_cast<std::size_t>(f)] == 0) continue;
      for (VertexIndex v : CGAL::vertices_around_face(mesh.halfedge(f), mesh)) {
        for (FaceIndex g : CGAL::faces_around_target(mesh.halfedge(v), mesh)) {
          if (g != Mesh::null_face()) grown[static_cast<std::size_t>(g)] = 1;
        }
      }
    }
    std::vector<FaceIndex> region;
    for (FaceIndex f : mesh.faces()) {
      if (grown[static_cast<std::size_t>(f)] != 0) region.push_back(f);
    }
    PMP::isotropic_remeshing(region, size, mesh,
                             PMP::parameters::number_of_iterations(3)
                                 .edge_is_constrained_map(sharp)
                                 .vertex_is_constrained_map(fixed)
                                 .number_of_relaxation_steps(3)
                                 .projection_functor(project));
    mesh.collect_garbage();
    mark_chains();
  };
  // Refines the facets that lie farther from the input than allowed, with
  // their neighbours, in passes of ever smaller targets.
  const auto follow_curvature = [&](int passes) {
    double finer = target;
    for (int pass = 0; pass < passes; ++pass) {
      std::vector<char> chosen(mesh.number_of_faces(), 0);
      bool any = false;
      double worst = 0.0;
      double edge_sum = 0.0;
      std::size_t edge_count = 0;
      for (FaceIndex f : mesh.faces()) {
        const double deviation = facet_deviation(mesh, f, input);
        if (deviation <= targets.max_deviation) continue;
        any = true;
        worst = std::max(worst, deviation);
        for (auto h : CGAL::halfedges_around_face(mesh.halfedge(f), mesh)) {
          edge_sum += PMP::edge_length(h, mesh);
          ++edge_count;
        }
        chosen[static_cast<std::size_t>(f)] = 1;
      }
      if (!any) return;
      // A chord's distance from a curve grows with the square of its
      // length: the size that brings the worst facet within the deviation,
      // and at least a step below the last, so that the passes end.
      const double mean_edge = edge_sum / static_cast<double>(edge_count);
      finer =
          std::min(finer * FINER_STEP, 0.9 * mean_edge * std::sqrt(targets.max_deviation / worst));
      remesh_region(chosen, finer);
    }
  };
  // Where a chain of sharp edges keeps more corners than the target size
  // would give it (a finely tessellated rim, a short edge between two
  // faces), the facets of the target size cannot reach its corners
  // without a needle. Those facets and their neighbours are remeshed at
  // the size of the short edges, in steps, so that the size grows
  // gradually away from the chain. A small corner between two sharp edges
  // is the input's own shape and is left as it is.
  const auto follow_short_chains = [&](int passes) {
    double finer = target;
    for (int pass = 0; pass < passes; ++pass) {
      std::vector<char> chosen(mesh.number_of_faces(), 0);
      double shortest = INFINITY;
      for (FaceIndex f : mesh.faces()) {
        const auto [corner_side, least_sine] = smallest_corner(mesh, f);
        if (least_sine >= SINE_OF_WELL_SHAPED) continue;
        const auto h = corner_side;
        if (sharp[mesh.edge(h)] && sharp[mesh.edge(mesh.next(h))]) continue;
        // The side facing the small corner: a needle on a short chain edge.
        const auto facing = mesh.next(mesh.next(h));
        const double side = PMP::edge_length(facing, mesh);
        if (!sharp[mesh.edge(facing)] || side >= 0.5 * finer) continue;
        chosen[static_cast<std::size_t>(f)] = 1;
        shortest = std::min(shortest, side);
      }
      if (!std::isfinite(shortest)) return;
      // Steps of at most REGION_STEP grade the size from the chain out.
      finer = std::max(shortest * SHORT_CHAIN_SIZE, finer * REGION_STEP);
      if (targets.facet_budget <= 0) {
        remesh_region(chosen, finer);
        continue;
      }
      // A pass that would pass the budget is undone; the passes stop there.
      Mesh kept = mesh;
      remesh_region(chosen, finer);
      if (static_cast<std::int64_t>(mesh.number_of_faces()) > targets.facet_budget) {
        mesh = std::move(kept);
        sharp = mesh.property_map<EdgeIndex, bool>("e:sharp").first;
        fixed = mesh.property_map<VertexIndex, bool>("v:fixed").first;
        return;
      }
    }
  };
  follow_curvature(FINER_PASSES);
  follow_short_chains(SHAPE_PASSES);
  even_out();
  // Evening out, putting the vertices back onto the input and splitting
  // the long edges can each move a facet a little off again: those few are
  // refined once more, and the vertices put back and the edges split
  // again, until no facet lies off (or the rounds run out, and the
  // measured deviation says so).
  follow_curvature(FINER_PASSES);
  const auto deviates = [&] {
    for (FaceIndex f : mesh.faces()) {
      if (facet_deviation(mesh, f, input) > targets.max_deviation) return true;
    }
    return false;
  };
  for (int round = 0; round < FINAL_ROUNDS; ++round) {
    // Vertices on the border of a region (its edges count as constrained
    // while it is remeshed) are left where a split put them: every vertex
    // that is not a fixed corner goes onto the input, which leaves the
    // points already on it (on a chain too) where they are.
    for (VertexIndex v : mesh.vertices()) {
      if (!fixed[v]) mesh.point(v) = input.closest(mesh.point(v));
    }
    phase("splitting long edges");
    split_long_edges(mesh, targets.max_side, sharp, fixed, input);
    mesh.collect_garbage();
    if (round + 1 == FINAL_ROUNDS || !deviates()) break;
    phase("following the curvature");
    follow_curvature(FINER_PASSES);
  }
  mesh.collect_garbage();

  if (count_shells(mesh) != shells) {
    result.status = RemeshStatus::shell_lost;
    return result;
  }

  phase("measuring");
  SegmentList edges;
  edges.reserve(mesh.number_of_edges());
  for (EdgeIndex e : mesh.edges()) {
    edges.emplace_back(mesh.point(mesh.vertex(e, 0)), mesh.point(mesh.vertex(e, 1)));
  }
  SegmentTree edge_tree(edges.cbegin(), edges.cend());
  edge_tree.accelerate_distance_queries();
  const double kept_tolerance = 1e-9 * diagonal;
  const auto on_an_edge = [&edge_tree, kept_tolerance](const Point3& p) {
    return edge_tree.squared_distance(p) <= kept_tolerance * kept_tolerance;
  };
  for (const Kernel::Segment_3& chain : chains) {
    if (on_an_edge(chain.source()) && on_an_edge(chain.target()) &&
        on_an_edge(midpoint3(chain.source(), chain.target()))) {
      ++result.sharp_edges_kept;
    }
  }

  result.triangles.reserve(mesh.number_of_faces());
  for (FaceIndex f : mesh.faces()) {
    Triangle facet{};
    std::size_t k = 0;
    for (VertexIndex v : CGAL::vertices_around_face(mesh.halfedge(f), mesh)) {
      facet[k++] = from_cgal(mesh.point(v));
    }
    result.triangles.push_back(facet);
    result.largest_deviation = std::max(result.largest_deviation, facet_deviation(mesh, f, input));
  }
  for (VertexIndex v : mesh.vertices()) {
    result.largest_deviation = std::max(result.largest_deviation, input.distance(mesh.point(v)));
  }
  return result;
}

}  // namespace

Remeshed remesh(std::span<const Triangle> model, const RemeshTargets& targets,
                const RemeshPhase& phase) {
  Remeshed result;
  if (model.empty()) {
    result.status = RemeshStatus::no_facets;
    return result;
  }
  Mesh mesh;
  if (!build_mesh(model, mesh)) {
    result.status = RemeshStatus::not_a_surface;
    return result;
  }
  // The library signals a broken precondition with an exception; here it
  // becomes an outcome like any other, and running out of memory stays
  // what it is for the program's main.
  try {
    return remesh_mesh(mesh, targets, phase);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    result.status = RemeshStatus::failed;
    result.reason = "the remeshing library stopped on this model";
    return result;
  }
}

}  // namespace geometry
