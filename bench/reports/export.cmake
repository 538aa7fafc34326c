# Exporting the last 24 hours of the 30-day benchmark database.
pv_add_bench(pv_bench_export SOURCES ExportBench.cpp LIBS pv_bench_db)
