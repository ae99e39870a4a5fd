^XA
^FX Aztec, MicroPDF417, Codablock and Code 49, sent as the printer's own symbols.
^FX expect barcode Aztec@30,30,200,200 TICKET 0042 ROW 7
^FX expect symbol MicroPDF417 MICRO 123
^FX expect symbol Code_49 C49-1
^BY2
^FO40,40^BON,4,N,0^FDTICKET 0042 ROW 7^FS
^FO40,300^BFN,8,10^FDMICRO 123^FS
^FO40,500^B4N,20,N^FDC49-1^FS
^XZ
