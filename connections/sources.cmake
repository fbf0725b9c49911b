# connections/: Qt-free model files go to PLEXCORE_SOURCES, widgets and dialogs to PLEXMAR_QT_SOURCES.
list(APPEND PLEXCORE_SOURCES
  connections/OpcServerLink.cpp
)
list(APPEND PLEXMAR_QT_SOURCES
)

# Modbus connection commands and dialogs
list(APPEND PLEXCORE_SOURCES
  connections/ModbusConnections.cpp
)
list(APPEND PLEXMAR_QT_SOURCES
  connections/ModbusConnectDialogs.cpp
  connections/ModbusConnectCommands.cpp
)

# OPC client connections: the connect step, the commands, the dialogs
list(APPEND PLEXCORE_SOURCES
  connections/OpcConnections.cpp
)
list(APPEND PLEXMAR_QT_SOURCES
  connections/OpcConnectDialogs.cpp
  connections/OpcConnectCommands.cpp
  connections/OpcBrowseDlg.cpp
)
