# tags/: Qt-free model files go to PLEXCORE_SOURCES, widgets and dialogs to PLEXMAR_QT_SOURCES.
list(APPEND PLEXCORE_SOURCES
)
list(APPEND PLEXMAR_QT_SOURCES
)

# tag CSV and the CSV line reader shared with the logic block CSV (Qt-free)
list(APPEND PLEXCORE_SOURCES
  tags/CsvReader.cpp
  tags/TagCsv.cpp
  tags/Lock.cpp
)

# lock and unlock, tag CSV commands (Qt)
list(APPEND PLEXMAR_QT_SOURCES
  tags/PasswordDlg.cpp
  tags/TagCommands.cpp
)

# the tag list and the tag definition dialogs: the table changes (Qt-free),
# the dialogs (Qt)
list(APPEND PLEXCORE_SOURCES
  tags/TagAdministration.cpp
)
list(APPEND PLEXMAR_QT_SOURCES
  tags/TagDialogHooks.cpp
  tags/TagDefinitionDlgs.cpp
  tags/TagListDlg.cpp
)
