# Modbus/TCP polling through masterlink and the request chain against a
# libmodbus client.
plexmar_bench(bench_polling
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PollingBench.cpp
  LIBS plexcore modbus)
