^XA
^FX A shelf-edge product label: name in a block, price large, EAN-13.
^FX expect text 20,20,28 Organic Rolled Oats
^FX expect text 20,53,28 1 kg bag
^FX expect text 400,120,100 3.99
^FX expect barcode EAN-13 4006381333931
^PW600^LL400
^FO20,20^A0N,28,28^FB360,2,5,L^FDOrganic Rolled Oats\&1 kg bag^FS
^FO400,120^A0N,100,80^FD3.99^FS
^BY2^FO20,140^BEN,80,Y,N^FD400638133393^FS
^XZ
