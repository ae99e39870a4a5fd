^XA
^FX Media and print settings with counterparts: density, speed, media, cutter.
^FX expect text 20,20,30 Settings
^PW600^LL400^MNN^MMC^MD5^PR4^POI
^FO20,20^A0N,30,30^FDSettings^FS
^XZ
