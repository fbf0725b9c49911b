// The lock's rules without windows: two equal entries lock, an empty first
// entry or a Cancel changes nothing, passwords compare exactly.
#include <gtest/gtest.h>

#include <deque>

#include "core/HostUi.h"
#include "core/PlexmarApp.h"
#include "tags/Lock.h"

namespace {

class Host : public IHostUi {
 public:
  void MessageBox(const std::string& text) override { messages.push_back(text); }
  int ShowForm(const std::string&) override { return 0; }
  int HideForm(const std::string&) override { return 0; }
  std::vector<std::string> messages;
};

AskPasswordFn Answers(std::deque<std::optional<std::string>> answers, std::vector<std::string>* captions) {
  auto queue = std::make_shared<std::deque<std::optional<std::string>>>(std::move(answers));
  return [queue, captions](const char* caption) -> std::optional<std::string> {
    captions->push_back(caption);
    if (queue->empty()) return std::nullopt;
    auto answer = queue->front();
    queue->pop_front();
    return answer;
  };
}

}  // namespace

TEST(Lock, LockNeedsTwoEqualNonEmptyEntries) {
  CPlexmarApp app;
  Host host;
  app.SetHostUi(&host);
  std::vector<std::string> captions;

  LockConfiguration(app, Answers({std::string()}, &captions));
  EXPECT_EQ(captions, (std::vector<std::string>{"Enter Password"})) << "no second question";
  LockConfiguration(app, Answers({std::nullopt}, &captions));
  LockConfiguration(app, Answers({std::string("a"), std::nullopt}, &captions));
  EXPECT_EQ(app.m_bLocked, 0);
  EXPECT_TRUE(host.messages.empty());

  LockConfiguration(app, Answers({std::string("Valve"), std::string("valve")}, &captions));
  EXPECT_EQ(host.messages, (std::vector<std::string>{"Password Entry Verification Failed"}));
  EXPECT_EQ(app.m_bLocked, 0);
  EXPECT_TRUE(app.m_strPassword.empty());

  captions.clear();
  LockConfiguration(app, Answers({std::string("Valve"), std::string("Valve")}, &captions));
  EXPECT_EQ(captions, (std::vector<std::string>{"Enter Password", "ReEnter Password for Verification"}));
  EXPECT_EQ(app.m_bLocked, 1);
  EXPECT_EQ(app.m_strPassword, "Valve");
  EXPECT_FALSE(IsLockEnabled(app));
  EXPECT_TRUE(IsUnlockEnabled(app));
  app.SetHostUi(nullptr);
}

TEST(Lock, UnlockComparesExactly) {
  CPlexmarApp app;
  Host host;
  app.SetHostUi(&host);
  app.m_bLocked = 1;
  app.m_strPassword = "Valve";
  std::vector<std::string> captions;
  UnlockConfiguration(app, Answers({std::nullopt}, &captions));
  EXPECT_EQ(app.m_bLocked, 1);
  for (const char* wrong : {"valve", "Valve ", ""}) {
    UnlockConfiguration(app, Answers({std::string(wrong)}, &captions));
    EXPECT_EQ(app.m_bLocked, 1) << wrong;
  }
  EXPECT_EQ(host.messages.size(), 3u);
  EXPECT_EQ(host.messages[0], "Incorrect Password!");
  UnlockConfiguration(app, Answers({std::string("Valve")}, &captions));
  EXPECT_EQ(app.m_bLocked, 0);
  EXPECT_TRUE(IsLockEnabled(app));
  app.SetHostUi(nullptr);
}
