^XA
^FX GS1 DataBar omnidirectional.
^FX expect barcode DataBar 0109501101530003
^FO60,60^BRN,1,3,1,80^FD0950110153000^FS
^XZ
