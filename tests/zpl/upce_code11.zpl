^XA
^FX UPC-E (read back in its EAN-13 form) and Code 11, the smaller retail and telecom codes.
^FX expect barcode EAN-13 0042100005264
^FX expect symbol linear_barcode 0123-4567
^BY3
^FO40,40^B9N,100,Y,N,Y^FD0425261^FS
^FO40,240^B1N,N,100,Y,N^FD0123-4567^FS
^XZ
