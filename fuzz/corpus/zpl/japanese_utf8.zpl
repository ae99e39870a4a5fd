^XA
^FX UTF-8 text of several scripts, drawn by the printer's scalable fonts.
^FX expect text 20,20,40 配送先: 東京都
^FX expect text 20,80,40 Ελληνικά και Русский
^CI28
^CF0,40
^FO20,20^FD配送先: 東京都^FS
^FO20,80^FDΕλληνικά και Русский^FS
^XZ
