// Command ids of the main program's menus. A menu item carries its id; the
// main window enables an item once some part of the program has registered a
// handler for its id (CMainFrame::SetCommandHandler), so an item whose
// feature is not there yet shows disabled.
#pragma once

namespace cmd {

// The two menu bars: while no form is open, and of a form window.
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDR_PLEXFORM = 129;

// File: the framework's document and printing commands.
inline constexpr int ID_FILE_NEW = 0xE100;
inline constexpr int ID_FILE_OPEN = 0xE101;
inline constexpr int ID_FILE_CLOSE = 0xE102;
inline constexpr int ID_FILE_SAVE = 0xE103;
inline constexpr int ID_FILE_SAVE_AS = 0xE104;
inline constexpr int ID_FILE_PRINT_SETUP = 0xE106;
inline constexpr int ID_FILE_PRINT = 0xE107;
inline constexpr int ID_FILE_PRINT_PREVIEW = 0xE109;
// Recent files: ID_FILE_MRU_FILE1 + 0..3.
inline constexpr int ID_FILE_MRU_FILE1 = 0xE110;
inline constexpr int kRecentFileSlots = 4;
inline constexpr int ID_APP_EXIT = 0xE141;
inline constexpr int ID_HELP_FINDER = 0xE143;
inline constexpr int ID_APP_ABOUT = 0xE140;

// File: the program's own.
inline constexpr int ID_FILE_SAVE_ALL = 32771;
inline constexpr int ID_FILE_RESTORE_ALL = 32772;
inline constexpr int ID_FILE_LOCK = 32773;
inline constexpr int ID_FILE_UNLOCK = 32774;

// Connect: ID_CONNECT_MASTER_COMM1 + (n - 1) is "COMM &n" of "As Modbus
// &Master", likewise for the slave.
inline constexpr int ID_CONNECT_MASTER_COMM1 = 32793;
inline constexpr int ID_CONNECT_MASTER_TCP = 32802;
inline constexpr int ID_CONNECT_SLAVE_COMM1 = 32803;
inline constexpr int ID_CONNECT_SLAVE_TCP = 32792;
inline constexpr int ID_CONNECT_OPC_LOCAL = 32785;
inline constexpr int ID_CONNECT_OPC_REMOTE = 32786;

// Edit.
inline constexpr int ID_EDIT_TAGLIST = 32830;
inline constexpr int ID_EDIT_IMPORT_TAGS = 32831;
inline constexpr int ID_EDIT_EXPORT_TAGS = 32832;
inline constexpr int ID_EDIT_LOGIC_BLKS = 32833;
inline constexpr int ID_EDIT_IMPORT_LOGIC_BLK = 32834;
inline constexpr int ID_EDIT_EXPORT_LOGIC_BLK = 32835;
inline constexpr int ID_EDIT_FORM_PROPERTIES = 32836;
// "test": has no handler and stays disabled.
inline constexpr int ID_EDIT_TEST = 32837;

}  // namespace cmd
