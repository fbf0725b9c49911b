# The configuration as files: tag and logic block CSV, the project file.
plexmar_test(projectfiles_csv_test LABEL unit
  SOURCES ${TEST_DIR}/CsvTest.cpp ${PROJECT_SOURCE_DIR}/tests/core/ToolkitDoubles.cpp
  LIBS plexcore)
plexmar_test(projectfiles_project_test LABEL unit
  SOURCES ${TEST_DIR}/ProjectFileTest.cpp ${TEST_DIR}/ProjectDoubles.cpp
  LIBS plexcore)
if(TARGET plexgui)
  plexmar_test(projectfiles_gui_test LABEL gui
    SOURCES ${TEST_DIR}/FileCommandsGuiTest.cpp
    LIBS plexgui)
  target_include_directories(projectfiles_gui_test PRIVATE ${PROJECT_BINARY_DIR}/plexgui_autogen/include)
endif()
