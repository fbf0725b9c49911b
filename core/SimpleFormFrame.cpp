#include "core/SimpleFormFrame.h"

#include <QMdiSubWindow>
#include <QMessageBox>
#include <QWidget>

#include <cstdio>

#include "core/MainFrame.h"

bool CSimpleFormTemplate::NewDocument() {
  CMainFrame* frame = m_frame ? m_frame() : nullptr;
  if (frame == nullptr) return false;
  auto* window = new QMdiSubWindow;
  auto* view = new QWidget(window);
  view->setAutoFillBackground(true);
  window->setWidget(view);
  // Untitled numbers only grow, as the framework's do: a closed Plexform1
  // does not make the next one Plexform1 again.
  window->setWindowTitle(QStringLiteral("Plexform%1").arg(++m_nUntitled));
  window->resize(400, 300);
  frame->AddFormWindow(window);
  return true;
}

bool CSimpleFormTemplate::OpenDocumentFile(const std::string& path) {
  std::fprintf(stderr, "Plexmar: cannot open the form file %s: form files are not supported yet\n",
               path.c_str());
  return false;
}
