// The forms' MDI document template: new, open, save, save as and close of
// form documents, the recent-file list, and the save question on close.
//
// New forms are titled Plexform1, Plexform2, ... (the numbers only grow);
// an opened form takes its file's name as title. File dialogs have no filter
// and no default extension. A file that cannot be read leaves no window and
// changes nothing else; the operator is told with the framework's message.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/AppFramework.h"
#include "forms/PlexmarDoc.h"

class CMainFrame;
class CChildFrame;
class CFormAutomation;

class CFormTemplate : public IDocumentTemplate {
 public:
  // The framework's messages.
  static constexpr const char* kOpenFailedText = "Failed to open document.";
  static constexpr const char* kBadFormatText = "Unexpected file format.";
  static constexpr const char* kSaveFailedText = "Failed to save document.";

  // `frame` gives the main window once it exists (the template is made
  // first); `message` shows the framework's error messages.
  CFormTemplate(std::function<CMainFrame*()> frame, std::function<void(const std::string&)> message);
  ~CFormTemplate() override;

  // --- IDocumentTemplate -------------------------------------------------------
  bool NewDocument() override;
  bool OpenDocumentFile(const std::string& path) override;
  int DocumentCount() const override { return static_cast<int>(m_docs.size()); }
  bool SaveDocument(int index, std::string& path) override;
  void CloseAllDocuments() override;

  // The File menu's form commands on the main window.
  void InstallCommands(CMainFrame& frame);

  // --- documents ---------------------------------------------------------------
  CPlexmarDoc* Document(int index) const;
  std::vector<CPlexmarDoc*> Documents() const;
  // The form whose title is `name`, ignoring case.
  CPlexmarDoc* FindDocument(const std::string& name) const;
  // The active form, or null.
  CPlexmarDoc* ActiveDocument() const;
  CChildFrame* FrameOf(const CPlexmarDoc& doc) const;

  // The framework's document commands on one form. Save of an untitled form
  // is Save As. Each returns false when cancelled or failed.
  bool DoSave(CPlexmarDoc& doc);
  bool DoSaveAs(CPlexmarDoc& doc);
  // Asks to save a modified form; false when the operator cancelled.
  bool SaveModified(CPlexmarDoc& doc);
  // Closes a form through its frame (asking as above); false when it stays.
  bool CloseDocument(CPlexmarDoc& doc);

  // --- what the operator is asked (tests answer in place of dialogs) ---------
  // "Save changes to <title>?": Yes, No or Cancel.
  std::function<QMessageBox::StandardButton(const QString& title)> m_askSave;
  // A file to open or to save as (empty: cancelled).
  std::function<QString()> m_askOpenPath;
  std::function<QString(const QString& suggested)> m_askSavePath;

  // The next untitled number.
  int NextUntitledNumber() const { return m_nUntitled + 1; }
  // Called for every document made and before every document goes.
  std::function<void(CPlexmarDoc&)> m_onDocumentCreated;
  std::function<void(CPlexmarDoc&)> m_onDocumentClosing;

 private:
  struct Entry {
    std::unique_ptr<CPlexmarDoc> doc;
    CChildFrame* frame = nullptr;
  };
  // A new document with its frame and view, placed in the MDI area.
  Entry* CreateDocumentFrame(const std::string& title);
  void DestroyFrame(CChildFrame& frame);
  void AddRecent(const std::string& path);
  void Message(const std::string& text) const;
  bool WriteDocument(CPlexmarDoc& doc, const std::string& path);

  std::function<CMainFrame*()> m_frame;
  std::function<void(const std::string&)> m_message;
  std::vector<std::unique_ptr<Entry>> m_docs;
  int m_nUntitled = 0;
};
