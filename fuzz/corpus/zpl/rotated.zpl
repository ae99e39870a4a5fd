^XA
^FX Rotated fields: the printer anchors each at the corner ZPL's box starts from.
^FX expect text 440,40 ROTATED R
^FX expect barcode CODE-128 ROT-R-1
^FX expect barcode CODE-128 ROT-I-2
^PW812^LL1218
^FO400,40^A0R,40,40^FDROTATED R^FS
^BY2
^FO100,100^BCR,100,Y,N,N^FDROT-R-1^FS
^FO300,700^BCI,100,Y,N,N^FDROT-I-2^FS
^XZ
