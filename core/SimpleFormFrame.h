// A plain form window and the template that makes them, titled Plexform1,
// Plexform2, ... as new documents are: enough to give the form window's menu
// a window to belong to until form documents have their own view and file.
#pragma once

#include <functional>
#include <string>

#include "core/AppFramework.h"

class CMainFrame;

class CSimpleFormTemplate : public IDocumentTemplate {
 public:
  // `frame` gives the main window once it exists (the template is made first).
  explicit CSimpleFormTemplate(std::function<CMainFrame*()> frame) : m_frame(std::move(frame)) {}

  bool NewDocument() override;
  // Form files cannot be read by this template; tells the operator and fails.
  bool OpenDocumentFile(const std::string& path) override;

  // The number the next untitled form gets.
  int NextUntitledNumber() const { return m_nUntitled + 1; }

 private:
  std::function<CMainFrame*()> m_frame;
  int m_nUntitled = 0;
};
