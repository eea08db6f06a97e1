// Teren i drogi wzd³u¿ linii (œcie¿ki zapisane z "/")
include Linie/Wiadukt_Drogowy.INC 480.0 2.5 0.0 15.0 end
include linie/PRZEJAZD_DROGOWY.inc 610.0 0.0 0.0 0 end
include DRZEWA/sosna.inc 20.0 0.0 35.0 18.0 4.5 end
include drzewa/Krzaki.inc 24.0 0.0 33.0 end
