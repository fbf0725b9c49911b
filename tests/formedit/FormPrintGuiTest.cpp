// Printing a form: the items as the view draws them, on one page scaled to
// fit; checked by printing to PDF and reading the page back with pdftoppm,
// and through the print preview, which draws the same page.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>

#include "FormEditGuiSupport.h"
#include "forms/FormPrinting.h"
#include "forms/MMI_Items.h"
#include "forms/PlexmarDoc.h"

using namespace formedit_test;

namespace {

class FormPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    auto fill = std::make_unique<CMMI_RectItem>();
    fill->m_nType = kItemRect;
    fill->m_rect = {0, 0, 200, 150};  // the left half of a 400 x 300 form
    fill->m_bTransparent = 0;
    fill->m_crFill = 0xFF0000;  // blue
    blue = fill.get();
    doc.m_items.push_back(std::move(fill));
    auto text = std::make_unique<CMMI_TxtItem>();
    text->m_nType = kItemText;
    text->m_rect = {250, 200, 390, 230};
    text->m_strText = "Printed";
    doc.m_items.push_back(std::move(text));
    doc.SetBackground(0x00FFFF);  // yellow
  }
  CPlexmarDoc doc;
  CMMI_RectItem* blue = nullptr;
};

// The share of pixels in a region of `image` close to `color`.
double Share(const QImage& image, QRect region, QColor color) {
  int hits = 0, total = 0;
  for (int y = region.top(); y <= region.bottom(); ++y)
    for (int x = region.left(); x <= region.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      ++total;
      if (std::abs(c.red() - color.red()) < 40 && std::abs(c.green() - color.green()) < 40 &&
          std::abs(c.blue() - color.blue()) < 40)
        ++hits;
    }
  return total > 0 ? static_cast<double>(hits) / total : 0.0;
}

TEST_F(FormPrint, APdfPageHoldsTheItemsScaledToFitAndCentred) {
  const QString pdf = ShotDir() + "/form-print.pdf";
  QFile::remove(pdf);
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(pdf);
  printer.setPageOrientation(QPageLayout::Landscape);
  blue->m_bSelected = 1;  // a dragged item still prints as itself
  ASSERT_TRUE(PrintForm(doc, QSize(400, 300), printer));
  EXPECT_EQ(blue->m_bSelected, 1);
  EXPECT_EQ(blue->m_bDirty, 1) << "the screen draws it again";

  const QString base = ShotDir() + "/form-print";
  QProcess pdftoppm;
  pdftoppm.start("pdftoppm", {"-png", "-r", "40", "-singlefile", pdf, base});
  ASSERT_TRUE(pdftoppm.waitForFinished(30000));
  ASSERT_EQ(pdftoppm.exitCode(), 0) << pdftoppm.readAllStandardError().toStdString();
  QImage page(base + ".png");
  ASSERT_FALSE(page.isNull());
  // One page, landscape: the 4:3 form fills the height and is centred.
  ASSERT_GT(page.width(), page.height());
  const QRect printable = [&] {
    int left = page.width(), right = -1, top = page.height(), bottom = -1;
    for (int y = 0; y < page.height(); ++y)
      for (int x = 0; x < page.width(); ++x)
        if (page.pixelColor(x, y) != QColor(Qt::white)) {
          left = std::min(left, x), right = std::max(right, x);
          top = std::min(top, y), bottom = std::max(bottom, y);
        }
    return QRect(QPoint(left, top), QPoint(right, bottom));
  }();
  ASSERT_TRUE(printable.isValid()) << "the page is not empty";
  EXPECT_NEAR(printable.width() / static_cast<double>(printable.height()), 4.0 / 3.0, 0.05);
  EXPECT_NEAR(printable.center().x(), page.width() / 2, page.width() / 50);
  const int w = printable.width(), h = printable.height();
  const QRect topLeft(printable.left() + w / 20, printable.top() + h / 20, w / 2 - w / 10, h / 2 - h / 10);
  const QRect bottomRight(printable.left() + w / 2 + w / 20, printable.top() + h / 2 + h / 20, w / 10, h / 10);
  EXPECT_GT(Share(page, topLeft, QColor(0, 0, 255)), 0.95) << "the blue rectangle";
  EXPECT_GT(Share(page, bottomRight, QColor(255, 255, 0)), 0.95) << "the yellow form";
  // The text is there: dark pixels where it was drawn.
  const QRect textArea(printable.left() + w * 250 / 400, printable.top() + h * 200 / 300, w * 100 / 400, h * 20 / 300);
  EXPECT_LT(Share(page, textArea, QColor(255, 255, 0)), 0.97) << "the static text";
  // Drawn at the form's scale: the text keeps to its own corner of the form.
  const QRect belowText(printable.left() + w * 250 / 400, printable.top() + h * 240 / 300, w * 100 / 400, h * 40 / 300);
  EXPECT_GT(Share(page, belowText, QColor(255, 255, 0)), 0.99);
}

TEST_F(FormPrint, ThePreviewDrawsTheSameSinglePage) {
  QPrinter printer(QPrinter::HighResolution);
  QPrintPreviewWidget preview(&printer);
  int requests = 0;
  QObject::connect(&preview, &QPrintPreviewWidget::paintRequested, [&](QPrinter* p) {
    ++requests;
    PrintForm(doc, QSize(400, 300), *p);
  });
  preview.resize(600, 500);
  preview.show();
  preview.updatePreview();
  QApplication::processEvents();
  EXPECT_GE(requests, 1);
  EXPECT_EQ(preview.pageCount(), 1);
  EXPECT_TRUE(preview.grab().save(ShotDir() + "/form-print-preview.png"));
}

TEST_F(FormPrint, ItemsBeyondTheClientAreaWidenWhatIsPrinted) {
  EXPECT_EQ(FormPrintArea(doc, QSize(400, 300)), QRect(0, 0, 400, 300));
  blue->m_rect = {-50, 10, 600, 40};
  EXPECT_EQ(FormPrintArea(doc, QSize(400, 300)), QRect(QPoint(-50, 0), QPoint(600, 299)));
  CPlexmarDoc empty;
  EXPECT_EQ(FormPrintArea(empty, QSize(0, 0)), QRect(0, 0, 1, 1)) << "never nothing to scale";
}

}  // namespace
