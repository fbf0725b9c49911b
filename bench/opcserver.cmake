# Plexmar's OPC UA server beside a node-opcua server, both measured by one
# node-opcua client: reads, data changes and resident memory.
plexmar_bench(bench_opcserver
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/OpcServerBench.cpp
  LIBS serverkit)
target_compile_definitions(bench_opcserver PRIVATE PLEXMAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
