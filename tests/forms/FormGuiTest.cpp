// Forms on Qt's offscreen platform: each item kind rendered into an image
// without a window, with the pixels that GDI's rules fix; the view's erase,
// paint and timer; and the template's New, Save, Open and Close.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QMdiArea>
#include <QPainter>
#include <QTest>
#include <QThread>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/ExchangeTag.h"
#include "core/MainFrame.h"
#include "core/ValueConversion.h"
#include "core/PlexmarApp.h"
#include "core/QtFramework.h"
#include "forms/FormCanvas.h"
#include "forms/FormTemplate.h"
#include "forms/MMI_Items.h"
#include "forms/MMI_TrendItem.h"
#include "forms/PainterDC.h"
#include "forms/PlexmarView.h"
#include "logic/LogicBlock.h"
#include "logic/LogicEntry.h"
#include "platform/archive.h"
#include "resources/CommandIds.h"

namespace fs = std::filesystem;

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "forms_gui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* a = new QApplication(argc, argv);
    InstallQtFormBitmapLoader();
    return a;
  }();
  return *app;
}

template <typename Pred>
bool SpinUntil(Pred done, int ms = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

QString ShotDir() {
  const char* dir = std::getenv("PLEXMAR_SCREENSHOT_DIR");
  return dir != nullptr ? QString::fromUtf8(dir) : QStringLiteral("/tmp");
}

constexpr COLORREF kGrey = 0xC0C0C0;
const QColor kGreyQ(0xC0, 0xC0, 0xC0);

QColor At(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

// A form of one size with `items`, rendered as the view's first paint does.
class Rendered {
 public:
  explicit Rendered(QSize size = QSize(200, 150)) { m_canvas.Resize(size); }
  template <class T>
  T& Add(CRect rect) {
    auto item = std::make_unique<T>();
    item->m_rect = rect;
    T& ref = *item;
    doc.m_items.push_back(std::move(item));
    return ref;
  }
  const QImage& Paint() {
    draws = m_canvas.Update(doc);
    return m_canvas.Image();
  }
  void Save(const char* name) { m_canvas.Image().save(ShotDir() + "/" + name); }
  CFormCanvas& Canvas() { return m_canvas; }

  CPlexmarDoc doc;
  int draws = 0;

 private:
  CFormCanvas m_canvas;
};

class FormGui : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
  CExchangeTag& AddTag(const std::string& name, const VARIANT& value) {
    auto tag = std::make_unique<CExchangeTag>(name);
    tag->m_value = value;
    CExchangeTag& ref = *tag;
    app.m_tags.push_back(std::move(tag));
    return ref;
  }
  CPlexmarApp app;
};

TEST_F(FormGui, RectangleEllipseAndTheErasedBackground) {
  Rendered form;
  auto& rect = form.Add<CMMI_RectItem>({10, 10, 30, 30});
  rect.m_bTransparent = 0;
  rect.m_crFill = 0x0000FF;  // red
  auto& thick = form.Add<CMMI_RectItem>({50, 10, 90, 50});
  thick.m_nLineWidth = 4;
  thick.m_crLine = 0xFF0000;  // blue
  auto& ellipse = form.Add<CMMI_EllipseItem>({110, 10, 170, 60});
  ellipse.m_bTransparent = 0;
  ellipse.m_crFill = 0x00FF00;
  const QImage& image = form.Paint();
  EXPECT_EQ(form.draws, 3);
  // The erase's null-pen fill with its +1 covers the last row and column.
  EXPECT_EQ(At(image, 199, 149), kGreyQ);
  EXPECT_EQ(At(image, 0, 0), kGreyQ);
  // A 1-pixel pen covers right - 1 and bottom - 1, not right and bottom.
  EXPECT_EQ(At(image, 10, 10), QColor(Qt::black));
  EXPECT_EQ(At(image, 29, 29), QColor(Qt::black));
  EXPECT_EQ(At(image, 29, 20), QColor(Qt::black));
  EXPECT_EQ(At(image, 30, 30), kGreyQ);
  EXPECT_EQ(At(image, 30, 20), kGreyQ);
  EXPECT_EQ(At(image, 20, 20), QColor(Qt::red));
  EXPECT_EQ(At(image, 11, 11), QColor(Qt::red));
  // A 4-pixel pen centred on that frame: one pixel out, two in.
  EXPECT_EQ(At(image, 49, 30), QColor(Qt::blue));
  EXPECT_EQ(At(image, 52, 30), QColor(Qt::blue));
  EXPECT_EQ(At(image, 53, 30), kGreyQ) << "a transparent rectangle shows the form";
  EXPECT_EQ(At(image, 48, 30), kGreyQ);
  EXPECT_EQ(At(image, 90, 30), QColor(Qt::blue));
  EXPECT_EQ(At(image, 91, 30), kGreyQ);
  // The ellipse: filled at the centre, the corners of its box untouched.
  EXPECT_EQ(At(image, 140, 35), QColor(Qt::green));
  EXPECT_EQ(At(image, 111, 11), kGreyQ);
  EXPECT_EQ(At(image, 110, 35), QColor(Qt::black));
  form.Save("form-item-rectangle-ellipse.png");

  // A second paint with nothing dirty draws nothing and changes nothing.
  const QImage before = image.copy();
  form.Paint();
  EXPECT_EQ(form.draws, 0);
  EXPECT_EQ(form.Canvas().Image(), before);
}

TEST_F(FormGui, TextsOpaqueAndTransparentAtTheirTopLeft) {
  Rendered form;
  auto& under = form.Add<CMMI_RectItem>({0, 0, 200, 40});
  under.m_bTransparent = 0;
  under.m_crFill = 0x00FFFF;  // yellow
  auto& clear = form.Add<CMMI_TxtItem>({5, 5, 100, 25});
  clear.m_strText = "Boiler";
  auto& solid = form.Add<CMMI_TxtItem>({5, 60, 6, 61});
  solid.m_strText = "Feed Pump";
  solid.m_bTransparent = 0;
  solid.m_crBack = 0xFFFF00;  // cyan
  solid.m_crText = 0x0000FF;
  QImage scratch(10, 10, QImage::Format_RGB32);
  QPainter measure(&scratch);
  CPainterDC dc(measure);
  solid.FitToText(dc);
  measure.end();
  const QImage& image = form.Paint();

  // The transparent text paints the form's grey over its own rectangle,
  // not the yellow beneath, and its glyphs in black.
  // Its fill has the null pen, which leaves out the last column and row.
  EXPECT_EQ(At(image, 98, 23), kGreyQ);
  EXPECT_EQ(At(image, 99, 24), QColor(Qt::yellow));
  EXPECT_EQ(At(image, 150, 20), QColor(Qt::yellow));
  auto dark = [&](int x, int y) { return At(image, x, y).value() < 100; };
  int black = 0;
  for (int y = 5; y < 25; ++y)
    for (int x = 5; x < 100; ++x) black += dark(x, y);
  EXPECT_GT(black, 10);
  // TextOut puts the text's cell at the top-left: nothing above it.
  for (int x = 5; x < 195; ++x) EXPECT_FALSE(dark(x, 4)) << x;

  // The opaque text: its extent in cyan (the item's fill shares the same
  // rectangle after FitToText), red glyphs, and not one pixel outside.
  const CRect r = solid.m_rect;
  EXPECT_EQ(At(image, r.left, r.top), QColor(Qt::cyan));
  EXPECT_EQ(At(image, r.right - 1, r.bottom - 1), QColor(Qt::cyan));
  EXPECT_EQ(At(image, r.right, r.top), kGreyQ);
  int red = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      const QColor c = At(image, x, y);
      red += c.red() > 150 && c.green() < 100 && c.blue() < 100;
    }
  EXPECT_GT(red, 10);
  form.Save("form-item-static-text.png");
}

