# The Modbus commands of the Connect menu: opening connections from the
# stored settings (Qt-free) and the dialogs with the commands (offscreen Qt).
plexmar_test(modbusconnect_test LABEL unit
  SOURCES ${TEST_DIR}/ModbusConnectionsTest.cpp
  LIBS plexcore util)
