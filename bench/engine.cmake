# The tick's refresh of every Modbus tag.
if(benchmark_FOUND)
  plexmar_bench(bench_refresh_tags
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/RefreshTagsBench.cpp ${CMAKE_CURRENT_LIST_DIR}/CountingAllocator.cpp
    LIBS plexcore benchmark::benchmark)
endif()
