# logic/: Qt-free model files go to PLEXCORE_SOURCES, widgets and dialogs to PLEXMAR_QT_SOURCES.
# logic block model and execution
list(APPEND PLEXCORE_SOURCES
  logic/LogicEntry.cpp
  logic/LogicBlock.cpp
  logic/LogicApp.cpp
)
# Running blocks writes tags, so it joins the library with the tag class.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/../core/ExchangeTag.h)
  list(APPEND PLEXCORE_SOURCES logic/LogicRun.cpp)
endif()
list(APPEND PLEXMAR_QT_SOURCES
)
