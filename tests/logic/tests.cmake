plexmar_test(logic_model_test LABEL unit
  SOURCES ${TEST_DIR}/LogicModelTest.cpp
  LIBS plexcore)
plexmar_test(logic_run_test LABEL unit
  SOURCES ${TEST_DIR}/LogicRunTest.cpp
  LIBS plexcore)
