#!/usr/bin/python3
"""Loads the mesh view files that stldeck writes with two real Tecplot readers.

Usage: /usr/bin/python3 tests/viewers_test.py <path-to-stldeck> <repo-root>

The findings view of stldeck-check (found beside stldeck) is loaded too: a
model made of a cube with a hole, a cube inside out, a cube with a flipped
facet and a sliver; VTK must see the model zone and one zone per finding,
titled after it, and meshio (which reads a file's first zone only) the model.

For the bundled sample model and for models written by real exporters, the
converter runs in a fresh directory, and input.plt is then loaded with VTK's
vtkTecplotReader and with meshio's Tecplot reader. Both must see n = 3m nodes
and m triangles, triangle i made of nodes 3i, 3i+1, 3i+2 (0-based), and every
node at its STL vertex to the 7 significant digits the file carries. Exits 0
when every model passes, 1 otherwise.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SETUP_HINT = (
    "Run tools/setup.sh python3-vtk9 python3-meshio (as tools/test.sh does) to "
    "install Debian's python3-vtk9 and python3-meshio, and run this test with "
    "Debian's /usr/bin/python3.")

try:
    import numpy as np
    import meshio
    from vtkmodules.util.misc import calldata_type
    from vtkmodules.util.numpy_support import vtk_to_numpy
    from vtkmodules.util.vtkConstants import VTK_STRING
    from vtkmodules.vtkCommonDataModel import VTK_TRIANGLE
    from vtkmodules.vtkIOGeometry import vtkTecplotReader
except ImportError as error:
    print(f"FAIL: cannot import {error.name or error} with {sys.executable}. {SETUP_HINT}")
    sys.exit(1)

MODELS = [
    "examples/STL_Model.stl",
    "tests/data/openscad_cube_minus_sphere.stl",
    "tests/data/openscad_exponents.stl",
    "tests/data/admesh_cube_minus_sphere.stl",
]
TITLE = "A BEM Model for Acoustic Analysis"

# The file writes 7 significant digits: rounding moves a value by at most half
# a unit in the 7th digit, 5e-7 of its size. VTK then stores it as a float32,
# which adds at most half a float32 ulp (2**-24 of its size).
DIGITS_7 = 5e-7 * (1 + 1e-9)
FLOAT32 = 2.0 ** -24
READ_SECONDS = 30  # meshio loops forever if the file has fewer records than N or E say


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def read_stl(path):
    """Returns (m, vertices): facets counted as lines starting with '  facet '."""
    facets = 0
    vertices = []
    with open(path, encoding="latin-1") as stl:
        for line in stl:
            if line.startswith("  facet "):
                facets += 1
            words = line.split()
            if words and words[0] == "vertex":
                vertices.append([float(word) for word in words[1:4]])
    check(facets > 0, f"{path}: no facets found in the model")
    check(len(vertices) == 3 * facets,
          f"{path}: {len(vertices)} vertex lines for {facets} facets")
    return facets, np.array(vertices, dtype=np.float64)


def check_points(reader, points, want, slack):
    check(points.shape == want.shape,
          f"{reader}: points have shape {points.shape}, expected {want.shape}")
    error = np.abs(points.astype(np.float64) - want)
    bad = (error > (DIGITS_7 + slack) * np.abs(want)).any(axis=1)
    for name, node in (("first", 0), ("last", len(want) - 1)):
        check(not bad[node], f"{reader}: the {name} node reads {points[node].tolist()}, "
              f"the STL's {name} vertex is {want[node].tolist()}")
    if bad.any():
        node = int(np.flatnonzero(bad)[0])
        raise Failure(f"{reader}: {int(bad.sum())} node(s) away from their STL vertex; first is "
                      f"node {node + 1}: read {points[node].tolist()}, STL has "
                      f"{want[node].tolist()}")


def check_triangles(reader, connectivity, m):
    want = np.arange(3 * m, dtype=np.int64).reshape(m, 3)
    check(connectivity.shape == want.shape,
          f"{reader}: connectivity has shape {connectivity.shape}, expected {want.shape}")
    bad = np.flatnonzero((connectivity != want).any(axis=1))
    if bad.size:
        i = int(bad[0])
        raise Failure(f"{reader}: triangle {i + 1} has 0-based nodes {connectivity[i].tolist()}, "
                      f"expected {want[i].tolist()}")


def load_with_vtk(path):
    """VTK's Tecplot reader after reading path, which must not have complained."""
    reader = vtkTecplotReader()
    complaints = []

    @calldata_type(VTK_STRING)
    def complain(_reader, event, message):
        complaints.append(f"{event}: {message.strip()}")

    reader.AddObserver("ErrorEvent", complain)
    reader.AddObserver("WarningEvent", complain)
    reader.SetFileName(path)
    reader.Update()
    check(not complaints, "VTK: the reader complained:\n  " + "\n  ".join(complaints))
    return reader


