# Operator forms: the form file and the display items (Qt-free), their
# drawing through QPainter and the form view (offscreen Qt).
plexmar_test(forms_test LABEL unit
  SOURCES ${TEST_DIR}/FormFileTest.cpp ${TEST_DIR}/FormItemsTest.cpp
  LIBS plexcore)
if(TARGET plexgui)
  plexmar_test(forms_gui_test LABEL gui
    SOURCES ${TEST_DIR}/FormGuiTest.cpp
    LIBS plexgui Qt6::Test)
  plexmar_test(forms_exchange_test LABEL e2e
    SOURCES ${TEST_DIR}/FormExchangeTest.cpp
    LIBS plexgui)
  # "ReadTag" and "WriteTag" over a private session bus, called by gdbus.
  plexmar_test(forms_automation_test LABEL e2e
    SOURCES ${TEST_DIR}/FormAutomationTest.cpp
    LIBS plexgui)
endif()
