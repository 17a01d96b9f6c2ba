// The fixed text of the solver deck's head and the medium and frequency the
// converter writes into it (their numbers shared with the companions'
// defaults), in one place: the converter writes them, and the deck command
// reads and rewrites the same records.
#pragma once

#include <string_view>

#include "geometry/deck_defaults.h"

namespace writing {

// The medium and the one frequency of a converted deck, shared with the
// companions' defaults.
using geometry::DECK_DENSITY;
using geometry::DECK_FREQUENCY;
using geometry::DECK_SOUND_SPEED;

// Record 1 begins with this title; the date follows after 12 blanks.
inline constexpr std::string_view DECK_TITLE =
    " A BEM Model from STL Data for Acoustic Wave Analysis,";

// The literals of records 2 to 9, in file order. Record 4 begins with the
// counts, records 7 and 8 with two FIX(10.2) fields each; the solver type
// (1 FMM, 2 ACA, 3 CBEM) is the "1" in column 17 of record 2, the number of
// frequencies the "1" and NOctave the first "0" of record 8's literal.
inline constexpr std::string_view DECK_JOB =
    "  Complete      1                     ! Job Type (Complete/Field Only); Solver Type "
    "(1=FMM/2=ACA/3=CBEM)";
inline constexpr std::string_view DECK_SPACE =
    "      Full      0      0.d0           ! Problem Space, Symmetry Plane, Symmetry Plane "
    "Property (1=Rigid; -1=Soft)";
inline constexpr std::string_view DECK_COUNTS =
    "     ! Nos. of Boundary Elements/Nodes and Field Points/Cells";
inline constexpr std::string_view DECK_WAVES =
    "      0         0                     ! No. of plane incident waves (nplane), User "
    "defined sources (1=Yes/0=No)";
inline constexpr std::string_view DECK_SOURCES =
    "      0                               ! No. of point sources (nsource)";
inline constexpr std::string_view DECK_MEDIUM =
    "   2.d-5 1.d-12   ! cspeed (c), density (rou), Ref. pressure (p_ref), Ref. intensity "
    "(I_ref)";
inline constexpr std::string_view DECK_FREQUENCIES =
    "   1     0      0 ! Freq1, Freq2, No. freqs, NOctave, Update BCs for each frequency "
    "(1=Yes/0=No)";
inline constexpr std::string_view DECK_SWITCHES =
    "      0         3      1     0        ! Use of HBIE (1=Yes/0=No), nruleb (1-6), nrulef "
    "(1-6), animation (1=Yes/0=No)";

// The free-form records around the sections, as written (one leading blank).
inline constexpr std::string_view DECK_NODES_HEADING = " $ Nodes:";
inline constexpr std::string_view DECK_ELEMENTS_HEADING = " $ Elements and Boundary Conditions:";
inline constexpr std::string_view DECK_END = " $ End of the File";

}  // namespace writing
