^XA
^FX UTF-8 text (CI28), with FH escapes.
^FX expect text 40,40 Größe: Müller & Söhne
^FX expect text 40,100 Café crème
^FX expect text 40,160 Prix: 5 €
^CI28
^CF0,40
^FO40,40^FDGröße: Müller & Söhne^FS
^FO40,100^FH^FDCaf_C3_A9 cr_C3_A8me^FS
^FO40,160^FDPrix: 5 €^FS
^XZ
