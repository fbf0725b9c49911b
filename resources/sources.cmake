# resources/: .ui, .qrc files; each area keeps to its own block.
list(APPEND PLEXMAR_QT_SOURCES
)
