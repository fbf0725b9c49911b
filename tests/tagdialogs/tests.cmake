# The tag list and the tag definition dialogs on Qt's offscreen platform,
# with a scripted OPC client toolkit; the program's own OPC UA endpoint and a
# pymodbus slave over Modbus/TCP as the peers that see what the dialogs did.
if(TARGET plexgui)
  plexmar_test(tagdialogs_gui_test LABEL gui TIMEOUT 180
    SOURCES ${TEST_DIR}/TagListGuiTest.cpp ${TEST_DIR}/TagDefinitionGuiTest.cpp
            ${TEST_DIR}/TagExchangeGuiTest.cpp ${PROJECT_SOURCE_DIR}/tests/opcconnect/FakeClientKit.cpp
    LIBS plexgui Qt6::Test opcua)
  plexmar_test_stand_ins(tagdialogs_gui_test)
  target_include_directories(tagdialogs_gui_test PRIVATE ${PROJECT_BINARY_DIR}/plexgui_autogen/include)
endif()
