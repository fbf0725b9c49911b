// The form window's own Edit menu command "Form &Properties", and what else
// the form view offers through the main window's menus.
#pragma once

class CMainFrame;
class CFormTemplate;

// "Form &Properties" acts on the active form and is enabled while one is.
void InstallFormViewCommands(CMainFrame& frame, CFormTemplate& forms);
