# Modbus wire formats (shared with the master library) and the slave library.
plexmar_test(test_modbuswire LABEL unit
  SOURCES ${TEST_DIR}/test_modbuswire.cpp
  LIBS platform)

plexmar_test(test_slavelink_requests LABEL unit
  SOURCES ${TEST_DIR}/test_requests.cpp
  LIBS slavelink_core)

plexmar_test(test_slavelink_tcp LABEL unit
  SOURCES ${TEST_DIR}/test_tcp.cpp
  LIBS slavelink_core)

plexmar_test(test_slavelink_api LABEL unit
  SOURCES ${TEST_DIR}/test_api.cpp
  LIBS slavelink_core)

plexmar_test(test_slavelink_c LABEL unit
  SOURCES ${TEST_DIR}/test_c_header.cpp ${TEST_DIR}/c_smoke.c
  LIBS slavelink ${CMAKE_DL_LIBS})
set_source_files_properties(${TEST_DIR}/c_smoke.c PROPERTIES COMPILE_OPTIONS "-std=c99;-pedantic")

plexmar_test(test_slavelink_serial LABEL unit
  SOURCES ${TEST_DIR}/test_serial.cpp
  LIBS slavelink_core util)

# Masters we did not write: libmodbus, pymodbus (through /usr/bin/python3)
# and mbpoll.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(LIBMODBUS IMPORTED_TARGET libmodbus)
endif()
if(LIBMODBUS_FOUND)
  plexmar_test(test_slavelink_interop LABEL interop TIMEOUT 180
    SOURCES ${TEST_DIR}/test_interop.cpp ${TEST_DIR}/libmodbus_master.c
    LIBS slavelink_core PkgConfig::LIBMODBUS util)
endif()

# libFuzzer targets for each link's frame processing, built with clang and
# AddressSanitizer beside the gcc build. Each runs for a bounded time as a
# test; new inputs go to the build folder, the seeds stay in the source tree.
find_program(PLEXMAR_CLANGXX NAMES clang++ clang++-14)
option(PLEXMAR_FUZZ "Build the libFuzzer targets (needs clang)" ON)
if(PLEXMAR_FUZZ AND PLEXMAR_CLANGXX AND NOT PLEXMAR_TSAN)
  set(fuzz_dir ${CMAKE_CURRENT_BINARY_DIR}/slavefuzz)
  set(fuzz_flags -std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined -I${PROJECT_SOURCE_DIR})
  set(fuzz_objects)
  foreach(source slavelink/RequestProcessor.cpp slavelink/SlaveState.cpp slavelink/SerialLink.cpp
                 slavelink/TcpServer.cpp slavelink/SlaveApi.cpp platform/modbuswire.cpp platform/msgwindow.cpp
                 platform/serialport.cpp platform/serialport_speed.cpp)
    get_filename_component(stem ${source} NAME_WE)
    set(object ${fuzz_dir}/${stem}.o)
    add_custom_command(OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${fuzz_dir}
      COMMAND ${PLEXMAR_CLANGXX} ${fuzz_flags} -c ${PROJECT_SOURCE_DIR}/${source} -o ${object}
      DEPENDS ${PROJECT_SOURCE_DIR}/${source}
      IMPLICIT_DEPENDS CXX ${PROJECT_SOURCE_DIR}/${source}
      COMMENT "clang (fuzz) ${source}" VERBATIM)
    list(APPEND fuzz_objects ${object})
  endforeach()
  foreach(link rtu ascii tcp)
    set(binary ${fuzz_dir}/fuzz_slave_${link})
    add_custom_command(OUTPUT ${binary}
      COMMAND ${PLEXMAR_CLANGXX} ${fuzz_flags} -fsanitize=fuzzer ${TEST_DIR}/fuzz/fuzz_${link}.cpp
              ${fuzz_objects} -o ${binary} -lpthread
      DEPENDS ${TEST_DIR}/fuzz/fuzz_${link}.cpp ${TEST_DIR}/fuzz/FuzzTable.h ${fuzz_objects}
      IMPLICIT_DEPENDS CXX ${TEST_DIR}/fuzz/fuzz_${link}.cpp
      COMMENT "libFuzzer target fuzz_slave_${link}" VERBATIM)
    add_custom_target(fuzz_slave_${link} ALL DEPENDS ${binary})
    add_test(NAME fuzz_slave_${link}
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1
              ${binary} -max_total_time=20 -timeout=10 -rss_limit_mb=1024
              -artifact_prefix=${fuzz_dir}/ ${fuzz_dir}/corpus_${link} ${TEST_DIR}/corpus/${link})
    # Each fuzzer keeps a core busy for its whole run: run them alone, so that
    # the timing of the tests beside them is not what they measure.
    set_tests_properties(fuzz_slave_${link} PROPERTIES LABELS fuzz TIMEOUT 120 RUN_SERIAL TRUE)
    file(MAKE_DIRECTORY ${fuzz_dir}/corpus_${link})
  endforeach()
endif()

# A Python host using the shared library through ctypes alone. A sanitizer
# build's library cannot be loaded into a plain interpreter.
if(NOT PLEXMAR_SANITIZE AND NOT PLEXMAR_TSAN AND EXISTS /usr/bin/python3)
  add_test(NAME slavelink_ctypes_host
    COMMAND /usr/bin/python3 ${TEST_DIR}/ctypes_host.py $<TARGET_FILE:slavelink>)
  # Its exit status decides: a crash after the last check must fail it too.
  set_tests_properties(slavelink_ctypes_host PROPERTIES LABELS e2e TIMEOUT 60)
endif()
