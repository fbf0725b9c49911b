# core/: each block belongs to one area; keep edits inside your own block.

# tag table, data blocks, value conversion, exchange engine (Qt-free)
list(APPEND PLEXCORE_SOURCES
  core/ExchangeTag.cpp
  core/ModbusDataBlock.cpp
  core/DataBlockIndex.cpp
  core/ValueConversion.cpp
  core/PlexmarApp.cpp
  core/ExchangeEngine.cpp
)

# start-up, shutdown, tick hooks (Qt-free part)
list(APPEND PLEXCORE_SOURCES
  core/AppStartup.cpp
  core/LinkedLibraries.cpp
  core/MainFrameCore.cpp
  core/UiJobQueue.cpp
)

# Modbus polling and write-back (Qt-free part)
list(APPEND PLEXCORE_SOURCES
  core/ModbusPoller.cpp
)

# project file (Qt-free part)
list(APPEND PLEXCORE_SOURCES
  core/ProjectFile.cpp
)

# main window, application driver (Qt)
list(APPEND PLEXMAR_QT_SOURCES
  core/MainFrame.cpp
  core/QtFramework.cpp
  core/RecentFileList.cpp
  core/SignalQuit.cpp
)

# project file commands and the file dialogs of the file commands (Qt)
list(APPEND PLEXMAR_QT_SOURCES
  core/FileDialogs.cpp
  core/ProjectCommands.cpp
)