TEST_F(FormGui, BitmapStretchedAndTheHatchedPlaceholder) {
  const QString path = ShotDir() + "/forms-gui-test-4.bmp";
  QImage four(2, 2, QImage::Format_RGB32);
  four.setPixelColor(0, 0, Qt::red);
  four.setPixelColor(1, 0, Qt::green);
  four.setPixelColor(0, 1, Qt::blue);
  four.setPixelColor(1, 1, Qt::white);
  ASSERT_TRUE(four.save(path, "BMP"));

  Rendered form;
  auto& bmp = form.Add<CMMI_BmpItem>({10, 10, 50, 50});
  bmp.m_strPath = path.toStdString();
  bmp.LoadBitmap();
  ASSERT_NE(bmp.m_hBitmap, nullptr);
  EXPECT_EQ(bmp.m_hBitmap->Size(), (CSize{2, 2}));
  auto& missing = form.Add<CMMI_BmpItem>({100, 10, 180, 90});
  missing.m_strPath = "/no/such/picture.bmp";
  missing.LoadBitmap();
  const QImage& image = form.Paint();
  // Each source pixel covers a 20 x 20 quarter, with no smoothing.
  EXPECT_EQ(At(image, 10, 10), QColor(Qt::red));
  EXPECT_EQ(At(image, 29, 29), QColor(Qt::red));
  EXPECT_EQ(At(image, 30, 10), QColor(Qt::green));
  EXPECT_EQ(At(image, 10, 49), QColor(Qt::blue));
  EXPECT_EQ(At(image, 49, 49), QColor(Qt::white));
  EXPECT_EQ(At(image, 50, 50), kGreyQ);

  // The placeholder: a black frame, white gaps (the default opaque
  // background) and black hatch lines running from upper left to lower right.
  EXPECT_EQ(At(image, 100, 50), QColor(Qt::black));
  EXPECT_EQ(At(image, 179, 50), QColor(Qt::black));
  int black = 0;
  int white = 0;
  int alongDown = 0;
  int alongUp = 0;
  for (int y = 12; y < 88; ++y)
    for (int x = 102; x < 178; ++x) {
      const bool b = At(image, x, y) == QColor(Qt::black);
      black += b;
      white += At(image, x, y) == QColor(Qt::white);
      if (b) {
        alongDown += At(image, x + 1, y + 1) == QColor(Qt::black);
        alongUp += At(image, x + 1, y - 1) == QColor(Qt::black);
      }
    }
  EXPECT_GT(black, 300);
  EXPECT_GT(white, 3000);
  EXPECT_GT(alongDown, alongUp * 4) << "the hatch runs from upper left to lower right";
  form.Save("form-item-bitmap.png");
  QFile::remove(path);
}

