^FX A stored format with numbered fields, then two labels of data for it.
^XA
^DFR:SHELF.ZPL^FS
^CF0,40
^FO40,40^FN1^FS
^BY2^FO40,120^BCN,100,Y,N,N^FN2^FS
^XZ
^XA
^FX expect text 40,40 Shelf A-01
^FX expect barcode CODE-128 SHELF-A01
^XFR:SHELF.ZPL^FS
^FN1^FDShelf A-01^FS
^FN2^FDSHELF-A01^FS
^XZ
