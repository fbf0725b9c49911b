# libFuzzer target for the form file reader: the reading and item code is
# compiled again with clang, the fuzzer's coverage and AddressSanitizer; the
# rest of the program comes from the libraries of this build. It runs for a
# bounded time as a test; new inputs go to the build folder, the seed (a form
# with one item of each kind, written by our own save) is made at build time.
find_program(PLEXMAR_CLANGXX NAMES clang++ clang++-14)
option(PLEXMAR_FUZZ "Build the libFuzzer targets (needs clang)" ON)
if(PLEXMAR_FUZZ AND PLEXMAR_CLANGXX AND NOT PLEXMAR_TSAN AND NOT PLEXMAR_SANITIZE AND TARGET plexcore)
  set(ff_dir ${CMAKE_CURRENT_BINARY_DIR}/formsfuzz)
  set(ff_flags -std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined -I${PROJECT_SOURCE_DIR})
  set(ff_objects)
  foreach(source platform/archive.cpp platform/variant.cpp forms/MMI_Item.cpp forms/MMI_Items.cpp
                 forms/MMI_TrendItem.cpp forms/PlexmarDoc.cpp)
    get_filename_component(stem ${source} NAME_WE)
    set(object ${ff_dir}/${stem}.o)
    add_custom_command(OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${ff_dir}
      COMMAND ${PLEXMAR_CLANGXX} ${ff_flags} -c ${PROJECT_SOURCE_DIR}/${source} -o ${object}
      DEPENDS ${PROJECT_SOURCE_DIR}/${source}
      IMPLICIT_DEPENDS CXX ${PROJECT_SOURCE_DIR}/${source}
      COMMENT "clang (fuzz) ${source}" VERBATIM)
    list(APPEND ff_objects ${object})
  endforeach()
  set(ff_libs)
  set(ff_lib_targets)
  foreach(lib plexcore serverkit clientkit masterlink slavelink_core opcua platform)
    if(TARGET ${lib})
      list(APPEND ff_libs $<TARGET_FILE:${lib}>)
      list(APPEND ff_lib_targets ${lib})
    endif()
  endforeach()

  add_executable(formsfuzz_seed ${TEST_DIR}/SeedForm.cpp)
  target_link_libraries(formsfuzz_seed PRIVATE plexcore)
  plexmar_warnings(formsfuzz_seed)
  set(ff_seed ${ff_dir}/seed/every-item.form)
  add_custom_command(OUTPUT ${ff_seed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ff_dir}/seed
    COMMAND formsfuzz_seed ${ff_seed}
    DEPENDS formsfuzz_seed
    COMMENT "seed of fuzz_form_file" VERBATIM)

  set(binary ${ff_dir}/fuzz_form_file)
  add_custom_command(OUTPUT ${binary}
    COMMAND ${PLEXMAR_CLANGXX} ${ff_flags} -fsanitize=fuzzer ${TEST_DIR}/fuzz_form_file.cpp ${ff_objects}
            -Wl,--start-group ${ff_libs} -Wl,--end-group -lpthread -ldl -o ${binary}
    DEPENDS ${TEST_DIR}/fuzz_form_file.cpp ${ff_objects} ${ff_lib_targets} ${ff_seed}
    IMPLICIT_DEPENDS CXX ${TEST_DIR}/fuzz_form_file.cpp
    COMMENT "libFuzzer target fuzz_form_file" VERBATIM)
  add_custom_target(fuzz_form_file ALL DEPENDS ${binary})
  file(MAKE_DIRECTORY ${ff_dir}/corpus)
  add_test(NAME fuzz_form_file
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1
            ${binary} -max_total_time=20 -timeout=10 -rss_limit_mb=1024 -max_len=4096
            -artifact_prefix=${ff_dir}/ ${ff_dir}/corpus ${ff_dir}/seed)
  set_tests_properties(fuzz_form_file PROPERTIES LABELS fuzz TIMEOUT 120 RUN_SERIAL TRUE)
endif()
