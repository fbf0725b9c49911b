// One refresh tick of a form with 500 data values: every item's OnRefresh,
// then the paint without erasing, with none, 10 and all 500 values changing,
// against a full repaint (erase and draw everything) of the same form in the
// same run. Drawing goes into the view's off-screen canvas, as on screen.
#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "forms/FormCanvas.h"
#include "forms/MMI_Items.h"
#include "forms/PlexmarDoc.h"

namespace {

constexpr int kItems = 500;
constexpr int kColumns = 20;
constexpr int kTicks = 200;
constexpr int kRate = 1000;

struct Result {
  double drawsPerTick = 0;
  double refreshMicros = 0;  // the items' OnRefresh
  double paintMicros = 0;    // the paint that follows
  double Total() const { return refreshMicros + paintMicros; }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// `changing` tags get a new value before each tick; -1 is the full repaint.
Result Run(CPlexmarApp& app, CPlexmarDoc& doc, CFormCanvas& canvas, int changing, int& serial) {
  canvas.RequestErase();
  canvas.Update(doc);
  long draws = 0;
  std::vector<double> refresh, paint;
  for (int tick = 0; tick < kTicks; ++tick) {
    for (int i = 0; i < std::max(changing, 0); ++i)
      app.m_tags[static_cast<size_t>(i * (kItems / std::max(changing, 1)))]->m_value = MakeVariantI4(++serial);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    if (changing < 0) {
      canvas.RequestErase();
    } else {
      for (auto& item : doc.m_items) item->OnRefresh(kRate);
    }
    const auto refreshed = Clock::now();
    draws += canvas.Update(doc);
    refresh.push_back(std::chrono::duration<double, std::micro>(refreshed - start).count());
    paint.push_back(std::chrono::duration<double, std::micro>(Clock::now() - refreshed).count());
  }
  return {static_cast<double>(draws) / kTicks, Median(refresh), Median(paint)};
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication qapp(argc, argv);
  CPlexmarApp app;
  CPlexmarDoc doc;
  for (int i = 0; i < kItems; ++i) {
    auto tag = std::make_unique<CExchangeTag>("T" + std::to_string(i));
    tag->m_value = MakeVariantI4(1000 + i);
    app.m_tags.push_back(std::move(tag));
    auto item = std::make_unique<CMMI_TagItem>();
    item->m_nType = kItemTag;
    item->m_strTag = "T" + std::to_string(i);
    item->m_bTransparent = 0;
    const int x = (i % kColumns) * 70, y = (i / kColumns) * 18;
    item->m_rect = {x, y, x + 60, y + 16};
    doc.m_items.push_back(std::move(item));
  }
  CFormCanvas canvas;
  canvas.Resize(QSize(kColumns * 70, (kItems / kColumns) * 18));
  int serial = 0;

  const Result full = Run(app, doc, canvas, -1, serial);
  std::printf("form of %d data values, %d ticks each, median time per tick\n", kItems, kTicks);
  std::printf("%-24s %10s %12s %10s %10s %12s\n", "tick", "Draw calls", "refresh us", "paint us", "total us",
              "paint/full");
  auto row = [&](const char* what, const Result& r) {
    std::printf("%-24s %10.1f %12.1f %10.1f %10.1f %12.4f\n", what, r.drawsPerTick, r.refreshMicros, r.paintMicros,
                r.Total(), r.paintMicros / full.paintMicros);
  };
  row("unchanged", Run(app, doc, canvas, 0, serial));
  row("10 values change", Run(app, doc, canvas, 10, serial));
  row("all 500 values change", Run(app, doc, canvas, kItems, serial));
  row("full repaint (peer)", full);
  std::printf("10 of %d is %.4f of the items\n", kItems, 10.0 / kItems);
  return 0;
}