TEST_F(FormGui, DataValueBarGraphAndHotText) {
  AddTag("Level", MakeVariantR8(25.0));
  Rendered form;
  auto& value = form.Add<CMMI_TagItem>({10, 10, 11, 11});
  value.m_strTag = "Level";
  value.m_bTransparent = 0;
  value.m_crBack = 0xFFFFFF;
  auto& invalid = form.Add<CMMI_TagItem>({10, 40, 11, 41});
  invalid.m_strTag = "NoSuchTag";
  auto& bar = form.Add<CMMI_BarItem>({120, 20, 140, 60});  // 40 high
  bar.m_strTag = "Level";
  bar.m_fHigh = 100.0f;
  bar.m_crText = 0x0000FF;
  bar.m_crBack = 0xFFFFFF;
  auto& empty = form.Add<CMMI_BarItem>({150, 20, 170, 60});
  empty.m_strTag = "NoSuchTag";
  empty.m_fHigh = 100.0f;
  empty.m_crText = 0x0000FF;
  empty.m_crBack = 0xFFFFFF;
  auto& hot = form.Add<CMMI_HotTxtItem>({10, 90, 11, 91});
  hot.m_strText = "Start";
  hot.m_nBorderWidth = 3;
  hot.m_crBorder = 0x008000;
  hot.m_crBack = 0xFFFF00;
  QImage scratch(10, 10, QImage::Format_RGB32);
  {
    QPainter measure(&scratch);
    CPainterDC dc(measure);
    hot.FitToText(dc);
  }
  const QImage& image = form.Paint();
  EXPECT_EQ(value.m_strShown, GetValueString(*app.FindTag("Level"), VT_EMPTY));
  EXPECT_GT(value.m_rect.Width(), 10) << "sized to its text";
  EXPECT_EQ(invalid.m_strShown, "Invalid Tag Name");

  // 25 of 0..100 on a 40-pixel bar: the lowest 10 rows are red. The bars
  // are drawn with the null pen, which leaves their last column and row.
  EXPECT_EQ(At(image, 125, 58), QColor(Qt::red));
  EXPECT_EQ(At(image, 125, 50), QColor(Qt::red));
  // The empty part above the split leaves its own last row to the form.
  EXPECT_EQ(At(image, 125, 49), kGreyQ);
  EXPECT_EQ(At(image, 125, 48), QColor(Qt::white));
  EXPECT_EQ(At(image, 125, 20), QColor(Qt::white));
  EXPECT_EQ(At(image, 139, 30), kGreyQ);
  EXPECT_EQ(At(image, 155, 58), QColor(Qt::white)) << "no tag: the value 0.0, an empty bar";

  // The hot text: a 3-pixel border in its colour, the face inside it.
  const CRect h = hot.m_rect;
  EXPECT_EQ(At(image, h.left, h.top + 5), QColor(0, 0x80, 0));
  EXPECT_EQ(At(image, h.left + 1, h.top + 5), QColor(0, 0x80, 0));
  EXPECT_EQ(At(image, h.left + 2, h.top + 5), QColor(Qt::cyan));
  EXPECT_EQ(At(image, h.right - 1, h.bottom - 1), QColor(0, 0x80, 0));
  form.Save("form-item-data-value-bar-hot-text.png");

  // A value that becomes shorter leaves nothing of the longer text.
  Rendered changing;
  CExchangeTag& flow = AddTag("Flow", MakeVariantI4(88888888));
  auto& shown = changing.Add<CMMI_TagItem>({10, 10, 11, 11});
  shown.m_strTag = "Flow";
  changing.Paint();
  const CRect wide = shown.m_rect;
  flow.m_value = MakeVariantI4(1);
  shown.OnRefresh(1000);
  ASSERT_EQ(shown.m_bDirty, 1);
  const QImage& after = changing.Paint();
  EXPECT_EQ(changing.draws, 1);
  for (int y = wide.top; y < wide.bottom - 1; ++y)
    for (int x = shown.m_rect.right + 1; x < wide.right - 1; ++x)
      ASSERT_EQ(At(after, x, y), kGreyQ) << x << "," << y;
}

