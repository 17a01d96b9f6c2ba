#!/usr/bin/env python3
"""An independent writer of the two output files, for well-formed STL files
in standard number syntax; it made the stored conversions of the exporter
models in this folder: reference_conversion.py MODEL.stl writes MODEL.dat
and MODEL.plt (the deck dated 07-DEC-26; tests put the run's date in)."""
import sys


def exp_field(value, width, digits, letter):
    if value == 0.0:
        mantissa, exponent, negative = "0" * digits, 0, False
    else:
        text = "%.*e" % (digits - 1, abs(value))  # exact, ties to even
        head, tail = text.split("e")
        mantissa = head.replace(".", "")
        exponent = int(tail) + 1
        negative = value < 0
    if abs(exponent) <= 99:
        part = "%s%s%02d" % (letter, "-" if exponent < 0 else "+", abs(exponent))
    else:
        part = "%s%03d" % ("-" if exponent < 0 else "+", abs(exponent))
    return ("-" if negative else "") + "0." + mantissa + part


def right(text, width):
    return " " * (width - len(text)) + text


def read_facets(path):
    corners = []
    lines = open(path, "rb").read().decode("ascii").split("\n")
    i = 0
    while i < len(lines) - 1:
        if lines[i].startswith("  facet "):
            for k in range(3):
                tokens = lines[i + 2 + k].split()
                corners.append([float(t) for t in (tokens[1:4] + ["0", "0", "0"])[:3]])
            i += 7
        else:
            i += 1
    return corners


def main(path):
    nodes = read_facets(path)
    n, m = len(nodes), len(nodes) // 3
    base = path[: -len(".stl")]
    deck = [" A BEM Model from STL Data for Acoustic Wave Analysis," + " " * 12 + "07-DEC-26",
            "  Complete      1                     ! Job Type (Complete/Field Only); Solver Type (1=FMM/2=ACA/3=CBEM)",
            "      Full      0      0.d0           ! Problem Space, Symmetry Plane, Symmetry Plane Property (1=Rigid; -1=Soft)",
            right(str(m), 10) + right(str(n), 10) + "      0     0     ! Nos. of Boundary Elements/Nodes and Field Points/Cells",
            "      0         0                     ! No. of plane incident waves (nplane), User defined sources (1=Yes/0=No)",
            "      0                               ! No. of point sources (nsource)",
            "    343.00      1.29   2.d-5 1.d-12   ! cspeed (c), density (rou), Ref. pressure (p_ref), Ref. intensity (I_ref)",
            "     54.59     54.59   1     0      0 ! Freq1, Freq2, No. freqs, NOctave, Update BCs for each frequency (1=Yes/0=No)",
            "      0         3      1     0        ! Use of HBIE (1=Yes/0=No), nruleb (1-6), nrulef (1-6), animation (1=Yes/0=No)",
            " $ Nodes:"]
    for i, xyz in enumerate(nodes, 1):
        deck.append(right(str(i), 8) + "".join(right(exp_field(v, 24, 15, "D"), 24) for v in xyz))
    deck.append(" $ Elements and Boundary Conditions:")
    for e in range(1, m + 1):
        deck.append(right(str(e), 10) + "   " + "".join(right(str(3 * e - 2 + k), 8) for k in range(3))
                    + "     " + "   2   (0.D+00," + right(exp_field(0.0, 24, 15, "D"), 24) + ")")
    deck.append(" $ End of the File")
    view = [' TITLE = "A BEM Model for Acoustic Analysis" ', '#ZONES" ', ' VARIABLES = "X", "Y", "Z" ',
            ' ZONE T="Model", N=' + right(str(n), 12) + ", E=" + right(str(m), 12),
            " DATAPACKING=POINT, ZONETYPE=FETRIANGLE"]
    for xyz in nodes:
        view.append("".join(right(exp_field(v, 15, 7, "E"), 15) for v in xyz))
    view.append(" ")
    for e in range(1, m + 1):
        view.append("".join(right(str(3 * e - 2 + k), 15) for k in range(3)))
    open(base + ".dat", "w", newline="").write("".join(r + "\r\n" for r in deck))
    open(base + ".plt", "w", newline="").write("".join(r + "\r\n" for r in view))


if __name__ == "__main__":
    main(sys.argv[1])
