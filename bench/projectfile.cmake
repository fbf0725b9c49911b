# The project file and the tag CSV at plant size (plain program: it prints
# the two sizes side by side).
plexmar_bench(bench_project_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProjectFileBench.cpp
  LIBS plexcore)
