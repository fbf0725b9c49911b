# forms/: Qt-free model files go to PLEXCORE_SOURCES, widgets and dialogs to PLEXMAR_QT_SOURCES.
# the form document, its file and the display items (Qt-free)
list(APPEND PLEXCORE_SOURCES
  forms/MMI_Item.cpp
  forms/MMI_Items.cpp
  forms/MMI_TrendItem.cpp
  forms/PlexmarDoc.cpp
  forms/DialogFields.cpp
  forms/TagWritePrompt.cpp
)
# the form view, its frame and template, drawing through QPainter (Qt)
list(APPEND PLEXMAR_QT_SOURCES
  forms/PainterDC.cpp
  forms/FormCanvas.cpp
  forms/PlexmarView.cpp
  forms/FormTemplate.cpp
)

# automation of form documents over D-Bus
list(APPEND PLEXMAR_QT_SOURCES
  forms/FormAutomation.cpp
)

# the item property dialogs, Form Properties and the operator's write dialogs (Qt)
list(APPEND PLEXMAR_QT_SOURCES
  forms/FormDialogHooks.cpp
  forms/ItemDialogs.cpp
  forms/FormPropertiesDlg.cpp
  forms/TagWriteDlgs.cpp
  forms/FormItemUi.cpp
  forms/FormViewCommands.cpp
  forms/FormPrinting.cpp
)
