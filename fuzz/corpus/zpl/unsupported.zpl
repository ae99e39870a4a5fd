^XA
^FX Commands without a counterpart are named, the rest prints.
^FX expect text 20,20,30 Still printed
^FX expect warning HH is not supported
^FX expect warning JU is not supported
^FX expect warning LRY has no counterpart
^FX expect text 20,60,30 Arial text
^FX expect warning A font Z is E:ARIAL.TTF
^FO20,20^A0N,30,30^FDStill printed^FS
^CWZ,E:ARIAL.TTF
^FO20,60^AZN,30,30^FDArial text^FS
^HH
^JUS
^LRY
^XZ
