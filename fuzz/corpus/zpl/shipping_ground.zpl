^XA
^FX A parcel label: sender, receiver, tracking barcode and a QR link.
^FX expect text 30,30 FROM: Northwind Traders
^FX expect text 30,70 12 Harbour Road, Leith
^FX expect text 30,160 TO: Ada Lovelace
^FX expect barcode CODE-128 1Z999AA10123456784
^FX expect barcode QR-Code https://track.example/1Z999AA10123456784
^PW812^LL1218
^CF0,30
^FO30,30^FDFROM: Northwind Traders^FS
^FO30,70^FD12 Harbour Road, Leith^FS
^FO20,130^GB772,3,3^FS
^CF0,50
^FO30,160^FDTO: Ada Lovelace^FS
^BY3,3,160
^FO60,300^BCN,160,Y,N,N^FD1Z999AA10123456784^FS
^FO560,560^BQN,2,4^FDLA,https://track.example/1Z999AA10123456784^FS
^PQ1
^XZ
