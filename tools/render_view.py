#!/usr/bin/python3
"""Renders a mesh view file (input.plt) to a PNG picture, off screen.

Usage: /usr/bin/python3 tools/render_view.py input.plt out.png

The file is read with VTK's Tecplot reader and drawn as a shaded surface with
every triangle's edges visible (a findings view of stldeck-check: the first
zone so, and each further zone highlighted in a colour of its own, edges as
thick lines, facets filled, named in the caption), on a light grey background, at 800x600 pixels,
seen from a fixed direction (from +X, -Y, +Z; Z up) with the model fitted to
the picture. Needs Debian's python3-vtk9, and xvfb (with xauth) when there is
no X display: the script then runs itself under xvfb-run.
"""

import os
import shutil
import sys

WIDTH, HEIGHT = 800, 600
VIEW_DIRECTION = (1.0, -1.4, 0.9)  # from the focal point towards the camera
BACKGROUND = (0.93, 0.93, 0.93)
SURFACE = (0.62, 0.72, 0.84)
EDGES = (0.12, 0.16, 0.22)
UNDER_XVFB = "STLDECK_RENDER_UNDER_XVFB"
HIGHLIGHTS = [(0.86, 0.08, 0.08), (0.95, 0.55, 0.05), (0.62, 0.12, 0.75), (0.05, 0.55, 0.25),
              (0.10, 0.30, 0.90), (0.45, 0.30, 0.10)]


def fail(message):
    print(f"render_view: {message}", file=sys.stderr)
    sys.exit(1)


def ensure_display():
    """VTK as Debian builds it draws through X: without a display, use a virtual one."""
    if os.environ.get("DISPLAY") or os.environ.get(UNDER_XVFB):
        return
    xvfb_run = shutil.which("xvfb-run")
    if xvfb_run is None:
        fail("no X display and no xvfb-run; install Debian's xvfb and xauth")
    os.environ[UNDER_XVFB] = "1"
    os.execv(xvfb_run, [xvfb_run, "-a", "-s", f"-screen 0 {WIDTH}x{HEIGHT}x24",
                        sys.executable, os.path.abspath(__file__), *sys.argv[1:]])


def fit(renderer, camera, bounds):
    """Zooms so that the model's bounding box fills 85% of the picture's width or height, about its centre."""
    xs, ys = [], []
    for corner in range(8):
        renderer.SetWorldPoint(bounds[corner & 1], bounds[2 + (corner >> 1 & 1)],
                               bounds[4 + (corner >> 2 & 1)], 1.0)
        renderer.WorldToDisplay()
        x, y, _ = renderer.GetDisplayPoint()
        xs.append(x)
        ys.append(y)
    # Zooming scales about the picture's centre, so measure from there.
    reach_x = max(abs(x - WIDTH / 2) for x in xs)
    reach_y = max(abs(y - HEIGHT / 2) for y in ys)
    if reach_x > 0 and reach_y > 0:
        camera.Zoom(0.85 * min(WIDTH / 2 / reach_x, HEIGHT / 2 / reach_y))
    renderer.ResetCameraClippingRange()


