# The OPC client toolkit: its value mapping (unit) and its calls against
# node-opcua servers that the tests start (interop).
plexmar_test(clientkit_mapping_test LABEL unit
  SOURCES ${TEST_DIR}/MappingTest.cpp
  LIBS clientkit)
plexmar_test(clientkit_interop_test LABEL interop TIMEOUT 300
  SOURCES ${TEST_DIR}/ClientInteropTest.cpp
  LIBS clientkit)