TEST_F(FormGui, TrendChartWithGridScaleAndTwoPens) {
  AddTag("A", MakeVariantR8(0.0));
  Rendered form(QSize(320, 200));
  auto& trend = form.Add<CMMI_TrendItem>({10, 20, 260, 170});
  trend.m_bShowGrid = 1;
  trend.m_bShowBorder = 1;
  trend.m_bShowScale = 1;
  trend.m_crBack = 0xFFFFFF;
  trend.m_crBorder = 0x808080;
  trend.m_nMaxPoints = 50;
  trend.m_pens[0].m_bEnabled = 1;
  trend.m_pens[0].m_strTag = "A";
  trend.m_pens[0].m_nWidth = 2;
  trend.m_pens[1].m_bEnabled = 1;
  trend.m_pens[1].m_strTag = "A";
  trend.m_pens[1].m_crPen = 0xFF0000;
  trend.m_pens[1].m_fHigh = 200.0f;
  for (int i = 0; i < 50; ++i) {
    app.FindTag("A")->m_value = MakeVariantR8(50.0 + 40.0 * std::sin(i / 5.0));
    trend.m_nCountdown = 0;
    trend.OnRefresh(1000);
  }
  const QImage& image = form.Paint();
  EXPECT_EQ(At(image, 100, 100).value() > 0, true);
  // Grid: the first vertical line at left + width / 5.
  EXPECT_EQ(At(image, 60, 30), QColor(0x80, 0x80, 0x80));
  // The first sample of pen 1 (value 50 on 0..100) at mid-height, in red.
  int red = 0;
  int blue = 0;
  for (int y = 20; y < 170; ++y)
    for (int x = 10; x < 20; ++x) {
      red += At(image, x, y) == QColor(Qt::red);
      blue += At(image, x, y) == QColor(Qt::blue);
    }
  EXPECT_GT(red, 0);
  EXPECT_GT(blue, 0);
  // 50 of 0..100 on 150 pixels is 75 above the bottom: the line starts at
  // (left, 95).
  int start = 0;
  for (int y = 93; y <= 97; ++y) start += At(image, 10, y) == QColor(Qt::red);
  EXPECT_GT(start, 0);
  for (int y = 21; y < 90; ++y) EXPECT_NE(At(image, 10, y), QColor(Qt::red)) << y;
  form.Save("form-item-trend-chart.png");
}

