# The master library: scripted peers in-process, then peers we did not write.
plexmar_test(masterlink_wire_test LABEL unit
  SOURCES ${TEST_DIR}/MasterWireTest.cpp ${TEST_DIR}/MasterTestSupport.cpp
  LIBS masterlink util)
