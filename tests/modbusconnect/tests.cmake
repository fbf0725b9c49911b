# The Modbus commands of the Connect menu: opening connections from the
# stored settings (Qt-free) and the dialogs with the commands (offscreen Qt).
plexmar_test(modbusconnect_test LABEL unit
  SOURCES ${TEST_DIR}/ModbusConnectionsTest.cpp
  LIBS plexcore util)
if(TARGET plexgui)
  plexmar_test(modbusconnect_gui_test LABEL gui
    SOURCES ${TEST_DIR}/ConnectDialogsGuiTest.cpp
    LIBS plexgui)
  # The tests look into the dialogs' generated forms.
  target_include_directories(modbusconnect_gui_test PRIVATE
    ${PROJECT_BINARY_DIR}/plexgui_autogen/include)
endif()
