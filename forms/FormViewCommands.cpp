#include "forms/FormViewCommands.h"

#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <memory>

#include "core/MainFrame.h"
#include "forms/FormPrinting.h"
#include "forms/FormTemplate.h"
#include "forms/PlexmarView.h"
#include "resources/CommandIds.h"

namespace {

CPlexmarView* ActiveView(CFormTemplate& forms) {
  CPlexmarDoc* doc = forms.ActiveDocument();
  return doc != nullptr ? dynamic_cast<CPlexmarView*>(doc->m_pView) : nullptr;
}

// The printer and page that "P&rint Setup..." chose, shared by every form.
QPrinter& SharedPrinter() {
  static QPrinter printer(QPrinter::HighResolution);
  return printer;
}

void PrintView(CPlexmarView& view, QPrinter& printer) {
  const QSize client(view.m_sizeClient.cx, view.m_sizeClient.cy);
  PrintForm(view.GetDocument(), client, printer);
  view.Invalidate(true);
}

}  // namespace

void InstallFormViewCommands(CMainFrame& frame, CFormTemplate& forms) {
  const auto active = [&forms] { return ActiveView(forms) != nullptr; };
  frame.SetCommandHandler(
      cmd::ID_EDIT_FORM_PROPERTIES,
      [&forms] {
        if (CPlexmarView* view = ActiveView(forms)) view->OnFormProperties();
      },
      active);
  // The logic block table, like the block CSV commands, belongs to the form
  // view: it is there while a form window is, locked or not.
  frame.SetCommandHandler(
      cmd::ID_EDIT_LOGIC_BLKS,
      [&forms] {
        if (CPlexmarView* view = ActiveView(forms)) view->OnLogicBlks();
      },
      active);

  CMainFrame* window = &frame;
  frame.SetCommandHandler(
      cmd::ID_FILE_PRINT,
      [&forms, window] {
        CPlexmarView* view = ActiveView(forms);
        if (view == nullptr) return;
        QPrintDialog dialog(&SharedPrinter(), window);
        if (dialog.exec() == QDialog::Accepted) PrintView(*view, SharedPrinter());
      },
      active);
  frame.SetCommandHandler(
      cmd::ID_FILE_PRINT_PREVIEW,
      [&forms, window] {
        CPlexmarView* view = ActiveView(forms);
        if (view == nullptr) return;
        QPrintPreviewDialog preview(&SharedPrinter(), window);
        QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                         [view](QPrinter* printer) { PrintView(*view, *printer); });
        preview.exec();
      },
      active);
  frame.SetCommandHandler(cmd::ID_FILE_PRINT_SETUP, [window] {
    QPageSetupDialog dialog(&SharedPrinter(), window);
    dialog.exec();
  });
}
