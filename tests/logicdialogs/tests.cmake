# The logic block editors on the offscreen platform: the block table, the
# block editor, the entry definition and the operation dialogs, "&Logic Blks"
# of the form view and the "Add New" of the hot text dialog.
if(TARGET plexgui)
  plexmar_test(logicdialogs_gui_test LABEL gui
    SOURCES ${TEST_DIR}/BlockEditorsGuiTest.cpp ${TEST_DIR}/EntryDialogsGuiTest.cpp
            ${TEST_DIR}/LogicBlksCommandGuiTest.cpp
    LIBS plexgui Qt6::Test)
  target_include_directories(logicdialogs_gui_test PRIVATE ${PROJECT_BINARY_DIR}/plexgui_autogen/include)
endif()
