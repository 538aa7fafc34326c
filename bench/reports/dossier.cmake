# The 30-day dossier assembled from the standard-retention benchmark database.
pv_add_bench(pv_bench_dossier SOURCES DossierBench.cpp LIBS pv_bench_db PkgConfig::SQLITE3)
