#include "forms/FormTemplate.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMdiArea>
#include <QTimer>

#include <cstdio>
#include <filesystem>

#include "core/MainFrame.h"
#include "forms/PlexmarView.h"
#include "platform/archive.h"
#include "resources/CommandIds.h"

namespace {

bool IsOffscreen() { return QGuiApplication::platformName() == QLatin1String("offscreen"); }

std::string FullPath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

std::string FileTitle(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

CFormTemplate::CFormTemplate(std::function<CMainFrame*()> frame, std::function<void(const std::string&)> message)
    : m_frame(std::move(frame)), m_message(std::move(message)) {
  // Nobody can answer a dialog on the offscreen platform: a form is closed
  // without saving and no file is chosen.
  m_askSave = [](const QString& title) {
    if (IsOffscreen()) {
      std::fprintf(stderr, "Plexmar: %s closed without saving\n", title.toLocal8Bit().constData());
      return QMessageBox::No;
    }
    return QMessageBox::question(nullptr, QStringLiteral("Plexmar"), QStringLiteral("Save changes to %1?").arg(title),
                                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
  };
  m_askOpenPath = [] { return IsOffscreen() ? QString() : QFileDialog::getOpenFileName(nullptr, QStringLiteral("Open")); };
  m_askSavePath = [](const QString& suggested) {
    return IsOffscreen() ? QString() : QFileDialog::getSaveFileName(nullptr, QStringLiteral("Save As"), suggested);
  };
}

CFormTemplate::~CFormTemplate() {
  // Frames still open go now, while their documents exist.
  while (!m_docs.empty()) {
    CChildFrame* frame = m_docs.back()->frame;
    if (frame == nullptr) {
      m_docs.pop_back();
      continue;
    }
    delete frame;  // its destroyed hook drops the entry
  }
}

void CFormTemplate::Message(const std::string& text) const {
  if (m_message) m_message(text);
}

CFormTemplate::Entry* CFormTemplate::CreateDocumentFrame(const std::string& title) {
  CMainFrame* main = m_frame ? m_frame() : nullptr;
  if (main == nullptr) return nullptr;
  CFormDefaults defaults;
  defaults.logFont = main->Core().m_logFont;
  defaults.crForeground = main->Core().m_crForeground;
  defaults.crBackground = main->Core().m_crBackground;
  defaults.crExtra = main->Core().m_crExtra;
  auto entry = std::make_unique<Entry>();
  entry->doc = std::make_unique<CPlexmarDoc>(defaults);
  entry->doc->SetTitle(title);
  CChildFrame::Hooks hooks;
  hooks.canClose = [this](CChildFrame& frame) { return SaveModified(frame.GetDocument()); };
  hooks.destroyed = [this](CChildFrame& frame) { DestroyFrame(frame); };
  hooks.visibilityChanged = [this] {
    if (CMainFrame* f = m_frame ? m_frame() : nullptr) f->UpdateMenus();
  };
  entry->frame = new CChildFrame(*entry->doc, std::move(hooks));
  entry->frame->resize(400, 300);
  Entry* raw = entry.get();
  m_docs.push_back(std::move(entry));
  main->AddFormWindow(raw->frame);
  if (m_onDocumentCreated) m_onDocumentCreated(*raw->doc);
  return raw;
}

void CFormTemplate::DestroyFrame(CChildFrame& frame) {
  for (auto it = m_docs.begin(); it != m_docs.end(); ++it) {
    if ((*it)->frame != &frame) continue;
    if (m_onDocumentClosing) m_onDocumentClosing(*(*it)->doc);
    m_docs.erase(it);
    return;
  }
}

bool CFormTemplate::NewDocument() {
  // Untitled numbers only grow, as the framework's do.
  Entry* entry = CreateDocumentFrame("Plexform" + std::to_string(m_nUntitled + 1));
  if (entry == nullptr) return false;
  ++m_nUntitled;
  entry->doc->SetModifiedFlag(false);
  CChildFrame* frame = entry->frame;
  QTimer::singleShot(0, frame, [frame] { frame->TrackChanges(true); });
  return true;
}

bool CFormTemplate::OpenDocumentFile(const std::string& path) {
  const std::string full = FullPath(path);
  // A form that is open already is activated, not read twice.
  for (const auto& entry : m_docs)
    if (!entry->doc->GetPathName().empty() && entry->doc->GetPathName() == full) {
      entry->doc->ShowFormWindow();
      return true;
    }

  std::vector<uint8_t> bytes;
  try {
    bytes = CArchive::FromFile(full).Bytes();
  } catch (const CArchiveException& e) {
    std::fprintf(stderr, "Plexmar: %s: %s\n", full.c_str(), e.what());
    Message(kOpenFailedText);
    return false;
  }
  // The frame and view come first, as the form file places the frame.
  Entry* entry = CreateDocumentFrame(FileTitle(full));
  if (entry == nullptr) return false;
  std::string error;
  if (!entry->doc->LoadFromBytes(std::move(bytes), error)) {
    std::fprintf(stderr, "Plexmar: %s: %s\n", full.c_str(), error.c_str());
    delete entry->frame;  // drops the entry
    Message(kBadFormatText);
    return false;
  }
  entry->doc->SetPathName(full);
  entry->doc->SetModifiedFlag(false);
  AddRecent(full);
  CChildFrame* frame = entry->frame;
  QTimer::singleShot(0, frame, [frame] { frame->TrackChanges(true); });
  return true;
}

bool CFormTemplate::WriteDocument(CPlexmarDoc& doc, const std::string& path) {
  CArchive ar;
  doc.Serialize(ar);
  if (!ar.SaveToFile(path)) {
    Message(kSaveFailedText);
    return false;
  }
  doc.SetModifiedFlag(false);
  return true;
}

bool CFormTemplate::DoSaveAs(CPlexmarDoc& doc) {
  const QString suggested = QString::fromStdString(doc.GetPathName().empty() ? doc.GetTitle() : doc.GetPathName());
  const QString chosen = m_askSavePath ? m_askSavePath(suggested) : QString();
  if (chosen.isEmpty()) return false;
  const std::string full = FullPath(chosen.toStdString());
  if (!WriteDocument(doc, full)) return false;
  doc.SetPathName(full);
  doc.SetTitle(FileTitle(full));
  AddRecent(full);
  return true;
}

bool CFormTemplate::DoSave(CPlexmarDoc& doc) {
  if (doc.GetPathName().empty()) return DoSaveAs(doc);
  return WriteDocument(doc, doc.GetPathName());
}

bool CFormTemplate::SaveModified(CPlexmarDoc& doc) {
  if (!doc.IsModified()) return true;
  const QMessageBox::StandardButton answer =
      m_askSave ? m_askSave(QString::fromStdString(doc.GetTitle())) : QMessageBox::No;
  if (answer == QMessageBox::Cancel) return false;
  if (answer == QMessageBox::Yes) return DoSave(doc);
  return true;
}

bool CFormTemplate::CloseDocument(CPlexmarDoc& doc) {
  CChildFrame* frame = FrameOf(doc);
  if (frame == nullptr || !SaveModified(doc)) return false;
  // At once rather than through the frame's deferred delete, so that the
  // form is gone when the command returns.
  delete frame;
  return true;
}

bool CFormTemplate::SaveDocument(int index, std::string& path) {
  path.clear();
  CPlexmarDoc* doc = Document(index);
  if (doc == nullptr || !DoSave(*doc)) return false;
  path = doc->GetPathName();
  return true;
}

void CFormTemplate::CloseAllDocuments() {
  while (!m_docs.empty()) CloseDocument(*m_docs.front()->doc);
}

CPlexmarDoc* CFormTemplate::Document(int index) const {
  if (index < 0 || index >= static_cast<int>(m_docs.size())) return nullptr;
  return m_docs[static_cast<size_t>(index)]->doc.get();
}

std::vector<CPlexmarDoc*> CFormTemplate::Documents() const {
  std::vector<CPlexmarDoc*> docs;
  for (const auto& entry : m_docs) docs.push_back(entry->doc.get());
  return docs;
}

CPlexmarDoc* CFormTemplate::FindDocument(const std::string& name) const { return FindFormByTitle(Documents(), name); }

CChildFrame* CFormTemplate::FrameOf(const CPlexmarDoc& doc) const {
  for (const auto& entry : m_docs)
    if (entry->doc.get() == &doc) return entry->frame;
  return nullptr;
}

CPlexmarDoc* CFormTemplate::ActiveDocument() const {
  CMainFrame* main = m_frame ? m_frame() : nullptr;
  if (main == nullptr) return nullptr;
  auto* frame = qobject_cast<CChildFrame*>(main->MdiArea()->currentSubWindow());
  if (frame == nullptr || frame->isHidden()) return nullptr;
  return &frame->GetDocument();
}

void CFormTemplate::AddRecent(const std::string& path) {
  if (CMainFrame* main = m_frame ? m_frame() : nullptr) {
    main->RecentFiles().Add(QString::fromStdString(path));
    main->RecentFiles().WriteList();
  }
}

void CFormTemplate::InstallCommands(CMainFrame& frame) {
  frame.SetCommandHandler(cmd::ID_FILE_NEW, [this] { NewDocument(); });
  frame.SetCommandHandler(cmd::ID_FILE_OPEN, [this] {
    const QString path = m_askOpenPath ? m_askOpenPath() : QString();
    if (!path.isEmpty()) OpenDocumentFile(path.toStdString());
  });
  auto active = [this] { return ActiveDocument() != nullptr; };
  frame.SetCommandHandler(
      cmd::ID_FILE_SAVE, [this] { if (CPlexmarDoc* doc = ActiveDocument()) DoSave(*doc); }, active);
  frame.SetCommandHandler(
      cmd::ID_FILE_SAVE_AS, [this] { if (CPlexmarDoc* doc = ActiveDocument()) DoSaveAs(*doc); }, active);
  frame.SetCommandHandler(
      cmd::ID_FILE_CLOSE, [this] { if (CPlexmarDoc* doc = ActiveDocument()) CloseDocument(*doc); }, active);
  CMainFrame* main = &frame;
  for (int i = 0; i < cmd::kRecentFileSlots; ++i) {
    frame.SetCommandHandler(
        cmd::ID_FILE_MRU_FILE1 + i,
        [this, main, i] {
          const QStringList& files = main->RecentFiles().Files();
          if (i >= files.size()) return;
          const QString path = files[i];
          // An entry whose file no longer opens leaves the list, as the framework's does.
          if (!OpenDocumentFile(path.toStdString()) && !QFileInfo::exists(path)) {
            main->RecentFiles().Remove(i);
            main->RecentFiles().WriteList();
          }
        },
        [main, i] { return i < main->RecentFiles().Files().size(); });
  }
}
