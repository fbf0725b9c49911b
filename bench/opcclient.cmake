# Data changes from a node-opcua server with many monitored items through
# clientkit into tags, against a node-opcua client on the same subscription.
plexmar_bench(bench_opcclient
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/OpcClientBench.cpp
  LIBS plexcore)
target_compile_definitions(bench_opcclient PRIVATE PLEXMAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
