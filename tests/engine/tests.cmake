# The exchange engine against the real OPC server item table and slave
# library, with logic blocks whose runs a recording host counts.
plexmar_test(engine_test LABEL unit
  SOURCES ${TEST_DIR}/EngineTest.cpp
  LIBS plexcore)