// A form with every kind of item, as an operator would see it.
TEST_F(FormGui, WholeFormScreenshot) {
  AddTag("Boiler.Temp", MakeVariantR8(71.5));
  AddTag("Tank.Level", MakeVariantR8(62.0));
  Rendered form(QSize(560, 330));
  auto& panel = form.Add<CMMI_RectItem>({10, 10, 290, 320});
  panel.m_bTransparent = 0;
  panel.m_crFill = 0xE0E0E0;
  panel.m_nLineWidth = 2;
  auto& title = form.Add<CMMI_TxtItem>({20, 18, 21, 19});
  title.m_strText = "Boiler House";
  title.m_bDefaultFont = 0;
  title.m_logFont.lfHeight = -18;
  title.m_logFont.lfWeight = 700;
  title.CreateItemFont();
  title.m_bTransparent = 0;
  title.m_crBack = 0xE0E0E0;
  auto& label = form.Add<CMMI_TxtItem>({20, 60, 21, 61});
  label.m_strText = "Temperature:";
  label.m_bTransparent = 0;
  label.m_crBack = 0xE0E0E0;
  auto& temp = form.Add<CMMI_TagItem>({140, 60, 141, 61});
  temp.m_strTag = "Boiler.Temp";
  temp.m_bTransparent = 0;
  temp.m_crText = 0x000080;
  auto& wrong = form.Add<CMMI_TagItem>({140, 85, 141, 86});
  wrong.m_strTag = "Boiler.Pressure";
  auto& bar = form.Add<CMMI_BarItem>({40, 120, 70, 280});
  bar.m_strTag = "Tank.Level";
  bar.m_fHigh = 100.0f;
  bar.m_crText = 0xFF8000;
  bar.m_crBack = 0xFFFFFF;
  bar.m_bShowScale = 1;
  bar.m_bShowBorder = 1;
  bar.m_nBorderWidth = 1;
  bar.m_crBorder = 0x000000;
  auto& ellipse = form.Add<CMMI_EllipseItem>({150, 130, 230, 190});
  ellipse.m_bTransparent = 0;
  ellipse.m_crFill = 0x00C000;
  ellipse.m_nLineWidth = 2;
  auto& bmp = form.Add<CMMI_BmpItem>({150, 210, 230, 270});
  bmp.m_strPath = "/no/such/pump.bmp";
  auto& hot = form.Add<CMMI_HotTxtItem>({150, 285, 151, 286});
  hot.m_strText = "Start Pump";
  hot.m_nBorderWidth = 2;
  hot.m_crBack = 0xC0FFC0;
  QImage scratch(10, 10, QImage::Format_RGB32);
  {
    QPainter measure(&scratch);
    CPainterDC dc(measure);
    title.FitToText(dc);
    label.FitToText(dc);
    hot.FitToText(dc);
  }
  auto& trend = form.Add<CMMI_TrendItem>({310, 20, 500, 200});
  trend.m_bShowGrid = trend.m_bShowBorder = trend.m_bShowScale = 1;
  trend.m_crBack = 0x202020;
  trend.m_crBorder = 0x00C000;
  trend.m_pens[0].m_bEnabled = 1;
  trend.m_pens[0].m_strTag = "Boiler.Temp";
  trend.m_pens[0].m_crPen = 0x00FFFF;
  trend.m_pens[1].m_bEnabled = 1;
  trend.m_pens[1].m_strTag = "Tank.Level";
  trend.m_pens[1].m_crPen = 0xFF8080;
  for (int i = 0; i < 80; ++i) {
    app.FindTag("Boiler.Temp")->m_value = MakeVariantR8(60.0 + 20.0 * std::sin(i / 8.0));
    app.FindTag("Tank.Level")->m_value = MakeVariantR8(30.0 + i * 0.4);
    trend.m_nCountdown = 0;
    trend.OnRefresh(1000);
  }
  form.Paint();
  EXPECT_EQ(form.draws, 10);
  form.Save("form-whole.png");
}

// --- the view in its frame, through the template ---------------------------------

class FormWindows : public FormGui {
 protected:
  void SetUp() override {
    FormGui::SetUp();
    char pattern[] = "/tmp/plexmar-forms-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    frame = std::make_unique<CMainFrame>(app);
    frame->resize(800, 600);
    frame->show();
    forms = std::make_unique<CFormTemplate>([this] { return frame.get(); },
                                            [this](const std::string& text) { messages.push_back(text); });
    forms->InstallCommands(*frame);
    forms->m_askSave = [this](const QString&) {
      ++asked;
      return answer;
    };
    forms->m_askSavePath = [this](const QString&) { return savePath; };
  }
  void TearDown() override {
    forms->m_askSave = [](const QString&) { return QMessageBox::No; };
    forms.reset();
    frame.reset();
    fs::remove_all(folder);
  }

  fs::path folder;
  std::unique_ptr<CMainFrame> frame;
  std::unique_ptr<CFormTemplate> forms;
  std::vector<std::string> messages;
  int asked = 0;
  QMessageBox::StandardButton answer = QMessageBox::No;
  QString savePath;
};

