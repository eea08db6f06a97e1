// Szlak Dolna Wieœ – Górki Wielkie, tor nr 1
include linie\tor_szlakowy.inc 0.0 0.0 0.0 1000.0 end
include linie\most_kratowy.inc 350.0 -4.0 0.0 60.0 end
include	linie\slup_trakcyjny.inc	50.0	0.0	3.2	end
include	linie\slup_trakcyjny.inc	110.0	0.0	3.2	end
include linie\koziol_oporowy.inc;990.0;0.0;0.0;end
include linie\rozjazd_zwyczajny.inc 980.0 0.0 0.0 0 end
include linie\stare\kladka.inc 700.0 5.0 0.0 end
include linie\stare\semafor_ksztaltowy.inc 820.0 0.0 -3.0 180 end
include linie\stare\przepust.inc 400.0 -1.5 0.0 end
include linie\stare\nasyp_stary.inc 0.0 0.0 0.0 1200.0 end
