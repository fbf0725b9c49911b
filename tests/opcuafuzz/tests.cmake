# libFuzzer targets for the OPC UA stack and both of its sides:
#   fuzz_opcua_messages  every decoder of the stack, and encoding back;
#   fuzz_opcua_server    bytes from a client into one server connection;
#   fuzz_opcua_client    server answers to the client toolkit.
# The stack, serverkit, clientkit and the VARIANT code are compiled again
# with clang, the fuzzer's coverage, AddressSanitizer and UBSan; the rest of
# platform comes from this build's library. Each runs 20 s as a test; the
# seeds are made at build time from the recorded node-opcua traffic in
# tests/opcua/fixtures, new inputs go to the build folder.
find_program(PLEXMAR_CLANGXX NAMES clang++ clang++-14)
option(PLEXMAR_FUZZ "Build the libFuzzer targets (needs clang)" ON)
# The sanitizer builds link gcc's sanitizer runtimes into the libraries,
# which cannot live beside clang's in one program.
if(PLEXMAR_FUZZ AND PLEXMAR_CLANGXX AND NOT PLEXMAR_TSAN AND NOT PLEXMAR_SANITIZE
   AND TARGET serverkit AND TARGET clientkit)
  set(of_dir ${CMAKE_CURRENT_BINARY_DIR}/opcuafuzz)
  set(of_flags -std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined
               -I${PROJECT_SOURCE_DIR} -I${PROJECT_SOURCE_DIR}/tests -I${TEST_DIR})
  set(of_sources)
  foreach(dir opcua serverkit clientkit)
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND of_sources ${sources})
  endforeach()
  list(APPEND of_sources ${PROJECT_SOURCE_DIR}/platform/variant.cpp)
  # Every object depends on every header of these folders: a custom command
  # has no compiler to list a file's includes.
  set(of_headers)
  foreach(dir opcua serverkit clientkit platform)
    file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.h)
    list(APPEND of_headers ${headers})
  endforeach()
  set(of_objects)
  foreach(source ${of_sources})
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${source})
    string(REPLACE "/" "_" stem ${rel})
    set(object ${of_dir}/${stem}.o)
    add_custom_command(OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${of_dir}
      COMMAND ${PLEXMAR_CLANGXX} ${of_flags} -c ${source} -o ${object}
      DEPENDS ${source} ${of_headers}
      COMMENT "clang (fuzz) ${rel}" VERBATIM)
    list(APPEND of_objects ${object})
  endforeach()
  # An archive, so that each target takes only the objects it needs.
  set(of_archive ${of_dir}/libopcuafuzz.a)
  add_custom_command(OUTPUT ${of_archive}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${of_archive}
    COMMAND ${CMAKE_AR} qcs ${of_archive} ${of_objects}
    DEPENDS ${of_objects}
    COMMENT "archive of the OPC UA fuzz objects" VERBATIM)

  # The seeds, from the recorded frames.
  add_executable(opcuafuzz_seed ${TEST_DIR}/SeedCorpus.cpp)
  target_link_libraries(opcuafuzz_seed PRIVATE serverkit opcua)
  target_include_directories(opcuafuzz_seed PRIVATE ${PROJECT_SOURCE_DIR}/tests ${TEST_DIR})
  plexmar_warnings(opcuafuzz_seed)
  file(GLOB of_fixtures CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/opcua/fixtures/*.bin)
  set(of_seed_stamp ${of_dir}/seed/stamp)
  add_custom_command(OUTPUT ${of_seed_stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${of_dir}/seed
    COMMAND ${CMAKE_COMMAND} -E env PLEXMAR_OPCUA_PORT=0
            $<TARGET_FILE:opcuafuzz_seed> ${PROJECT_SOURCE_DIR}/tests/opcua/fixtures ${of_dir}/seed
    COMMAND ${CMAKE_COMMAND} -E touch ${of_seed_stamp}
    DEPENDS opcuafuzz_seed ${of_fixtures}
    COMMENT "seeds of the OPC UA fuzz targets" VERBATIM)
  # One target makes the archive and the seeds; the three fuzz targets wait
  # for it, so that those rules do not run once per target at the same time.
  add_custom_target(opcuafuzz_common DEPENDS ${of_archive} ${of_seed_stamp})

  set(platform_lib $<TARGET_FILE:platform>)
  foreach(target messages server client)
    if(target STREQUAL "messages")
      set(max_len 16384)
    elseif(target STREQUAL "server")
      set(max_len 16384)
    else()
      set(max_len 49152)
    endif()
    set(binary ${of_dir}/fuzz_opcua_${target})
    add_custom_command(OUTPUT ${binary}
      COMMAND ${PLEXMAR_CLANGXX} ${of_flags} -fsanitize=fuzzer ${TEST_DIR}/fuzz_opcua_${target}.cpp
              -Wl,--start-group ${of_archive} ${platform_lib} -Wl,--end-group -lpthread -ldl -o ${binary}
      DEPENDS ${TEST_DIR}/fuzz_opcua_${target}.cpp ${TEST_DIR}/ScriptedServer.h
              ${PROJECT_SOURCE_DIR}/tests/opcua/MessageCatalog.h ${of_headers} ${of_archive} platform ${of_seed_stamp}
      COMMENT "libFuzzer target fuzz_opcua_${target}" VERBATIM)
    add_custom_target(fuzz_opcua_${target} ALL DEPENDS ${binary})
    add_dependencies(fuzz_opcua_${target} opcuafuzz_common)
    file(MAKE_DIRECTORY ${of_dir}/corpus_${target})
    add_test(NAME fuzz_opcua_${target}
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1
              PLEXMAR_OPCUA_PORT=0
              ${binary} -max_total_time=20 -timeout=10 -rss_limit_mb=2048 -max_len=${max_len}
              -artifact_prefix=${of_dir}/${target}- ${of_dir}/corpus_${target} ${of_dir}/seed/${target})
    set_tests_properties(fuzz_opcua_${target} PROPERTIES LABELS fuzz TIMEOUT 120 RUN_SERIAL TRUE)
  endforeach()
endif()

# The seeds' reach, as a unit test with the gcc build.
if(TARGET serverkit AND TARGET clientkit)
  plexmar_test(opcuafuzz_seed_test LABEL unit
    SOURCES ${TEST_DIR}/SeedTest.cpp
    LIBS clientkit serverkit opcua)
  target_include_directories(opcuafuzz_seed_test PRIVATE ${TEST_DIR})
endif()
