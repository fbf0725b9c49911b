# Modbus wire formats (shared with the master library) and the slave library.
plexmar_test(test_modbuswire LABEL unit
  SOURCES ${TEST_DIR}/test_modbuswire.cpp
  LIBS platform)

plexmar_test(test_slavelink_requests LABEL unit
  SOURCES ${TEST_DIR}/test_requests.cpp
  LIBS slavelink_core)

plexmar_test(test_slavelink_tcp LABEL unit
  SOURCES ${TEST_DIR}/test_tcp.cpp
  LIBS slavelink_core)

plexmar_test(test_slavelink_api LABEL unit
  SOURCES ${TEST_DIR}/test_api.cpp
  LIBS slavelink_core)

plexmar_test(test_slavelink_c LABEL unit
  SOURCES ${TEST_DIR}/test_c_header.cpp ${TEST_DIR}/c_smoke.c
  LIBS slavelink ${CMAKE_DL_LIBS})
set_source_files_properties(${TEST_DIR}/c_smoke.c PROPERTIES COMPILE_OPTIONS "-std=c99;-pedantic")

plexmar_test(test_slavelink_serial LABEL unit
  SOURCES ${TEST_DIR}/test_serial.cpp
  LIBS slavelink_core util)

# Masters we did not write: libmodbus, pymodbus (through /usr/bin/python3)
# and mbpoll.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(LIBMODBUS IMPORTED_TARGET libmodbus)
endif()
if(LIBMODBUS_FOUND)
  plexmar_test(test_slavelink_interop LABEL interop TIMEOUT 180
    SOURCES ${TEST_DIR}/test_interop.cpp ${TEST_DIR}/libmodbus_master.c
    LIBS slavelink_core PkgConfig::LIBMODBUS util)
endif()
