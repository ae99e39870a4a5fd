^XA
^FX Code 128 UCC case mode: the printer's check digit completes the SSCC.
^FX expect barcode CODE-128 00001234560000000018
^FO60,60^BY3^BCN,150,Y,N,N,U^FD0000123456000000001^FS
^XZ
