# One frame of the live pulse in the shown workspace window.
pv_add_bench(pv_bench_pulse SOURCES PulseFrameBench.cpp LIBS pv_bench_offscreen_main)