def read_with_vtk(path, m, vertices):
    reader = load_with_vtk(path)
    check(reader.GetDataTitle() == TITLE,
          f"VTK: title read as {reader.GetDataTitle()!r}, expected {TITLE!r}")
    output = reader.GetOutput()
    check(output is not None and output.GetNumberOfBlocks() == 1,
          f"VTK: expected one zone, got {output and output.GetNumberOfBlocks()}")
    grid = output.GetBlock(0)
    check(grid is not None and grid.IsA("vtkUnstructuredGrid"),
          f"VTK: the zone was not read as an unstructured grid ({grid and grid.GetClassName()})")
    check(grid.GetNumberOfPoints() == 3 * m,
          f"VTK: {grid.GetNumberOfPoints()} points, expected n = {3 * m}")
    check(grid.GetNumberOfCells() == m, f"VTK: {grid.GetNumberOfCells()} cells, expected m = {m}")
    types = vtk_to_numpy(grid.GetCellTypesArray())
    check((types == VTK_TRIANGLE).all(), f"VTK: cell types {sorted(set(types.tolist()))}, "
          f"expected only triangles ({VTK_TRIANGLE})")
    offsets = vtk_to_numpy(grid.GetCells().GetOffsetsArray())
    check((np.diff(offsets) == 3).all(), "VTK: a cell does not have 3 nodes")
    connectivity = vtk_to_numpy(grid.GetCells().GetConnectivityArray()).astype(np.int64)
    check_triangles("VTK", connectivity.reshape(-1, 3), m)
    points = vtk_to_numpy(grid.GetPoints().GetData())
    check_points("VTK", points, vertices, FLOAT32)
    return points


def read_with_meshio(path, m, vertices):
    def too_slow(_signum, _frame):
        raise Failure(f"meshio: still reading after {READ_SECONDS} s; "
                      "the file has fewer node or triangle records than N and E say")

    signal.signal(signal.SIGALRM, too_slow)
    signal.alarm(READ_SECONDS)
    try:
        mesh = meshio.read(path, file_format="tecplot")
    except Failure:
        raise
    except Exception as error:  # a reader error is a finding, reported as such
        raise Failure(f"meshio: cannot read the file: {type(error).__name__}: {error}")
    finally:
        signal.alarm(0)
    check(len(mesh.cells) == 1 and mesh.cells[0].type == "triangle",
          f"meshio: cell blocks {[(c.type, len(c.data)) for c in mesh.cells]}, expected one of "
          "triangles")
    check(len(mesh.points) == 3 * m, f"meshio: {len(mesh.points)} points, expected n = {3 * m}")
    check(len(mesh.cells[0].data) == m,
          f"meshio: {len(mesh.cells[0].data)} triangles, expected m = {m}")
    check_triangles("meshio", np.asarray(mesh.cells[0].data, dtype=np.int64), m)
    check_points("meshio", mesh.points, vertices, 1e-12)
    return mesh.points


