# The tag table, data blocks and value conversions, against recording
# stand-ins for the OPC client toolkit and the slave library's block calls.
plexmar_test(core_value_conversion_test LABEL unit
  SOURCES ${TEST_DIR}/ValueConversionTest.cpp ${TEST_DIR}/ToolkitDoubles.cpp
  LIBS plexcore)
plexmar_test_stand_ins(core_value_conversion_test)
plexmar_test(core_tag_table_test LABEL unit
  SOURCES ${TEST_DIR}/TagTableTest.cpp ${TEST_DIR}/DataBlockTest.cpp ${TEST_DIR}/ToolkitDoubles.cpp
  LIBS plexcore)
plexmar_test_stand_ins(core_tag_table_test)
