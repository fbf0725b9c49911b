# The OPC client connections against a scripted client toolkit: the connect
# step (Qt-free) and the commands and dialogs (offscreen Qt).
plexmar_test(opcconnect_test LABEL unit
  SOURCES ${TEST_DIR}/OpcConnectionsTest.cpp ${TEST_DIR}/FakeClientKit.cpp
  LIBS plexcore)
plexmar_test_stand_ins(opcconnect_test)
if(TARGET plexgui)
  plexmar_test(opcconnect_gui_test LABEL gui
    SOURCES ${TEST_DIR}/OpcDialogsGuiTest.cpp ${TEST_DIR}/FakeClientKit.cpp
    LIBS plexgui)
  plexmar_test_stand_ins(opcconnect_gui_test)
  target_include_directories(opcconnect_gui_test PRIVATE
    ${PROJECT_BINARY_DIR}/plexgui_autogen/include)
endif()
