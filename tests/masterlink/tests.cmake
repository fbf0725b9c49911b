# The master library: scripted peers in-process, then peers we did not write.
plexmar_test(masterlink_wire_test LABEL unit
  SOURCES ${TEST_DIR}/MasterWireTest.cpp ${TEST_DIR}/MasterTestSupport.cpp
  LIBS masterlink util)

add_executable(masterlink_libmodbus_slave ${TEST_DIR}/libmodbus_slave.c)
target_link_libraries(masterlink_libmodbus_slave PRIVATE modbus)
plexmar_test(masterlink_interop_test LABEL interop TIMEOUT 180
  SOURCES ${TEST_DIR}/MasterInteropTest.cpp ${TEST_DIR}/MasterTestSupport.cpp
  LIBS masterlink util)
target_compile_definitions(masterlink_interop_test PRIVATE
  LIBMODBUS_SLAVE_PATH="$<TARGET_FILE:masterlink_libmodbus_slave>")
add_dependencies(masterlink_interop_test masterlink_libmodbus_slave)

plexmar_test(masterlink_slavelink_test LABEL e2e
  SOURCES ${TEST_DIR}/MasterSlavelinkTest.cpp ${TEST_DIR}/MasterTestSupport.cpp
  LIBS masterlink slavelink util)
