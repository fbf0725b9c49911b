# The OPC client toolkit: its value mapping (unit) and its calls against
# node-opcua servers that the tests start (interop).
plexmar_test(clientkit_mapping_test LABEL unit
  SOURCES ${TEST_DIR}/MappingTest.cpp
  LIBS clientkit)
# The program's own client against the program's own endpoint, and servers
# registered on this machine.
plexmar_test(clientkit_own_endpoint_test LABEL unit
  SOURCES ${TEST_DIR}/OwnEndpointTest.cpp
  LIBS clientkit serverkit)
plexmar_test(clientkit_interop_test LABEL interop TIMEOUT 300
  SOURCES ${TEST_DIR}/ClientInteropTest.cpp
  LIBS clientkit)
if(TARGET plexgui)
  plexmar_test(clientkit_gui_test LABEL gui TIMEOUT 180
    SOURCES ${TEST_DIR}/BrowseGuiTest.cpp
    LIBS plexgui)
  target_include_directories(clientkit_gui_test PRIVATE ${PROJECT_BINARY_DIR}/plexgui_autogen/include)
endif()
# An "OPC Point" through the headless program, to its endpoint and to Modbus.
if(TARGET plexmar)
  plexmar_test(clientkit_program_test LABEL e2e TIMEOUT 300
    SOURCES ${TEST_DIR}/ProgramTest.cpp
    LIBS plexcore)
  add_dependencies(clientkit_program_test plexmar)
endif()
