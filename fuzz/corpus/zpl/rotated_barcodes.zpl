^XA
^FX Barcodes turned by the field default and by their own orientation.
^FX expect barcode CODE-128 TURNED-B
^FX expect barcode QR-Code QR TURNED
^PW812^LL1218
^FWB
^BY2^FO100,100^BC,100,Y,N,N^FDTURNED-B^FS
^FWN
^FO400,400^BQR,2,4^FDMA,QR TURNED^FS
^XZ
