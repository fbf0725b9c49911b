# logic/: Qt-free model files go to PLEXCORE_SOURCES, widgets and dialogs to PLEXMAR_QT_SOURCES.
# logic block model and execution
list(APPEND PLEXCORE_SOURCES
  logic/LogicEntry.cpp
  logic/LogicBlock.cpp
  logic/LogicApp.cpp
  logic/LogicRun.cpp
)
list(APPEND PLEXMAR_QT_SOURCES
)

# logic block CSV (Qt-free)
list(APPEND PLEXCORE_SOURCES
  logic/LogicBlockCsv.cpp
)

# logic block CSV commands and dialogs (Qt)
list(APPEND PLEXMAR_QT_SOURCES
  logic/LogicCsvDialogs.cpp
  logic/LogicCsvCommands.cpp
)

# the logic block editors: block table, block, entry and operation dialogs (Qt)
list(APPEND PLEXMAR_QT_SOURCES
  logic/LogicDialogHooks.cpp
  logic/LogicBlockDlgs.cpp
  logic/LogicEntryDlgs.cpp
  logic/LogicBlockEditing.cpp
)
