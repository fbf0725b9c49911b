plexmar_test(serverkit_items_test LABEL unit
  SOURCES ${TEST_DIR}/ItemTableTest.cpp
  LIBS serverkit)
plexmar_test(serverkit_registration_test LABEL unit
  SOURCES ${TEST_DIR}/RegistrationTest.cpp
  LIBS serverkit)