TEST_F(FormWindows, NewSaveOpenAndTheSaveQuestion) {
  ASSERT_TRUE(frame->RunCommand(cmd::ID_FILE_NEW));
  ASSERT_TRUE(frame->RunCommand(cmd::ID_FILE_NEW));
  ASSERT_EQ(forms->DocumentCount(), 2);
  EXPECT_EQ(forms->Document(0)->GetTitle(), "Plexform1");
  EXPECT_EQ(forms->Document(1)->GetTitle(), "Plexform2");
  EXPECT_EQ(frame->CurrentMenuId(), cmd::IDR_PLEXFORM);
  EXPECT_TRUE(frame->IsCommandEnabled(cmd::ID_FILE_SAVE));

  // Save As of an untitled form: its file is the 108-byte empty form with the
  // frame's placement, and the title becomes the file's name.
  CPlexmarDoc* first = forms->Document(0);
  CChildFrame* firstFrame = forms->FrameOf(*first);
  firstFrame->setGeometry(30, 40, 300, 200);
  savePath = QString::fromStdString((folder / "Boiler").string());
  std::string path;
  ASSERT_TRUE(forms->SaveDocument(0, path));
  EXPECT_EQ(path, (folder / "Boiler").string());
  EXPECT_EQ(first->GetTitle(), "Boiler");
  EXPECT_EQ(firstFrame->windowTitle(), "Boiler");
  const std::vector<uint8_t> empty = CArchive::FromFile(path).Bytes();
  ASSERT_EQ(empty.size(), 108u);
  CPlexmarDoc check;
  std::string error;
  ASSERT_TRUE(check.LoadFromBytes(empty, error));
  EXPECT_EQ(check.Placement().rect, (CRect{30, 40, 330, 240}));

  // Closing a modified form asks; Cancel keeps it, No lets it go unsaved.
  CPlexmarDoc* second = forms->Document(1);
  second->SetModifiedFlag(true);
  answer = QMessageBox::Cancel;
  EXPECT_FALSE(forms->CloseDocument(*second));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(forms->DocumentCount(), 2);
  answer = QMessageBox::No;
  EXPECT_TRUE(forms->CloseDocument(*second));
  EXPECT_EQ(forms->DocumentCount(), 1);

  // A form with items, saved and opened again: the same bytes, a view with
  // its timer at the file's rate, the frame where the file puts it.
  auto text = std::make_unique<CMMI_TxtItem>();
  text->m_nType = kItemText;
  text->m_rect = {5, 5, 60, 20};
  text->m_strText = "Hello";
  first->m_items.push_back(std::move(text));
  first->m_nRefreshRate = 200;
  first->SetModifiedFlag(true);
  ASSERT_TRUE(frame->RunCommand(cmd::ID_FILE_SAVE));
  EXPECT_FALSE(first->IsModified());
  const std::vector<uint8_t> saved = CArchive::FromFile(path).Bytes();
  ASSERT_TRUE(forms->CloseDocument(*first));
  ASSERT_EQ(forms->DocumentCount(), 0);
  EXPECT_EQ(frame->RecentFiles().Files().value(0).toStdString(), path);

  ASSERT_TRUE(frame->RunCommand(cmd::ID_FILE_MRU_FILE1));
  ASSERT_EQ(forms->DocumentCount(), 1);
  CPlexmarDoc* again = forms->Document(0);
  EXPECT_EQ(again->GetTitle(), "Boiler");
  SpinUntil([] { return false; }, 200);
  EXPECT_FALSE(again->IsModified()) << "placing the frame from the file is no change";
  ASSERT_EQ(again->m_items.size(), 1u);
  EXPECT_EQ(again->SaveToBytes(), saved);
  EXPECT_EQ(forms->FrameOf(*again)->geometry(), QRect(30, 40, 300, 200));
  EXPECT_EQ(again->m_nRefreshRate, 200);
  // Opening it again only activates it.
  EXPECT_TRUE(forms->OpenDocumentFile(path));
  EXPECT_EQ(forms->DocumentCount(), 1);

  // Found by title ignoring case, hidden and shown.
  ASSERT_EQ(forms->FindDocument("BOILER"), again);
  EXPECT_EQ(again->HideFormWindow(), 1);
  EXPECT_TRUE(forms->FrameOf(*again)->isHidden());
  EXPECT_EQ(frame->CurrentMenuId(), cmd::IDR_MAINFRAME);
  EXPECT_EQ(again->ShowFormWindow(), 1);
  EXPECT_FALSE(forms->FrameOf(*again)->isHidden());
  EXPECT_EQ(frame->CurrentMenuId(), cmd::IDR_PLEXFORM);
  EXPECT_TRUE(messages.empty());
  // The operator moving the frame is.
  forms->FrameOf(*again)->move(50, 60);
  EXPECT_TRUE(again->IsModified());
}

