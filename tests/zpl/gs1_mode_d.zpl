^XA
^FX Code 128 in mode D: the element strings written with their AIs in brackets.
^FX expect barcode CODE-128 010950110153000317260630
^BY2^FO40,40^BCN,120,Y,N,N,D^FD(01)09501101530003(17)260630^FS
^XZ
