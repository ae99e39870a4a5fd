^XA
^FX Windows-1252 text (CI27): the bytes are converted to UTF-8 for the printer.
^FX expect text 40,40 Señor Müller
^CI27
^FO40,40^A0N,40,40^FH^FDSe_F1or M_FCller^FS
^XZ
