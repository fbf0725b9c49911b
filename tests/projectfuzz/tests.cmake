# libFuzzer targets for the readers of the configuration files: the project
# file, the tag CSV and the logic block CSV. The reading code is compiled
# again with clang, the fuzzer's coverage and AddressSanitizer; the rest of the
# program comes from the libraries of this build. Each runs for a bounded time
# as a test; new inputs go to the build folder, the seeds stay in the tree.
find_program(PLEXMAR_CLANGXX NAMES clang++ clang++-14)
option(PLEXMAR_FUZZ "Build the libFuzzer targets (needs clang)" ON)
# The sanitizer builds link gcc's sanitizer runtimes into the libraries,
# which cannot live beside clang's in one program.
if(PLEXMAR_FUZZ AND PLEXMAR_CLANGXX AND NOT PLEXMAR_TSAN AND NOT PLEXMAR_SANITIZE AND TARGET plexcore)
  set(pf_dir ${CMAKE_CURRENT_BINARY_DIR}/projectfuzz)
  set(pf_flags -std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined -I${PROJECT_SOURCE_DIR})
  set(pf_objects)
  foreach(source platform/archive.cpp platform/variant.cpp core/ProjectFile.cpp core/ExchangeTag.cpp
                 connections/OpcServerLink.cpp logic/LogicEntry.cpp logic/LogicBlock.cpp
                 tags/CsvReader.cpp tags/TagCsv.cpp logic/LogicBlockCsv.cpp)
    get_filename_component(stem ${source} NAME_WE)
    set(object ${pf_dir}/${stem}.o)
    add_custom_command(OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${pf_dir}
      COMMAND ${PLEXMAR_CLANGXX} ${pf_flags} -c ${PROJECT_SOURCE_DIR}/${source} -o ${object}
      DEPENDS ${PROJECT_SOURCE_DIR}/${source}
      IMPLICIT_DEPENDS CXX ${PROJECT_SOURCE_DIR}/${source}
      COMMENT "clang (fuzz) ${source}" VERBATIM)
    list(APPEND pf_objects ${object})
  endforeach()
  # The libraries the reading code calls into; the objects above come first,
  # so the libraries' own copies of those files are never taken.
  set(pf_libs)
  set(pf_lib_targets)
  foreach(lib plexcore serverkit clientkit masterlink slavelink_core opcua platform)
    if(TARGET ${lib})
      list(APPEND pf_libs $<TARGET_FILE:${lib}>)
      list(APPEND pf_lib_targets ${lib})
    endif()
  endforeach()

  # The first project file input: every kind of record, written by our save.
  add_executable(projectfuzz_seed ${TEST_DIR}/SeedProject.cpp)
  target_link_libraries(projectfuzz_seed PRIVATE plexcore)
  plexmar_warnings(projectfuzz_seed)
  set(pf_seed ${pf_dir}/seed_project/every-record.tst)
  add_custom_command(OUTPUT ${pf_seed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pf_dir}/seed_project
    COMMAND projectfuzz_seed ${TEST_DIR}/corpus/tagcsv/table.csv ${TEST_DIR}/corpus/logiccsv/block.csv ${pf_seed}
    DEPENDS projectfuzz_seed ${TEST_DIR}/corpus/tagcsv/table.csv ${TEST_DIR}/corpus/logiccsv/block.csv
    COMMENT "seed of fuzz_project_file" VERBATIM)

  foreach(reader project_file tag_csv logic_csv)
    if(reader STREQUAL "project_file")
      set(harness fuzz_project.cpp)
      set(seeds ${pf_dir}/seed_project)
      set(extra ${pf_seed})
    elseif(reader STREQUAL "tag_csv")
      set(harness fuzz_tag_csv.cpp)
      set(seeds ${TEST_DIR}/corpus/tagcsv)
      set(extra)
    else()
      set(harness fuzz_logic_csv.cpp)
      set(seeds ${TEST_DIR}/corpus/logiccsv)
      set(extra)
    endif()
    set(binary ${pf_dir}/fuzz_${reader})
    add_custom_command(OUTPUT ${binary}
      COMMAND ${PLEXMAR_CLANGXX} ${pf_flags} -fsanitize=fuzzer ${TEST_DIR}/${harness} ${pf_objects}
              -Wl,--start-group ${pf_libs} -Wl,--end-group -lpthread -ldl -o ${binary}
      DEPENDS ${TEST_DIR}/${harness} ${pf_objects} ${pf_lib_targets} ${extra}
      IMPLICIT_DEPENDS CXX ${TEST_DIR}/${harness}
      COMMENT "libFuzzer target fuzz_${reader}" VERBATIM)
    add_custom_target(fuzz_${reader} ALL DEPENDS ${binary})
    file(MAKE_DIRECTORY ${pf_dir}/corpus_${reader})
    add_test(NAME fuzz_${reader}
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1
              ${binary} -max_total_time=20 -timeout=10 -rss_limit_mb=1024 -max_len=4096
              -artifact_prefix=${pf_dir}/ ${pf_dir}/corpus_${reader} ${seeds})
    set_tests_properties(fuzz_${reader} PROPERTIES LABELS fuzz TIMEOUT 120 RUN_SERIAL TRUE)
  endforeach()
endif()
