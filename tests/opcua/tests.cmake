# The OPC UA stack: encoding, structures, UA TCP and secure conversation.
plexmar_test(opcua_encoding_test LABEL unit
  SOURCES ${TEST_DIR}/EncodingTest.cpp
  LIBS opcua)
plexmar_test(opcua_transport_test LABEL unit
  SOURCES ${TEST_DIR}/TransportTest.cpp
  LIBS opcua)
plexmar_test(opcua_channel_test LABEL unit
  SOURCES ${TEST_DIR}/ChannelTest.cpp
  LIBS opcua)
plexmar_test(opcua_fixture_test LABEL unit
  SOURCES ${TEST_DIR}/FixtureTest.cpp
  LIBS opcua)
