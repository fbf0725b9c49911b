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

# the OPC connect step shared by the Connect menu and the project load (Qt-free)
list(APPEND PLEXCORE_SOURCES
  connections/OpcConnect.cpp
)