TEST_F(FormWindows, DamagedFileOpensNothingAndChangesNothing) {
  ASSERT_TRUE(forms->NewDocument());
  CPlexmarDoc* open = forms->Document(0);
  auto rect = std::make_unique<CMMI_RectItem>();
  rect->m_nType = kItemRect;
  open->m_items.push_back(std::move(rect));
  const std::vector<uint8_t> before = open->SaveToBytes();

  CPlexmarDoc full;
  auto text = std::make_unique<CMMI_TxtItem>();
  text->m_nType = kItemText;
  full.m_items.push_back(std::move(text));
  std::vector<uint8_t> bytes = full.SaveToBytes();
  bytes.resize(bytes.size() - 7);
  const fs::path damaged = folder / "damaged";
  {
    CArchive ar(bytes);
    ASSERT_TRUE(ar.SaveToFile(damaged));
  }
  EXPECT_FALSE(forms->OpenDocumentFile(damaged.string()));
  EXPECT_EQ(forms->DocumentCount(), 1) << "no window is left of the failed open";
  EXPECT_EQ(messages, std::vector<std::string>{CFormTemplate::kBadFormatText});
  EXPECT_EQ(CArchive::FromFile(damaged).Bytes(), bytes) << "the file is not changed";
  EXPECT_EQ(open->SaveToBytes(), before) << "the other form is untouched";

  EXPECT_FALSE(forms->OpenDocumentFile((folder / "missing").string()));
  EXPECT_EQ(messages.back(), CFormTemplate::kOpenFailedText);
  EXPECT_EQ(forms->DocumentCount(), 1);
}

TEST_F(FormWindows, TimerRefreshesAndRepaintsOnlyWhatChanged) {
  CExchangeTag& flow = AddTag("Flow", MakeVariantI4(10));
  ASSERT_TRUE(forms->NewDocument());
  CPlexmarDoc* doc = forms->Document(0);
  for (int i = 0; i < 20; ++i) {
    auto value = std::make_unique<CMMI_TagItem>();
    value->m_nType = kItemTag;
    value->m_rect = {10, 10 + 14 * i, 11, 11 + 14 * i};
    value->m_strTag = i == 7 ? "Flow" : "Nobody";
    doc->m_items.push_back(std::move(value));
  }
  doc->m_nRefreshRate = 20;
  CPlexmarView* view = forms->FrameOf(*doc)->View();
  view->RestartTimer();
  view->Invalidate(true);
  ASSERT_TRUE(SpinUntil([&] { return view->TotalPaintDraws() >= 20; }));
  // Idle ticks: painted, but nothing drawn.
  const long drawn = view->TotalPaintDraws();
  QThread::msleep(100);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(view->TotalPaintDraws(), drawn);
  // One changed value: one item drawn on the next tick.
  flow.m_value = MakeVariantI4(11);
  ASSERT_TRUE(SpinUntil([&] { return view->TotalPaintDraws() > drawn; }));
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(view->TotalPaintDraws(), drawn + 1);
  EXPECT_EQ(static_cast<CMMI_TagItem*>(doc->m_items[7].get())->m_strShown, GetValueString(flow, VT_EMPTY));
  forms->FrameOf(*doc)->grab().save(ShotDir() + "/form-view.png");
}

}  // namespace

