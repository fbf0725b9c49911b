# Editing and operating forms: the number fields and the operator's write
# (Qt-free), the item property dialogs and the view's mouse work (offscreen Qt).
plexmar_test(formedit_test LABEL unit
  SOURCES ${TEST_DIR}/FormEditTest.cpp
  LIBS plexcore)
if(TARGET plexgui)
  plexmar_test(formedit_gui_test LABEL gui
    SOURCES ${TEST_DIR}/ItemDialogsGuiTest.cpp ${TEST_DIR}/ViewMouseGuiTest.cpp
            ${TEST_DIR}/FormPrintGuiTest.cpp
    LIBS plexgui Qt6::Test)
  target_include_directories(formedit_gui_test PRIVATE ${PROJECT_BINARY_DIR}/plexgui_autogen/include)
endif()
