# Modbus/TCP slave throughput against a libmodbus server in the same run.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(BENCH_LIBMODBUS IMPORTED_TARGET libmodbus)
endif()
if(BENCH_LIBMODBUS_FOUND AND TARGET slavelink_core)
  plexmar_bench(bench_slavelink_tcp
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/slavelink_tcp_bench.cpp
    LIBS slavelink_core PkgConfig::BENCH_LIBMODBUS)
endif()
