^XA
^FX A right-justified block and a centred one, as an address and a title.
^FX expect text 580,20,30 Northwind
^FX expect text 580,60,30 Leith Docks
^FX expect text 300,200,40 RETURN LABEL
^PW600^LL400
^FO180,20^A0N,30,30^FB400,2,10,R^FDNorthwind\&Leith Docks^FS
^FO0,200^A0N,40,40^FB600,1,0,C^FDRETURN LABEL^FS
^XZ
