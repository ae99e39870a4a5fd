^XA
^FX Serial numbers: three labels, each its own number, from one label with copies.
^FX expect text 20,20,40 SN-0098
^FX expect text 20,20,40 SN-0100
^FX expect barcode CODE-128 SN-0100
^FO20,20^A0N,40,40^SNSN-0098,1,Y^FS
^BY2^FO20,80^BCN,80,Y,N,N^SNSN-0098,1,Y^FS
^PQ3
^XZ
