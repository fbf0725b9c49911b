# Operator forms: the form file and the display items (Qt-free), their
# drawing through QPainter and the form view (offscreen Qt).
plexmar_test(forms_test LABEL unit
  SOURCES ${TEST_DIR}/FormFileTest.cpp ${TEST_DIR}/FormItemsTest.cpp
  LIBS plexcore)
if(TARGET plexgui)
  plexmar_test(forms_gui_test LABEL gui
    SOURCES ${TEST_DIR}/FormGuiTest.cpp
    LIBS plexgui Qt6::Test)
endif()
