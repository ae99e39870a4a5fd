^XA
^FX Text in the four orientations: each lands where ZPL puts its box.
^FX expect text 100,100,30 NORMAL
^FX expect text 330,100,30 DOWN
^FX expect text 484,330,30 UPSIDE
^FX expect text 100,508,30 UP
^PW812^LL812
^FO100,100^A0N,30,30^FDNORMAL^FS
^FO300,100^A0R,30,30^FDDOWN^FS
^FO376,300^A0I,30,30^FDUPSIDE^FS
^FO100,472^A0B,30,30^FDUP^FS
^XZ
