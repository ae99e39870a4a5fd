^XA
^FX Label home and shift together: every field moves by both.
^FX expect text 70,90,30 Shifted home
^FX expect barcode CODE-128 SHIFT-1
^LH100,80^LS40
^FO10,10^A0N,30,30^FDShifted home^FS
^BY2^FO10,60^BCN,80,Y,N,N^FDSHIFT-1^FS
^XZ
