# forms/: Qt-free model files go to PLEXCORE_SOURCES, widgets and dialogs to PLEXMAR_QT_SOURCES.
list(APPEND PLEXCORE_SOURCES
)
list(APPEND PLEXMAR_QT_SOURCES
)
