# A form's refresh tick against its full repaint (plain program: it prints
# the Draw calls and times side by side).
if(TARGET plexgui)
  plexmar_bench(bench_form_refresh
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/FormRefreshBench.cpp
    LIBS plexgui)
endif()
