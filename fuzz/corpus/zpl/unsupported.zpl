^XA
^FX Commands without a counterpart are named, the rest prints.
^FX expect text 20,20,30 Still printed
^FX expect warning ^HH is not supported
^FX expect warning ^JUS is not supported
^FX expect warning ^LRY has no counterpart
^FO20,20^A0N,30,30^FDStill printed^FS
^HH
^JUS
^LRY
^XZ
