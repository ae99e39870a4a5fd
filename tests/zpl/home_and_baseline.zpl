^XA
^FX LH moves every field; FT places text by its baseline (top = baseline - height).
^FX expect text 110,70 Home moved
^FX expect text 110,160 On a baseline
^FX expect barcode CODE-128 BASELINE-42
^LH100,50
^FO10,20^A0N,30,30^FDHome moved^FS
^FT10,140^A0N,30,30^FDOn a baseline^FS
^FT10,400^BY2^BCN,100,Y,N,N^FDBASELINE-42^FS
^XZ
