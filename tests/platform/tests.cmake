# The platform layer: message targets and the archive.
plexmar_test(test_msgwindow LABEL unit
  SOURCES ${TEST_DIR}/test_msgwindow.cpp
  LIBS platform)
plexmar_test(test_archive LABEL unit
  SOURCES ${TEST_DIR}/test_archive.cpp
  LIBS platform)