def check_model(stldeck, model):
    m, vertices = read_stl(model)
    with tempfile.TemporaryDirectory(prefix="stldeck-viewers-") as work:
        shutil.copyfile(model, os.path.join(work, "STL_Model.stl"))
        try:
            run = subprocess.run([stldeck], cwd=work, stdin=subprocess.DEVNULL,
                                 capture_output=True, timeout=120)
        except subprocess.TimeoutExpired:
            raise Failure("stldeck did not finish within 120 s")
        check(run.returncode == 0,
              f"stldeck exited with {run.returncode}\nstdout: {run.stdout.decode(errors='replace')}"
              f"\nstderr: {run.stderr.decode(errors='replace')}")
        plt = os.path.join(work, "input.plt")
        check(os.path.isfile(plt), "stldeck exited 0 but wrote no input.plt")
        from_vtk = read_with_vtk(plt, m, vertices)
        from_meshio = read_with_meshio(plt, m, vertices)
    # Both readers parse the same decimal text: they must agree to a float32 ulp.
    as_float32 = from_meshio.astype(np.float32)
    apart = np.abs(from_vtk - as_float32) > np.spacing(np.abs(as_float32))
    check(not apart.any(), f"VTK and meshio read {int(apart.any(axis=1).sum())} node(s) "
          "differently")
    return m


BOX_FACETS = [(0, 2, 3), (0, 3, 1), (4, 5, 7), (4, 7, 6), (0, 1, 5), (0, 5, 4),
              (2, 6, 7), (2, 7, 3), (0, 4, 6), (0, 6, 2), (1, 3, 7), (1, 7, 5)]


def box_facets(offset):
    """The unit cube's 12 facets, outward, at offset: corners numbered x + 2y + 4z."""
    def corner(number):
        return tuple(offset[axis] + ((number >> axis) & 1) for axis in range(3))
    return [[corner(n) for n in facet] for facet in BOX_FACETS]


def stl_text(facets):
    lines = ["solid findings"]
    for facet in facets:
        lines += ["  facet normal 0 0 0", "    outer loop"]
        lines += ["      vertex %r %r %r" % corner for corner in facet]
        lines += ["    endloop", "  endfacet"]
    return "\n".join(lines + ["endsolid findings", ""])


def findings_model():
    """The model's facets and, per finding zone, the elements expected in it."""
    holed = box_facets((0, 0, 0))
    rim = holed.pop(0)  # its three sides become open edges
    inverted = [[f[0], f[2], f[1]] for f in box_facets((3, 0, 0))]
    flipped = box_facets((6, 0, 0))
    flipped[6] = [flipped[6][0], flipped[6][2], flipped[6][1]]
    sliver = [(9.0, 0.0, 0.0), (9.5, 0.5, 0.5), (10.0, 1.0, 1.0)]
    facets = holed + inverted + flipped + [sliver]
    rim_edges = {frozenset((rim[k], rim[(k + 1) % 3])) for k in range(3)}
    flipped_edges = {frozenset((flipped[6][k], flipped[6][(k + 1) % 3])) for k in range(3)}
    zones = {
        "open edges (holes): 3": ("edges", rim_edges),
        "misoriented edges (flipped facets): 3": ("edges", flipped_edges),
        "inside-out shells: 1": ("facets", inverted),
        "degenerate facets: 1": ("facets", [sliver]),
    }
    return facets, zones


