# The configuration as files: tag and logic block CSV, the project file.
plexmar_test(projectfiles_csv_test LABEL unit
  SOURCES ${TEST_DIR}/CsvTest.cpp ${TEST_DIR}/LockTest.cpp ${PROJECT_SOURCE_DIR}/tests/core/ToolkitDoubles.cpp
  LIBS plexcore)
plexmar_test_stand_ins(projectfiles_csv_test)
plexmar_test(projectfiles_project_test LABEL unit
  SOURCES ${TEST_DIR}/ProjectFileTest.cpp ${TEST_DIR}/ProjectDoubles.cpp
  LIBS plexcore)
plexmar_test_stand_ins(projectfiles_project_test)
if(TARGET plexgui)
  plexmar_test(projectfiles_gui_test LABEL gui
    SOURCES ${TEST_DIR}/FileCommandsGuiTest.cpp
    LIBS plexgui)
  target_include_directories(projectfiles_gui_test PRIVATE ${PROJECT_BINARY_DIR}/plexgui_autogen/include)
  plexmar_test(projectfiles_forms_gui_test LABEL gui
    SOURCES ${TEST_DIR}/ProjectFormsGuiTest.cpp
    LIBS plexgui)
  target_include_directories(projectfiles_forms_gui_test PRIVATE ${PROJECT_BINARY_DIR}/plexgui_autogen/include)
  if(TARGET plexmar_demo)
    add_dependencies(projectfiles_forms_gui_test plexmar_demo)
  endif()
endif()
if(TARGET plexmar)
  plexmar_test(projectfiles_program_test LABEL e2e
    SOURCES ${TEST_DIR}/ProjectProgramTest.cpp
    LIBS plexcore util)
  add_dependencies(projectfiles_program_test plexmar plexmar_demo)
endif()
if(TARGET plexgui)
  plexmar_test(projectfiles_restore_test LABEL e2e
    SOURCES ${TEST_DIR}/RestoreExchangeTest.cpp
    LIBS plexgui)
  target_include_directories(projectfiles_restore_test PRIVATE ${PROJECT_BINARY_DIR}/plexgui_autogen/include)
endif()
# A saved OPC server link loaded with the real client toolkit against a
# node-opcua server.
plexmar_test(projectfiles_link_interop_test LABEL interop TIMEOUT 180
  SOURCES ${TEST_DIR}/ProjectLinkInteropTest.cpp
  LIBS plexcore)