namespace {

TEST_F(FormGui, LogFontToQFont) {
  LOGFONT f{};
  f.lfHeight = -20;
  f.lfWeight = 700;
  f.lfItalic = 1;
  f.lfUnderline = 1;
  f.lfStrikeOut = 1;
  std::strcpy(f.lfFaceName, "Courier");
  const QFont font = FontFromLogFont(f);
  EXPECT_EQ(font.pixelSize(), 20) << "a negative height is the character height in pixels";
  EXPECT_EQ(font.weight(), QFont::Bold);
  EXPECT_TRUE(font.italic());
  EXPECT_TRUE(font.underline());
  EXPECT_TRUE(font.strikeOut());
  EXPECT_TRUE(QFontInfo(font).fixedPitch()) << "Courier resolves to a monospace font: " << QFontInfo(font).family().toStdString();
  const QFontMetrics metrics(font);
  EXPECT_EQ(metrics.horizontalAdvance("iiii"), metrics.horizontalAdvance("MMMM"));

  f.lfHeight = 0;
  f.lfWeight = 0;
  f.lfItalic = f.lfUnderline = f.lfStrikeOut = 0;
  std::strcpy(f.lfFaceName, "");
  f.lfPitchAndFamily = 0x22;  // variable pitch, swiss
  const QFont plain = FontFromLogFont(f);
  EXPECT_EQ(plain.family(), SystemFormFont().family()) << "no face: the system font's";
  EXPECT_EQ(plain.weight(), SystemFormFont().weight());
  EXPECT_FALSE(plain.italic());
}

// The application's ShowForm and HideForm: a form found by title in any
// letter case, or opened from the program's folder under its name as it
// stands; after a title change only the new title finds the open form. A hot
// text's block opens it the same way.
TEST_F(FormGui, ShowFormFindsOrOpensFromTheProgramsFolder) {
  char pattern[] = "/tmp/plexmar-showform-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  setenv("HOME", pattern, 1);
  setenv("XDG_CONFIG_HOME", (std::string(pattern) + "/config").c_str(), 1);
  int argc = 1;
  char name[] = "forms_gui_test";
  char* argv[] = {name, nullptr};
  CQtFramework framework(argc, argv, app);
  ASSERT_TRUE(framework.InitOle());
  ASSERT_NE(framework.CreateDocumentTemplate(), nullptr);
  ASSERT_TRUE(framework.CreateMainWindow());
  framework.FormTemplate()->m_askSave = [](const QString&) { return QMessageBox::No; };

  const std::string formName = "Showform-" + std::to_string(getpid());
  const fs::path file = fs::path(QCoreApplication::applicationDirPath().toStdString()) / formName;
  {
    CPlexmarDoc doc;
    CArchive ar;
    doc.Serialize(ar);
    ASSERT_TRUE(ar.SaveToFile(file));
  }
  EXPECT_EQ(app.ShowForm("NoSuchForm-" + std::to_string(getpid())), 0);
  EXPECT_EQ(app.HideForm(formName), 0) << "HideForm opens nothing";
  EXPECT_EQ(app.ShowForm(formName), 1);
  ASSERT_EQ(framework.FormTemplate()->DocumentCount(), 1);
  CPlexmarDoc* doc = framework.FormTemplate()->Document(0);
  EXPECT_EQ(app.HideForm(QString::fromStdString(formName).toUpper().toStdString()), 1);
  EXPECT_TRUE(framework.FormTemplate()->FrameOf(*doc)->isHidden());
  EXPECT_EQ(app.ShowForm(QString::fromStdString(formName).toLower().toStdString()), 1);
  EXPECT_FALSE(framework.FormTemplate()->FrameOf(*doc)->isHidden());
  EXPECT_EQ(framework.FormTemplate()->DocumentCount(), 1) << "found open, not opened again";

  doc->SetTitle("Tank Farm");
  EXPECT_EQ(framework.FormTemplate()->FrameOf(*doc)->windowTitle(), "Tank Farm");
  EXPECT_EQ(app.HideForm("tank farm"), 1);
  framework.FormTemplate()->CloseAllDocuments();
  EXPECT_EQ(app.HideForm("Tank Farm"), 0) << "closed, the new title is gone with it";
  EXPECT_EQ(app.ShowForm(formName), 1) << "and the file name finds it again";
  framework.FormTemplate()->CloseAllDocuments();

  // An operator's click on a hot text whose block shows the form opens it
  // from its file beside the program.
  {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = "Go";
    auto entry = std::make_unique<CLogicEntry>();
    entry->m_nType = kLogicFormShowHide;
    entry->m_nOperation = 1;
    entry->m_strFormName = formName;
    block->m_entries.push_back(std::move(entry));
    app.m_logicBlocks.push_back(std::move(block));
  }
  const fs::path mainFile = fs::path(pattern) / "Main";
  {
    CPlexmarDoc doc;
    auto hot = std::make_unique<CMMI_HotTxtItem>();
    hot->m_nType = kItemHotText;
    hot->m_rect = {20, 20, 90, 40};
    hot->m_strText = "Go";
    hot->m_strLogicBlock = "Go";
    doc.m_items.push_back(std::move(hot));
    CArchive ar;
    doc.Serialize(ar);
    ASSERT_TRUE(ar.SaveToFile(mainFile));
  }
  ASSERT_TRUE(framework.FormTemplate()->OpenDocumentFile(mainFile.string()));
  CPlexmarDoc* mainDoc = framework.FormTemplate()->FindDocument("Main");
  ASSERT_NE(mainDoc, nullptr);
  CPlexmarView* view = framework.FormTemplate()->FrameOf(*mainDoc)->View();
  view->window()->show();
  QTest::mousePress(view, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(framework.FormTemplate()->DocumentCount(), 1) << "nothing on the press";
  QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(framework.FormTemplate()->DocumentCount(), 2);
  EXPECT_NE(framework.FormTemplate()->FindDocument(formName), nullptr);
  app.m_logicBlocks.clear();
  framework.FormTemplate()->CloseAllDocuments();
  fs::remove(file);
  framework.ExitFramework();
  fs::remove_all(pattern);
}

}  // namespace