def check_findings_view(checker):
    facets, zones = findings_model()
    with tempfile.TemporaryDirectory(prefix="stldeck-findings-") as work:
        with open(os.path.join(work, "model.stl"), "w") as stl:
            stl.write(stl_text(facets))
        try:
            run = subprocess.run([checker, "--view", "findings.plt", "model.stl"], cwd=work,
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        except subprocess.TimeoutExpired:
            raise Failure("stldeck-check did not finish within 120 s")
        check(run.returncode == 1, f"stldeck-check exited with {run.returncode}, expected 1 "
              f"(not ready)\nstderr: {run.stderr.decode(errors='replace')}")
        view = os.path.join(work, "findings.plt")
        check(os.path.isfile(view), "stldeck-check wrote no findings view")
        check(not os.path.exists(view + ".partial"), "a partial view file was left behind")

        output = load_with_vtk(view).GetOutput()
        names = [output.GetMetaData(i).Get(output.NAME()) for i in range(output.GetNumberOfBlocks())]
        check(names == ["model"] + list(zones), f"VTK: zones {names}, expected "
              f"{['model'] + list(zones)}")
        model_points = vtk_to_numpy(output.GetBlock(0).GetPoints().GetData())
        check_points("VTK model zone", model_points,
                     np.array([c for f in facets for c in f], dtype=np.float64), FLOAT32)
        for index, (name, (kind, expected)) in enumerate(zones.items(), start=1):
            grid = output.GetBlock(index)
            points = vtk_to_numpy(grid.GetPoints().GetData()).astype(np.float64)
            elements = [tuple(map(tuple, points[3 * e:3 * e + 3])) for e in
                        range(grid.GetNumberOfCells())]
            check((vtk_to_numpy(grid.GetCellTypesArray()) == VTK_TRIANGLE).all(),
                  f"VTK: zone {name!r} holds cells other than triangles")
            if kind == "edges":
                check(all(e[1] == e[2] for e in elements),
                      f"VTK: zone {name!r}: an edge's last two nodes differ")
                got = {frozenset((e[0], e[1])) for e in elements}
                check(len(elements) == len(expected) and got == expected,
                      f"VTK: zone {name!r} holds edges {sorted(map(sorted, got))}, expected "
                      f"{sorted(map(sorted, expected))}")
            else:
                want = [tuple(map(tuple, np.array(f, dtype=np.float64))) for f in expected]
                check(elements == want, f"VTK: zone {name!r} holds {elements}, expected {want}")

        try:
            mesh = meshio.read(view, file_format="tecplot")
        except Exception as error:
            raise Failure(f"meshio: cannot read the view: {type(error).__name__}: {error}")
        m = len(facets)
        check(len(mesh.cells) == 1 and len(mesh.cells[0].data) == m,
              f"meshio: cell blocks {[(c.type, len(c.data)) for c in mesh.cells]}, expected "
              f"the model's {m} triangles")
        check_triangles("meshio", np.asarray(mesh.cells[0].data, dtype=np.int64), m)
        check_points("meshio", mesh.points,
                     np.array([c for f in facets for c in f], dtype=np.float64), 1e-12)
    return len(zones)


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2])
        return 2
    stldeck = os.path.abspath(sys.argv[1])
    root = os.path.abspath(sys.argv[2])
    if not os.access(stldeck, os.X_OK):
        print(f"FAIL: {stldeck} is not an executable converter")
        return 1
    passed = failed = 0
    for relative in MODELS:
        started = time.monotonic()
        model = os.path.join(root, relative)
        try:
            check(os.path.isfile(model), f"model {model} is missing")
            m = check_model(stldeck, model)
        except Failure as failure:
            failed += 1
            print(f"FAIL {relative}: {failure}")
        else:
            passed += 1
            print(f"ok   {relative}: m = {m}, n = {3 * m}, read alike by VTK and meshio "
                  f"({time.monotonic() - started:.2f} s)")
    checker = os.path.join(os.path.dirname(stldeck), "stldeck-check")
    try:
        check(os.access(checker, os.X_OK), f"{checker} is not an executable check")
        zones = check_findings_view(checker)
    except Failure as failure:
        failed += 1
        print(f"FAIL findings view: {failure}")
    else:
        passed += 1
        print(f"ok   findings view: the model and {zones} finding zones, read by VTK and meshio")
    print(f"viewers: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
