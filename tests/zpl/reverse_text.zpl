^XA
^FX White text over a black bar: a reversed field on a block.
^FX expect text 30,30,40 HAZARDOUS
^FX expect warning GB corner rounding
^FO20,20^GB400,60,60,B,1^FS
^FO30,30^FR^A0N,40,40^FDHAZARDOUS^FS
^XZ
