# The history screen's range switch on the month-long benchmark databases.
find_package(Qt6 REQUIRED COMPONENTS Test)
pv_add_bench(pv_bench_history SOURCES HistoryBench.cpp LIBS pv_bench_db Qt6::Test)