def highlight_actor(grid, colour, classes):
    """An actor for a finding zone: its elements whose last two nodes coincide drawn as thick
    lines between the first two, the others as filled triangles."""
    points = grid.GetPoints()
    lines = classes["vtkCellArray"]()
    triangles = classes["vtkCellArray"]()
    for cell in range(grid.GetNumberOfCells()):
        ids = grid.GetCell(cell).GetPointIds()
        a, b, c = (ids.GetId(k) for k in range(3))
        if points.GetPoint(b) == points.GetPoint(c):
            lines.InsertNextCell(2)
            lines.InsertCellPoint(a)
            lines.InsertCellPoint(b)
        else:
            triangles.InsertNextCell(3)
            for point in (a, b, c):
                triangles.InsertCellPoint(point)
    shape = classes["vtkPolyData"]()
    shape.SetPoints(points)
    shape.SetLines(lines)
    shape.SetPolys(triangles)
    mapper = classes["vtkPolyDataMapper"]()
    mapper.SetInputData(shape)
    mapper.ScalarVisibilityOff()
    # Drawn a little in front of the surface, so that edges on it show whole.
    mapper.SetResolveCoincidentTopologyToPolygonOffset()
    actor = classes["vtkActor"]()
    actor.SetMapper(mapper)
    look = actor.GetProperty()
    look.SetColor(colour)
    look.SetLineWidth(5.0)
    look.SetAmbient(0.6)
    look.SetDiffuse(0.4)
    look.RenderLinesAsTubesOn()
    return actor


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    source, target = sys.argv[1], sys.argv[2]
    if not os.path.isfile(source):
        fail(f"{source}: no such file")
    ensure_display()

    try:
        from vtkmodules.vtkCommonCore import vtkCommand
        from vtkmodules.vtkCommonDataModel import vtkCellArray, vtkPolyData
        from vtkmodules.vtkFiltersGeometry import (vtkCompositeDataGeometryFilter,
                                                   vtkGeometryFilter)
        from vtkmodules.vtkIOGeometry import vtkTecplotReader
        from vtkmodules.vtkIOImage import vtkPNGWriter
        from vtkmodules.vtkRenderingCore import (vtkActor, vtkPolyDataMapper, vtkRenderer,
                                                 vtkRenderWindow, vtkTextActor,
                                                 vtkWindowToImageFilter)
        import vtkmodules.vtkRenderingFreeType  # noqa: F401  (text)
        import vtkmodules.vtkRenderingOpenGL2  # noqa: F401  (the render window)
    except ImportError as error:
        fail(f"cannot import {error.name}; install Debian's python3-vtk9 and use /usr/bin/python3")

    reader = vtkTecplotReader()
    errors = []
    reader.AddObserver(vtkCommand.ErrorEvent, lambda *_: errors.append(True))
    reader.SetFileName(source)
    reader.Update()
    zones = reader.GetOutput()
    zone_count = zones.GetNumberOfBlocks() if zones is not None else 0
    if zone_count > 1:
        # A findings view: the model is the first zone, the findings follow.
        surface = vtkGeometryFilter()
        surface.SetInputData(zones.GetBlock(0))
    else:
        surface = vtkCompositeDataGeometryFilter()
        surface.SetInputConnection(reader.GetOutputPort())
    surface.Update()
    mesh = surface.GetOutput()
    if errors or mesh.GetNumberOfCells() == 0:
        fail(f"{source}: VTK's Tecplot reader found no triangles")

    mapper = vtkPolyDataMapper()
    mapper.SetInputData(mesh)
    mapper.ScalarVisibilityOff()
    actor = vtkActor()
    actor.SetMapper(mapper)
    look = actor.GetProperty()
    look.SetColor(SURFACE)
    look.SetInterpolationToFlat()
    look.EdgeVisibilityOn()
    look.SetEdgeColor(EDGES)
    look.SetLineWidth(1.0)
    look.SetAmbient(0.25)
    look.SetDiffuse(0.75)
    look.BackfaceCullingOff()

    classes = {"vtkCellArray": vtkCellArray, "vtkPolyData": vtkPolyData,
               "vtkPolyDataMapper": vtkPolyDataMapper, "vtkActor": vtkActor}
    highlights = []
    names = []
    for zone in range(1, zone_count):
        colour = HIGHLIGHTS[(zone - 1) % len(HIGHLIGHTS)]
        highlights.append(highlight_actor(zones.GetBlock(zone), colour, classes))
        names.append((zones.GetMetaData(zone).Get(zones.NAME()), colour))

    caption = vtkTextActor()
    caption.SetInput(f"{os.path.basename(source)}: {mesh.GetNumberOfPoints()} nodes, "
                     f"{mesh.GetNumberOfCells()} triangles")
    caption.GetTextProperty().SetFontSize(16)
    caption.GetTextProperty().SetColor(0.2, 0.2, 0.2)
    caption.SetPosition(10, 10)

    renderer = vtkRenderer()
    renderer.SetBackground(BACKGROUND)
    renderer.AddActor(actor)
    for highlight in highlights:
        renderer.AddActor(highlight)
    renderer.AddViewProp(caption)
    for line, (name, colour) in enumerate(names):
        legend = vtkTextActor()
        legend.SetInput(name)
        legend.GetTextProperty().SetFontSize(16)
        legend.GetTextProperty().SetColor(colour)
        legend.SetPosition(10, 34 + 24 * line)
        renderer.AddViewProp(legend)
    camera = renderer.GetActiveCamera()
    center = mesh.GetCenter()
    camera.SetFocalPoint(center)
    camera.SetPosition(*(c + d for c, d in zip(center, VIEW_DIRECTION)))
    camera.SetViewUp(0.0, 0.0, 1.0)
    renderer.ResetCamera()

    window = vtkRenderWindow()
    window.SetOffScreenRendering(1)
    window.SetMultiSamples(0)
    window.SetSize(WIDTH, HEIGHT)
    window.AddRenderer(renderer)
    window.Render()
    fit(renderer, camera, mesh.GetBounds())
    window.Render()

    grab = vtkWindowToImageFilter()
    grab.SetInput(window)
    grab.ReadFrontBufferOff()
    grab.Update()
    writer = vtkPNGWriter()
    writer.SetFileName(target)
    writer.SetInputConnection(grab.GetOutputPort())
    writer.Write()
    if not os.path.isfile(target) or os.path.getsize(target) == 0:
        fail(f"{target}: could not write the picture")
    print(f"render_view: wrote {target} ({WIDTH}x{HEIGHT}, {mesh.GetNumberOfCells()} triangles)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
