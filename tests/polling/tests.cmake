# The Modbus request chain: a scripted master library double, and the real
# library against our own slave library over loopback.
plexmar_test(polling_chain_test LABEL unit
  SOURCES ${TEST_DIR}/PollChainTest.cpp
  LIBS plexcore)
plexmar_test(polling_frame_test LABEL e2e
  SOURCES ${TEST_DIR}/PollingThroughFrameTest.cpp
  LIBS plexcore)
