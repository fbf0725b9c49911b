# The exchange engine against the real OPC server item table and slave
# library, with logic blocks whose runs a recording host counts.
plexmar_test(engine_test LABEL unit
  SOURCES ${TEST_DIR}/EngineTest.cpp
  LIBS plexcore)

# Through real peers over loopback: libmodbus as the remote Modbus master of
# our own slave memory, and as a remote slave that we poll.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(ENGINE_LIBMODBUS IMPORTED_TARGET libmodbus)
endif()
if(ENGINE_LIBMODBUS_FOUND)
  plexmar_test(engine_roads_test LABEL e2e
    SOURCES ${TEST_DIR}/RoadsTest.cpp
    LIBS plexcore PkgConfig::ENGINE_LIBMODBUS)
  # A libmodbus Modbus/TCP slave polled and written through the request chain.
  plexmar_test(engine_road_one_test LABEL e2e
    SOURCES ${TEST_DIR}/RoadOneTest.cpp
    LIBS plexcore PkgConfig::ENGINE_LIBMODBUS)
endif()
