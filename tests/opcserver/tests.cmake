# The OPC UA server in serverkit: against the stack's own client (unit), and
# against node-opcua (interop).
plexmar_test(opcserver_unit_test LABEL unit
  SOURCES ${TEST_DIR}/UaServerTest.cpp
  LIBS serverkit opcua)
plexmar_test(opcserver_interop_test LABEL interop TIMEOUT 300
  SOURCES ${TEST_DIR}/InteropTest.cpp
  LIBS serverkit opcua)
if(TARGET plexmar)
  plexmar_test(opcserver_program_test LABEL e2e TIMEOUT 180
    SOURCES ${TEST_DIR}/ProgramTest.cpp
    LIBS plexcore)
  add_dependencies(opcserver_program_test plexmar)
endif()
