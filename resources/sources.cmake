# resources/: .ui, .qrc files; each area keeps to its own block.
list(APPEND PLEXMAR_QT_SOURCES
)

# menus and command ids of the main window
list(APPEND PLEXMAR_QT_SOURCES
  resources/Menus.cpp
)

# dialogs of the Modbus connection commands (found by AUTOUIC through the includes)
list(APPEND PLEXMAR_QT_SOURCES
  resources/CommPortDlg.ui
  resources/TcpServerDlg.ui
  resources/TcpSlaveDlg.ui
)

# dialogs of the lock and of the logic block CSV commands
list(APPEND PLEXMAR_QT_SOURCES
  resources/PasswordDlg.ui
  resources/SelectLogicBlockDlg.ui
  resources/ImportLogicBlkDlg.ui
  resources/LogicBlockExistsDlg.ui
)

# the logic block editors
list(APPEND PLEXMAR_QT_SOURCES
  resources/LogicTablesDlg.ui
  resources/LogicBlockDlg.ui
  resources/LogicEntryDlg.ui
  resources/LogicAssignDlg.ui
  resources/LogicIfDlg.ui
  resources/LogicFormDlg.ui
)

# dialogs of the OPC client connections: remote machine, server list, browse
list(APPEND PLEXMAR_QT_SOURCES
  resources/OpcRemoteDlg.ui
  resources/OpcServerListDlg.ui
  resources/OpcBrowseDlg.ui
)

# the forms' item property dialogs, Form Properties and the write dialogs
list(APPEND PLEXMAR_QT_SOURCES
  resources/CustomDisplayDlg.ui
  resources/TxtPropDlg.ui
  resources/RectPropDlg.ui
  resources/BmpPropDlg.ui
  resources/TagPropDlg.ui
  resources/BarPropDlg.ui
  resources/HotTxtPropDlg.ui
  resources/TrendPropDlg.ui
  resources/TrendPenDlg.ui
  resources/FormPropDlg.ui
  resources/WriteNumericDlg.ui
  resources/WriteStringDlg.ui
)

# the tag list and the tag definition dialogs
list(APPEND PLEXMAR_QT_SOURCES
  resources/TagListDlg.ui
  resources/TagDefinitionDlg.ui
  resources/ModbusPointDlg.ui
  resources/UserVariableDlg.ui
)
