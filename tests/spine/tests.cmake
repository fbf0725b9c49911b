plexmar_test(spine_startup_test LABEL unit
  SOURCES ${TEST_DIR}/StartupTest.cpp
  LIBS plexcore)
plexmar_test(spine_frame_core_test LABEL unit
  SOURCES ${TEST_DIR}/MainFrameCoreTest.cpp
  LIBS plexcore)
if(TARGET plexgui)
  plexmar_test(spine_gui_test LABEL gui
    SOURCES ${TEST_DIR}/MainFrameGuiTest.cpp
    LIBS plexgui Qt6::Test)
endif()
if(TARGET plexmar)
  plexmar_test(spine_program_test LABEL e2e
    SOURCES ${TEST_DIR}/ProgramTest.cpp)
  add_dependencies(spine_program_test plexmar)
endif()
