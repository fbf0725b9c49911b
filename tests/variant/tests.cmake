plexmar_test(variant_test LABEL unit SOURCES ${TEST_DIR}/variant_test.cpp LIBS platform)
