^XA
^FX The other linear codes: Code 39, Code 93, Interleaved 2 of 5, Codabar.
^FX expect barcode CODE-39 PART-0042
^FX expect barcode CODE-93 CODE93TEST
^FX expect barcode I2/5 12345670
^FX expect barcode Codabar A40156B
^PW812^LL1000
^BY2
^FO40,40^B3N,N,100,Y,N^FDPART-0042^FS
^FO40,240^BAN,100,Y,N,N^FDCODE93TEST^FS
^FO40,440^B2N,100,Y,N,N^FD12345670^FS
^FO40,640^BKN,N,100,Y,N,A,B^FD40156^FS
^XZ
