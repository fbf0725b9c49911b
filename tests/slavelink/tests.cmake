# Modbus wire formats (shared with the master library) and the slave library.
plexmar_test(test_modbuswire LABEL unit
  SOURCES ${TEST_DIR}/test_modbuswire.cpp
  LIBS platform)

plexmar_test(test_slavelink_requests LABEL unit
  SOURCES ${TEST_DIR}/test_requests.cpp
  LIBS slavelink_core)
