// The form window's own Edit menu command "Form &Properties", and what else
// the form view offers through the main window's menus.
#pragma once

class CMainFrame;
class CFormTemplate;

// "Form &Properties" and "&Logic Blks" act through the active form's view and
// are enabled while one is.
void InstallFormViewCommands(CMainFrame& frame, CFormTemplate& forms);
