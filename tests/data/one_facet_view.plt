 TITLE = "A BEM Model for Acoustic Analysis" 
#ZONES" 
 VARIABLES = "X", "Y", "Z" 
 ZONE T="Model", N=           3, E=           1
 DATAPACKING=POINT, ZONETYPE=FETRIANGLE
  0.0000000E+00  0.0000000E+00  0.0000000E+00
  0.1500000E+01  0.0000000E+00  0.0000000E+00
  0.0000000E+00 -0.2250000E+01  0.1250000E+00
 
              1              2              3
